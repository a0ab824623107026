# The JPEG header reader and decoder of the codec module.
snimkorez_add_fuzzer(fuzz_jpeg
  SOURCES fuzz_jpeg.cpp
  LIBRARIES crde2001_objects)
