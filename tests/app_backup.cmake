# The day's backup copy and --restaurar, in the process and through the built program.
tarjetas_test(test_backup SOURCES test_backup.cpp LIBS store Qt6::Sql TIMEOUT 180)
target_compile_definitions(test_backup PRIVATE TARJETAS_EXECUTABLE="$<TARGET_FILE:tarjetas>")
add_dependencies(test_backup tarjetas)
