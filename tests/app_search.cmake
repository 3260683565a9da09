tarjetas_test(test_window_search SOURCES app/test_window_search.cpp LIBS app TIMEOUT 120 BOTH_ENGINES)
