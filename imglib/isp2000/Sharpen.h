#pragma once

// Better's sharpening of rows [begin, end) of a whole 24-bit picture, for
// callers that make the picture a few rows at a time: a row reads the rows
// two above and two below it.

#include "Dib.h"

namespace isp {

void SharpenAll(const imglib::DibView& in, const imglib::DibView& out, int32_t amount, int64_t begin, int64_t end);

}  // namespace isp
