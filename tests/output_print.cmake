tarjetas_test(test_output_print SOURCES test_output_print.cpp output_print_fixture.h LIBS output)
