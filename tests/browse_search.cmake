find_package(SQLite3 REQUIRED)
tarjetas_test(test_search_index SOURCES test_search_index.cpp LIBS store SQLite::SQLite3 Qt6::Sql
              BOTH_ENGINES)
