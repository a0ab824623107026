// Arbitrary bytes through the HEIF and AVIF reader: a failure number or a
// block, never a read outside the input.
#include "Formats.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    crde::ImageInfo info;
    if (crde::InfoHeif(data, size, info) <= 0)
        return 0;
    // Pictures a few bytes can declare but take long to fill tell the fuzzer
    // nothing new; the size limit itself is covered by the tests.
    if (static_cast<int64_t>(info.width) * info.height > 1024 * 1024)
        return 0;
    HDIB dib = nullptr;
    const int16_t result = crde::ReadHeif(data, size, crde::Progress{}, &dib);
    if ((result > 0) != (dib != nullptr))
        __builtin_trap();
    GlobalFree(dib);
    return 0;
}
