tarjetas_test(test_certificate SOURCES test_certificate.cpp LIBS output)
