#pragma once

// Depth conversions shared by the readers and the conversion entries. Each
// returns a new unlocked block or null; the input stays as it is.

#include "imglib.h"

namespace imglib {

// Any uncompressed depth to 24 bits (indexed through its colour table; 16-bit
// as 5-5-5; 32-bit dropping the fourth byte).
[[nodiscard]] HDIB ExpandTo24(HDIB dib);

// A 1-bit block to 4 or 8 bits, or a 4-bit block to 8 bits: the same indices,
// the colour table carried over (unused entries 0).
[[nodiscard]] HDIB ExpandIndexed(HDIB dib, int bits);

// Fewer colours: 1, 4 or 8 bits from any uncompressed depth. `dither` false:
// nearest colour of the chosen palette; true: Floyd-Steinberg error diffusion.
[[nodiscard]] HDIB ReduceColours(HDIB dib, int bits, bool dither);

}  // namespace imglib
