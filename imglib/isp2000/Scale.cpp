#include "imglib.h"

extern "C" IMGLIB_API HDIB ScaleDib(HDIB, int32_t, int32_t) { return nullptr; }
