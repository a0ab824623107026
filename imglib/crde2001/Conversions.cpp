// Depth conversion entries and the run-length unpacker.
#include "Convert.h"
#include "Dib.h"
#include "Guard.h"

namespace {

// Pixel writer over an uncompressed block; anything outside the picture is
// dropped, which is how hostile runs and deltas are clipped.
class Canvas {
public:
    Canvas(const imglib::DibView& view, int bits) : m_view(view), m_bits(bits) {}

    void Put(int64_t x, int64_t line, unsigned index) const
    {
        if (x < 0 || x >= m_view.Width() || line < 0 || line >= m_view.Height())
            return;
        // Run-length lines count from the bottom of the picture.
        uint8_t* row = m_view.Row(static_cast<int32_t>(m_view.Height() - 1 - line));
        if (m_bits == 8) {
            row[x] = static_cast<uint8_t>(index);
            return;
        }
        uint8_t& byte = row[x >> 1];
        byte = (x & 1) ? static_cast<uint8_t>((byte & 0xF0) | (index & 0x0F))
                       : static_cast<uint8_t>((byte & 0x0F) | (index & 0x0F) << 4);
    }

private:
    const imglib::DibView& m_view;
    int m_bits;
};

void Unpack(const uint8_t* data, size_t size, int bits, const Canvas& canvas, int32_t height)
{
    int64_t x = 0;
    int64_t line = 0;
    size_t at = 0;
    while (at + 2 <= size && line < height) {
        const unsigned count = data[at];
        const unsigned value = data[at + 1];
        at += 2;
        if (count > 0) {
            // Encoded run: one index (RLE8) or two alternating (RLE4).
            for (unsigned i = 0; i < count; ++i) {
                const unsigned index = bits == 8 ? value : ((i & 1) ? (value & 0x0F) : (value >> 4));
                canvas.Put(x + i, line, index);
            }
            x += count;
            continue;
        }
        switch (value) {
        case 0:  // end of line
            x = 0;
            ++line;
            break;
        case 1:  // end of picture
            return;
        case 2:  // delta
            if (at + 2 > size)
                return;
            x += data[at];
            line += data[at + 1];
            at += 2;
            break;
        default: {  // absolute run of `value` pixels, padded to 16 bits
            const size_t bytes = bits == 8 ? value : (value + 1) / 2;
            for (unsigned i = 0; i < value; ++i) {
                const size_t from = bits == 8 ? at + i : at + i / 2;
                if (from >= size)
                    return;
                const unsigned index =
                    bits == 8 ? data[from] : ((i & 1) ? (data[from] & 0x0F) : (data[from] >> 4));
                canvas.Put(x + i, line, index);
            }
            x += value;
            at += (bytes + 1) & ~static_cast<size_t>(1);
            break;
        }
        }
    }
}

HDIB UnpackRunLength(HDIB dib)
{
    const imglib::DibView in(dib);
    if (!in.Valid())
        return nullptr;
    const uint32_t compression = in.Header().biCompression;
    const int bits = in.Bits();
    // Run-length pictures are stored bottom-up only.
    if (!((compression == 1 && bits == 8) || (compression == 2 && bits == 4)) ||
        in.Header().biHeight <= 0)
        return nullptr;
    HDIB result = imglib::CreateDib(in.Width(), in.Height(), bits, in.Colours());
    if (!result)
        return nullptr;
    const imglib::DibView out(result);
    std::copy_n(in.Palette(), in.Colours(), out.Palette());
    const size_t offset = static_cast<size_t>(in.Pixels() - reinterpret_cast<uint8_t*>(&in.Header()));
    size_t size = GlobalSize(dib) - offset;
    if (in.Header().biSizeImage != 0)
        size = std::min<size_t>(size, in.Header().biSizeImage);
    Unpack(in.Pixels(), size, bits, Canvas(out, bits), in.Height());
    return result;
}

// An entry takes only the depth its name gives.
template <class Convert>
HDIB FromDepth(HDIB dib, int bits, Convert convert)
{
    return imglib::Guard<HDIB>(nullptr, [&]() -> HDIB {
        {
            const imglib::DibView view(dib);
            if (!view.Valid() || view.Bits() != bits)
                return nullptr;
        }
        return convert(dib);
    });
}

HDIB To24(HDIB dib)
{
    return imglib::ExpandTo24(dib);
}

HDIB To4(HDIB dib)
{
    return imglib::ExpandIndexed(dib, 4);
}

HDIB To8(HDIB dib)
{
    return imglib::ExpandIndexed(dib, 8);
}

}  // namespace

extern "C" IMGLIB_API HDIB DIB1to4(HDIB dib) { return FromDepth(dib, 1, To4); }
extern "C" IMGLIB_API HDIB DIB1To8(HDIB dib) { return FromDepth(dib, 1, To8); }
extern "C" IMGLIB_API HDIB DIB1To24(HDIB dib) { return FromDepth(dib, 1, To24); }
extern "C" IMGLIB_API HDIB DIB4To8(HDIB dib) { return FromDepth(dib, 4, To8); }
extern "C" IMGLIB_API HDIB DIB4To24(HDIB dib) { return FromDepth(dib, 4, To24); }
extern "C" IMGLIB_API HDIB DIB16To24(HDIB dib) { return FromDepth(dib, 16, To24); }
extern "C" IMGLIB_API HDIB DIB32To24(HDIB dib) { return FromDepth(dib, 32, To24); }

extern "C" IMGLIB_API HDIB DibtoDdb(HDIB dib)
{
    return imglib::Guard<HDIB>(nullptr, [&] { return UnpackRunLength(dib); });
}
