tarjetas_test(test_history SOURCES test_history.cpp LIBS store Qt6::Sql BOTH_ENGINES)
tarjetas_test(test_window_history SOURCES app/test_window_history.cpp LIBS app Qt6::Sql TIMEOUT 120)
