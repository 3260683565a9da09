tarjetas_test(test_webcard SOURCES test_webcard.cpp LIBS intake)
tarjetas_test(test_intake SOURCES test_intake.cpp LIBS intake BOTH_ENGINES)
