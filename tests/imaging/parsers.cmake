# The BMP, TGA and PCX decoders, our own parsers, against pictures and
# expected pixels made by tests/data/make-parsers.
snimkorez_add_test(crde_parsers_test
  SOURCES parsers_test.cpp
  LIBRARIES crde2001_objects
  LABELS imaging)
target_compile_definitions(crde_parsers_test PRIVATE SNIMKOREZ_TEST_DATA="${SNIMKOREZ_TEST_DATA}")
