#include "imglib.h"

extern "C" IMGLIB_API HDIB ReduceDib(HDIB, int32_t, int32_t, int32_t, int32_t, int32_t, void*, ILProgress)
{
    return nullptr;
}
