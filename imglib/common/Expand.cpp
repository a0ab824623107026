#include "Convert.h"

#include "Dib.h"

namespace imglib {

namespace {

// Index of pixel x in a row of `bits` bits per pixel (1, 4 or 8), leftmost
// pixel in the high bits.
inline int IndexAt(const uint8_t* row, int32_t x, int bits)
{
    switch (bits) {
    case 1:
        return (row[x >> 3] >> (7 - (x & 7))) & 1;
    case 4:
        return (x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4);
    default:
        return row[x];
    }
}

// 5 bits to 8, so that 31 becomes 255.
inline uint8_t Widen5(unsigned v)
{
    return static_cast<uint8_t>((v << 3) | (v >> 2));
}

}  // namespace

HDIB ExpandTo24(HDIB dib)
{
    const DibView in(dib);
    if (!in.Valid() || in.Header().biCompression != 0)
        return nullptr;
    HDIB result = CreateDib(in.Width(), in.Height(), 24);
    if (!result)
        return nullptr;
    const DibView out(result);
    const int bits = in.Bits();
    const RgbQuad* palette = in.Palette();
    const int colours = in.Colours();
    const int32_t width = in.Width();
    for (int32_t y = 0; y < in.Height(); ++y) {
        const uint8_t* source = in.Row(y);
        uint8_t* target = out.Row(y);
        for (int32_t x = 0; x < width; ++x) {
            uint8_t* pixel = target + 3 * static_cast<int64_t>(x);
            switch (bits) {
            case 16: {
                const unsigned v = source[2 * x] | source[2 * x + 1] << 8;
                pixel[0] = Widen5(v & 0x1F);
                pixel[1] = Widen5((v >> 5) & 0x1F);
                pixel[2] = Widen5((v >> 10) & 0x1F);
                break;
            }
            case 24:
                pixel[0] = source[3 * static_cast<int64_t>(x)];
                pixel[1] = source[3 * static_cast<int64_t>(x) + 1];
                pixel[2] = source[3 * static_cast<int64_t>(x) + 2];
                break;
            case 32:
                pixel[0] = source[4 * static_cast<int64_t>(x)];
                pixel[1] = source[4 * static_cast<int64_t>(x) + 1];
                pixel[2] = source[4 * static_cast<int64_t>(x) + 2];
                break;
            default: {
                // An index past the table is black, as the block is zero-filled.
                const int index = IndexAt(source, x, bits);
                if (index < colours) {
                    pixel[0] = palette[index].blue;
                    pixel[1] = palette[index].green;
                    pixel[2] = palette[index].red;
                }
                break;
            }
            }
        }
    }
    return result;
}

HDIB ExpandIndexed(HDIB dib, int bits)
{
    const DibView in(dib);
    if (!in.Valid() || in.Header().biCompression != 0)
        return nullptr;
    const int have = in.Bits();
    if (!((have == 1 && (bits == 4 || bits == 8)) || (have == 4 && bits == 8)))
        return nullptr;
    HDIB result = CreateDib(in.Width(), in.Height(), bits);
    if (!result)
        return nullptr;
    const DibView out(result);
    std::copy_n(in.Palette(), std::min(in.Colours(), out.Colours()), out.Palette());
    const int32_t width = in.Width();
    for (int32_t y = 0; y < in.Height(); ++y) {
        const uint8_t* source = in.Row(y);
        uint8_t* target = out.Row(y);
        for (int32_t x = 0; x < width; ++x) {
            const auto index = static_cast<uint8_t>(IndexAt(source, x, have));
            if (bits == 8)
                target[x] = index;
            else
                target[x >> 1] |= static_cast<uint8_t>((x & 1) ? index : index << 4);
        }
    }
    return result;
}

}  // namespace imglib
