# The processing module: scaling, sharpening, colour reduction.
snimkorez_add_test(isp_test
  SOURCES isp_test.cpp
  LIBRARIES isp2000_objects Qt6::Gui
  LABELS imaging)

# Reduction of real photographs against references made by tests/data/make-scale.
snimkorez_add_test(scale_quality_test
  SOURCES scale_quality_test.cpp
  LIBRARIES isp2000_objects Qt6::Gui
  LABELS imaging)
target_compile_definitions(scale_quality_test PRIVATE SNIMKOREZ_TEST_DATA="${SNIMKOREZ_TEST_DATA}")
