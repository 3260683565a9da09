tarjetas_test(test_editing SOURCES test_editing.cpp support/FakeEntryForm.h LIBS editing store
  TIMEOUT 120 BOTH_ENGINES)
