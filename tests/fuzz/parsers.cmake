# Our own BMP, TGA and PCX parsers; seeds are tiny valid files.
foreach(format bmp tga pcx)
  snimkorez_add_fuzzer(fuzz_${format}
    SOURCES fuzz_${format}.cpp
    LIBRARIES crde2001_objects)
endforeach()
