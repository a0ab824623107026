# The preview control's display: the arithmetic on its own, then pixel tests
# on grab() of a real control. The annotation calls go to the CRDE2001 module
# built at the build root.
snimkorez_add_test(preview_layout_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/preview_layout_test.cpp
  LIBRARIES snimkorez_preview
  LABELS preview)

snimkorez_add_test(preview_display_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/preview_display_test.cpp
  LIBRARIES snimkorez_preview
  LABELS preview)
target_compile_definitions(preview_display_test PRIVATE
  SNIMKOREZ_MODULE_DIR="${CMAKE_BINARY_DIR}")
add_dependencies(preview_display_test CRDE2001 ISP2000)

# Its input: pan and band arithmetic, then mouse drags and clipboard keys on
# a real control.
snimkorez_add_test(preview_input_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/preview_input_test.cpp
  LIBRARIES snimkorez_preview
  LABELS preview)
target_compile_definitions(preview_input_test PRIVATE
  SNIMKOREZ_MODULE_DIR="${CMAKE_BINARY_DIR}")
add_dependencies(preview_input_test CRDE2001 ISP2000)

# The message modes with the sample files of data/messages.
snimkorez_add_test(preview_message_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/preview_message_test.cpp
  LIBRARIES snimkorez_preview
  LABELS preview)
target_compile_definitions(preview_message_test PRIVATE
  SNIMKOREZ_MODULE_DIR="${CMAKE_BINARY_DIR}"
  SNIMKOREZ_DATA="${PROJECT_SOURCE_DIR}/data/messages")
add_dependencies(preview_message_test CRDE2001 ISP2000)
