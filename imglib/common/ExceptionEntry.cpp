// Each module exports its own ILTakeException; this file is built into both.
#include "Guard.h"
#include "imglib.h"

extern "C" IMGLIB_API int ILTakeException(void)
{
    return imglib::TakeException();
}
