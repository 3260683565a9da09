tarjetas_test(test_window_intake SOURCES app/test_window_intake.cpp LIBS app TIMEOUT 120)
tarjetas_test(test_window_hints SOURCES app/test_window_hints.cpp LIBS app TIMEOUT 120)
# Runs the built program itself as a process.
tarjetas_test(test_program_import SOURCES app/test_program_import.cpp LIBS store TIMEOUT 120)
target_compile_definitions(test_program_import PRIVATE
  TARJETAS_EXECUTABLE="$<TARGET_FILE:tarjetas>")
add_dependencies(test_program_import tarjetas)
