tarjetas_test(test_dates SOURCES test_dates.cpp LIBS store TIMEOUT 60)
