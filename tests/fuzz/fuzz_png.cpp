// Arbitrary bytes through the PNG reader: a failure number or a block, never
// a read outside the input. Each input is also tried with its chunk checksums
// made right, or the fuzzer would seldom get past them.
#include "Formats.h"

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

void Decode(const std::uint8_t* data, std::size_t size)
{
    crde::ImageInfo info;
    if (crde::InfoPng(data, size, info) <= 0)
        return;
    // Pictures a few bytes can declare but take long to fill tell the fuzzer
    // nothing new; the size limit itself is covered by the tests.
    if (static_cast<int64_t>(info.width) * info.height > 1024 * 1024)
        return;
    HDIB dib = nullptr;
    const int16_t result = crde::ReadPng(data, size, crde::Progress{}, &dib);
    if ((result > 0) != (dib != nullptr))
        __builtin_trap();
    GlobalFree(dib);
}

uint32_t BigEndian(const std::uint8_t* p)
{
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Decode(data, size);
    std::vector<std::uint8_t> fixed(data, data + size);
    bool changed = false;
    for (std::size_t at = 8; at + 12 <= fixed.size();) {
        const uint32_t length = BigEndian(&fixed[at]);
        if (length > fixed.size() - at - 12)
            break;
        const uint32_t crc = static_cast<uint32_t>(crc32(0, &fixed[at + 4], length + 4));
        std::uint8_t* stored = &fixed[at + 8 + length];
        if (BigEndian(stored) != crc) {
            for (int i = 0; i < 4; ++i)
                stored[i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
            changed = true;
        }
        at += 12 + std::size_t{length};
    }
    if (changed)
        Decode(fixed.data(), fixed.size());
    return 0;
}
