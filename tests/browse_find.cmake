tarjetas_test(test_find_search SOURCES test_find_search.cpp LIBS browse)
