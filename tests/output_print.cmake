tarjetas_test(test_output_print SOURCES test_output_print.cpp output_print_fixture.h LIBS output)
tarjetas_test(test_output_pdf SOURCES test_output_pdf.cpp output_pdf_words.h output_print_fixture.h
              LIBS output)
