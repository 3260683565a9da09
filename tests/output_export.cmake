tarjetas_test(test_csv_export SOURCES test_csv_export.cpp LIBS output BOTH_ENGINES)
tarjetas_test(test_listing SOURCES test_listing.cpp LIBS output Qt6::Widgets Qt6::PrintSupport
  BOTH_ENGINES)
