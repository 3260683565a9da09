tarjetas_test(test_output_print SOURCES test_output_print.cpp output_print_fixture.h LIBS output)
tarjetas_test(test_output_pdf SOURCES test_output_pdf.cpp output_pdf_words.h output_print_fixture.h
              LIBS output)
tarjetas_test(test_output_cups SOURCES test_output_cups.cpp output_pdf_words.h
              output_print_fixture.h LIBS output TIMEOUT 180)
# A skipped run (no cupsd) must show as skipped, not as passed.
set_tests_properties(test_output_cups PROPERTIES SKIP_REGULAR_EXPRESSION "SKIP   : ")
