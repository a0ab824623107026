# The JPEG reader and writer of the codec module, against files made by
# tests/data/make-jpeg and, for the writer, Qt's own JPEG decoder.
snimkorez_add_test(crde_jpeg_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/jpeg_test.cpp
  LIBRARIES crde2001_objects Qt6::Gui
  LABELS imaging)
target_compile_definitions(crde_jpeg_test PRIVATE SNIMKOREZ_TEST_DATA="${SNIMKOREZ_TEST_DATA}")
