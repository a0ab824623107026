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
    return 0;
}
