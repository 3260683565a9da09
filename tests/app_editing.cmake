tarjetas_test(test_window_editing SOURCES app/test_window_editing.cpp LIBS app Qt6::Sql TIMEOUT 120 BOTH_ENGINES)
