tarjetas_test(test_find_search SOURCES test_find_search.cpp LIBS browse BOTH_ENGINES)
tarjetas_test(test_find_typeahead SOURCES test_find_typeahead.cpp ${CMAKE_SOURCE_DIR}/bench/Registry.cpp
              LIBS browse)
tarjetas_test(test_find_keys SOURCES test_find_keys.cpp LIBS browse TIMEOUT 120)
