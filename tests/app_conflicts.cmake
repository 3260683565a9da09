# Editar and Eliminar on a card another program changed or deleted meanwhile.
tarjetas_test(test_window_conflicts SOURCES app/test_window_conflicts.cpp LIBS app TIMEOUT 120 BOTH_ENGINES)
