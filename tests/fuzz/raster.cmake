# PNG, GIF, TIFF, HEIF (and AVIF) and WebP readers of the codec module.
foreach(format png gif tiff heif webp)
  snimkorez_add_fuzzer(fuzz_${format}
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_${format}.cpp
    LIBRARIES crde2001_objects)
endforeach()
