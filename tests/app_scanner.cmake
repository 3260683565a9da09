tarjetas_test(test_window_scanner SOURCES app/test_window_scanner.cpp LIBS app TIMEOUT 120)
