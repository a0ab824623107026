# Our own BMP, TGA and PCX parsers, one target each from one source; seeds
# are tiny valid files.
foreach(format Bmp Tga Pcx)
  string(TOLOWER ${format} lower)
  snimkorez_add_fuzzer(fuzz_${lower}
    SOURCES fuzz_own_reader.cpp
    LIBRARIES crde2001_objects)
  target_compile_definitions(fuzz_${lower} PRIVATE FUZZ_FORMAT=${format})
endforeach()
