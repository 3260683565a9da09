tarjetas_test(test_app SOURCES app/test_app.cpp LIBS app Qt6::Sql TIMEOUT 120)
tarjetas_test(test_grid SOURCES app/test_grid.cpp LIBS browse TIMEOUT 120)
