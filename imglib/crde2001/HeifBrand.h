#pragma once

// The HEIF family by its ftyp box. Inline: format detection in the codec
// module needs it, and so does the HEIF reader, which lives in a module of
// its own.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace crde {

namespace heif_brand {

inline uint32_t BigEndian32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}

// ftyp brands: HEVC pictures, AVIF pictures, and images of any codec.
constexpr const char* kHevcBrands[] = {"heic", "heix", "hevc", "hevx", "heim", "heis"};
constexpr const char* kAvifBrands[] = {"avif", "avis"};
constexpr const char* kImageBrands[] = {"mif1", "msf1"};

template <size_t N>
bool AnyOf(const uint8_t* brand, const char* const (&brands)[N])
{
    return std::any_of(brands, brands + N, [brand](const char* b) { return std::memcmp(brand, b, 4) == 0; });
}

}  // namespace heif_brand

// An ISO base media file starting with its ftyp box: "HEIF" or "AVIF" by the
// major brand, else by the compatible ones (an AVIF brand there wins over
// the general image brands that come with it), or "".
inline std::string HeifBrand(const uint8_t* data, size_t size)
{
    using namespace heif_brand;
    if (size < 16 || std::memcmp(data + 4, "ftyp", 4) != 0)
        return {};
    if (AnyOf(data + 8, kAvifBrands))
        return "AVIF";
    if (AnyOf(data + 8, kHevcBrands))
        return "HEIF";
    bool heif = AnyOf(data + 8, kImageBrands);
    const size_t end = std::min<size_t>(size, BigEndian32(data));
    for (size_t at = 16; at + 4 <= end; at += 4) {
        if (AnyOf(data + at, kAvifBrands))
            return "AVIF";
        heif = heif || AnyOf(data + at, kHevcBrands) || AnyOf(data + at, kImageBrands);
    }
    return heif ? "HEIF" : "";
}

}  // namespace crde
