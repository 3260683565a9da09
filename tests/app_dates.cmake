tarjetas_test(test_window_dates SOURCES app/test_window_dates.cpp LIBS app Qt6::Sql TIMEOUT 120)
