tarjetas_test(test_identifier_checks SOURCES test_identifier_checks.cpp LIBS store TIMEOUT 60)
tarjetas_test(test_identifier_hints SOURCES test_identifier_hints.cpp LIBS editing TIMEOUT 60)
