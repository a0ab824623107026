#pragma once

// Packed DIB blocks as the modules make and read them.

#include "imglib.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <algorithm>

namespace imglib {

#pragma pack(push, 1)
struct BitmapInfoHeader {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
};
#pragma pack(pop)
static_assert(sizeof(BitmapInfoHeader) == 40);

struct RgbQuad {
    uint8_t blue, green, red, reserved;
};

constexpr int32_t kPelsPerMeter = 2953;  // 75 dots per inch

// Bytes of one row: whole 32-bit words.
[[nodiscard]] constexpr int64_t Stride(int64_t width, int bits)
{
    return ((width * bits + 31) / 32) * 4;
}

// Colour-table entries a block of this depth carries when biClrUsed is 0.
[[nodiscard]] constexpr int DefaultColours(int bits)
{
    return bits <= 8 ? (1 << bits) : 0;
}

// False when a width × height picture is not one we decode: not positive, or
// 24-bit rows over IL_MAX_DECODED_BYTES.
[[nodiscard]] bool DecodedSizeAllowed(int64_t width, int64_t height);

// A new zero-filled, unlocked block: header, `colours` table entries (-1: the
// depth's default), height rows of the depth's stride. Null when the size is
// not allowed or memory runs out. Depth 1, 4, 8, 16, 24 or 32.
[[nodiscard]] HDIB CreateDib(int32_t width, int32_t height, int bits, int colours = -1);

// A locked view of a block for the lifetime of the object. Valid() is false
// for a null handle or a block too small for what its header says (such a
// block is never read past its end).
class DibView {
public:
    explicit DibView(HDIB dib);
    ~DibView();
    DibView(const DibView&) = delete;
    DibView& operator=(const DibView&) = delete;

    [[nodiscard]] bool Valid() const noexcept { return m_header != nullptr; }
    [[nodiscard]] BitmapInfoHeader& Header() const noexcept { return *m_header; }
    [[nodiscard]] int32_t Width() const noexcept { return m_header->biWidth; }
    // Positive: rows run bottom-up in the block (as blocks made here do).
    [[nodiscard]] int32_t Height() const noexcept { return m_height; }
    [[nodiscard]] int Bits() const noexcept { return m_header->biBitCount; }
    [[nodiscard]] int Colours() const noexcept { return m_colours; }
    [[nodiscard]] RgbQuad* Palette() const noexcept;
    [[nodiscard]] int64_t Stride() const noexcept { return m_stride; }
    [[nodiscard]] uint8_t* Pixels() const noexcept { return m_pixels; }
    // Row y counted from the top of the picture.
    [[nodiscard]] uint8_t* Row(int32_t y) const noexcept;

private:
    HDIB m_dib;
    BitmapInfoHeader* m_header = nullptr;
    uint8_t* m_pixels = nullptr;
    int32_t m_height = 0;
    int m_colours = 0;
    int64_t m_stride = 0;
    bool m_topDown = false;
};

// The block as `bits` bits per pixel (1, 4, 8 or 24; 0 means 4, anything
// else 24): the same handle when it already has that depth, otherwise a new
// block (the input stays). Fewer bits reduce the colours (error diffusion
// when `dither`), more bits expand them. Null on failure.
[[nodiscard]] HDIB ToRequestedDepth(HDIB dib, int bits, bool dither);

// A sample of a picture with straight (not premultiplied) alpha, laid on
// white: how the readers show transparency.
[[nodiscard]] inline uint8_t OnWhite(unsigned value, unsigned alpha)
{
    return static_cast<uint8_t>((value * alpha + 255u * (255u - alpha) + 127u) / 255u);
}

// Calls the progress callback; false when it asked to stop.
[[nodiscard]] inline bool Progress(ILProgress callback, void* control, int percent)
{
    return callback == nullptr || callback(percent, control) != 0;
}

}  // namespace imglib
