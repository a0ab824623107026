// Header reading and decoding of arbitrary bytes: no crash, no read outside
// the input, no leak, and a block only on success.
#include "Formats.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

int CancelLate(int percent, void*)
{
    return percent < 90 ? 1 : 0;
}

// Touches every byte of every row it is handed.
int SumRows(const uint8_t* const* rows, int32_t count, int32_t width, int32_t, void* data)
{
    auto* sum = static_cast<unsigned*>(data);
    for (int32_t k = 0; k < count; ++k) {
        for (int32_t i = 0; i < width * 3; ++i)
            *sum += rows[k][i];
    }
    return 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    crde::ImageInfo info;
    const int16_t header = crde::InfoJpeg(data, size, info);
    // Big pictures are refused or capped by the decoder itself; the fuzzer
    // keeps to small ones so that each run stays quick.
    if (header > 0 && static_cast<int64_t>(info.width) * info.height > 4'000'000)
        return 0;
    const crde::Progress progress{nullptr, size % 7 == 0 ? CancelLate : nullptr};
    HDIB dib = reinterpret_cast<HDIB>(1);
    const int16_t result = crde::ReadJpeg(data, size, progress, &dib);
    if ((result > 0) != (dib != nullptr))
        std::abort();
    if (result > 0 && header <= 0)
        std::abort();  // what decodes must have a readable header
    GlobalFree(dib);
    // The same bytes read as rows, reduced as snimkorez-reduce asks.
    unsigned sum = 0;
    const int16_t rows = crde::ReadJpegRows(data, size, progress, 16, 16, SumRows, &sum);
    if (rows > 0 && header <= 0)
        std::abort();
    return 0;
}
