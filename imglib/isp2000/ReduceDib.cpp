#include "Guard.h"
#include "ReduceColours.h"

extern "C" IMGLIB_API HDIB ReduceDib(HDIB dib, int32_t bits, int32_t dither, int32_t, int32_t, int32_t,
                                     void* data, ILProgress callback)
{
    return imglib::Guard<HDIB>(nullptr, [&] {
        return imglib::ReduceColours(dib, bits, dither != 0, callback, data);
    });
}
