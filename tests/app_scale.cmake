# The window's fast paths against plain walks over a generated registry.
tarjetas_test(test_window_scale SOURCES app/test_window_scale.cpp ${CMAKE_SOURCE_DIR}/bench/Registry.cpp
              LIBS app TIMEOUT 300)
