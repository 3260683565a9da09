# The day's backup copy and --restaurar: in the process (also run under ThreadSanitizer), and
# through the built program.
tarjetas_test(test_backup SOURCES test_backup.cpp LIBS store Qt6::Sql TIMEOUT 180)
tarjetas_test(test_program_restore SOURCES app/test_program_restore.cpp LIBS store TIMEOUT 120)
target_compile_definitions(test_program_restore PRIVATE
  TARJETAS_EXECUTABLE="$<TARGET_FILE:tarjetas>")
add_dependencies(test_program_restore tarjetas)
