# Loading by name and saving as JPEG through the imaging modules built at the
# build root. The load test carries a bitmap resource for ".RES" names.
foreach(area load save)
  snimkorez_add_test(preview_${area}_test
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/preview_${area}_test.cpp
    LIBRARIES snimkorez_preview
    LABELS preview)
  target_compile_definitions(preview_${area}_test PRIVATE
    SNIMKOREZ_MODULE_DIR="${CMAKE_BINARY_DIR}"
    SNIMKOREZ_TEST_DATA="${PROJECT_SOURCE_DIR}/tests/data")
  add_dependencies(preview_${area}_test CRDE2001 ISP2000)
endforeach()

qt_add_resources(preview_load_test preview_load_bitmaps
  PREFIX "/bitmaps"
  BASE "${PROJECT_SOURCE_DIR}/tests/data/preview"
  FILES "${PROJECT_SOURCE_DIR}/tests/data/preview/SAMPLE.bmp")
