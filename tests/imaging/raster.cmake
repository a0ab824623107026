# PNG, GIF and TIFF readers of the codec module.
snimkorez_add_test(crde_raster_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/raster_test.cpp
  LIBRARIES crde2001_objects Qt6::Gui
  LABELS imaging)
target_compile_definitions(crde_raster_test PRIVATE SNIMKOREZ_TEST_DATA="${SNIMKOREZ_TEST_DATA}")
