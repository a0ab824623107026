// Depth conversion entries and the run-length unpacker.
#include "Convert.h"
#include "Guard.h"

extern "C" IMGLIB_API HDIB DIB1to4(HDIB) { return nullptr; }
extern "C" IMGLIB_API HDIB DIB1To8(HDIB) { return nullptr; }
extern "C" IMGLIB_API HDIB DIB1To24(HDIB) { return nullptr; }
extern "C" IMGLIB_API HDIB DIB4To8(HDIB) { return nullptr; }
extern "C" IMGLIB_API HDIB DIB4To24(HDIB) { return nullptr; }
extern "C" IMGLIB_API HDIB DIB16To24(HDIB) { return nullptr; }
extern "C" IMGLIB_API HDIB DIB32To24(HDIB) { return nullptr; }
extern "C" IMGLIB_API HDIB DibtoDdb(HDIB) { return nullptr; }
