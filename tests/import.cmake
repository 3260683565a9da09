tarjetas_test(test_mdbreader SOURCES test_mdbreader.cpp LIBS import)
tarjetas_test(test_import SOURCES test_import.cpp support/PreparedRows.h LIBS import)
