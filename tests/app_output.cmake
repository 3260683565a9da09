tarjetas_test(test_window_output SOURCES app/test_window_output.cpp LIBS app TIMEOUT 120 BOTH_ENGINES)
tarjetas_test(test_window_cups SOURCES app/test_window_cups.cpp output_pdf_words.h
              output_print_fixture.h LIBS app TIMEOUT 180)
# A skipped run (no cupsd) must show as skipped, not as passed.
set_tests_properties(test_window_cups PROPERTIES SKIP_REGULAR_EXPRESSION "SKIP   : ")
