#pragma once

// The TIFF and HEIF readers live in a module of their own beside the codec
// module, opened the first time a file of theirs turns up: libtiff and
// libheif (with its HEVC and AV1 codecs) take longer to load than a small
// photo takes to reduce, and most photos are JPEGs.

#include "Formats.h"

namespace crde {

constexpr char kTiffHeifModule[] = "CRDE2001-tiff-heif.so";
constexpr char kTiffHeifEntries[] = "CRDE2001TiffHeifEntries";

struct TiffHeifEntries {
    size_t size;  // sizeof(TiffHeifEntries) as the module was built
    decltype(&InfoTiff) infoTiff;
    decltype(&ReadTiff) readTiff;
    decltype(&InfoHeif) infoHeif;
    decltype(&ReadHeif) readHeif;
};

}  // namespace crde

extern "C" typedef const crde::TiffHeifEntries* (*TiffHeifEntries_fn)();
