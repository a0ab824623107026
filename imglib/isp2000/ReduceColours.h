#pragma once

// The colour reducer of the common code (Convert.h), with the progress the
// ReduceDib entry reports.

#include "imglib.h"

namespace imglib {

// ReduceColours(dib, bits, dither) calling `callback` on the caller's thread;
// null, like any failure, when it asked to stop.
[[nodiscard]] HDIB ReduceColours(HDIB dib, int bits, bool dither, ILProgress callback, void* control);

}  // namespace imglib
