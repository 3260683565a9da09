# Another program's writes to the same registry reaching the open window.
tarjetas_test(test_window_watch SOURCES app/test_window_watch.cpp LIBS app TIMEOUT 120
  BOTH_ENGINES)
