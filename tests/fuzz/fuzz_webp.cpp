// Arbitrary bytes through the WebP reader, still pictures and animations:
// a failure number or a block, never a read outside the input. Each input
// is also tried with its RIFF size made right, or the fuzzer would seldom
// get past the container's check.
#include "Formats.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

void Decode(const std::uint8_t* data, std::size_t size)
{
    crde::ImageInfo info;
    if (crde::InfoWebp(data, size, info) <= 0)
        return;
    // Pictures a few bytes can declare but take long to fill tell the fuzzer
    // nothing new; the size limit itself is covered by the tests.
    if (static_cast<int64_t>(info.width) * info.height > 1024 * 1024)
        return;
    HDIB dib = nullptr;
    const int16_t result = crde::ReadWebp(data, size, crde::Progress{}, &dib);
    if ((result > 0) != (dib != nullptr))
        __builtin_trap();
    GlobalFree(dib);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Decode(data, size);
    if (size < 12 || size - 8 > 0xFFFFFFFFu)
        return 0;
    const auto riff = static_cast<std::uint32_t>(size - 8);
    const std::uint8_t stated[4] = {static_cast<std::uint8_t>(riff), static_cast<std::uint8_t>(riff >> 8),
                                    static_cast<std::uint8_t>(riff >> 16), static_cast<std::uint8_t>(riff >> 24)};
    if (data[4] == stated[0] && data[5] == stated[1] && data[6] == stated[2] && data[7] == stated[3])
        return 0;
    std::vector<std::uint8_t> fixed(data, data + size);
    for (int i = 0; i < 4; ++i)
        fixed[4 + static_cast<std::size_t>(i)] = stated[i];
    Decode(fixed.data(), fixed.size());
    return 0;
}
