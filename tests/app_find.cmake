tarjetas_test(test_window_find SOURCES app/test_window_find.cpp LIBS app TIMEOUT 120 BOTH_ENGINES)
