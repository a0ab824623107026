#include "Dib.h"

#include "Convert.h"

namespace imglib {

bool DecodedSizeAllowed(int64_t width, int64_t height)
{
    if (width <= 0 || height <= 0 || width > INT32_MAX || height > INT32_MAX)
        return false;
    return static_cast<uint64_t>(Stride(width, 24)) * static_cast<uint64_t>(height) <=
           IL_MAX_DECODED_BYTES;
}

HDIB CreateDib(int32_t width, int32_t height, int bits, int colours)
{
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return nullptr;
    if (!DecodedSizeAllowed(width, height))
        return nullptr;
    if (colours < 0)
        colours = DefaultColours(bits);
    if (colours > 256)
        return nullptr;
    const uint64_t image = static_cast<uint64_t>(imglib::Stride(width, bits)) * static_cast<uint64_t>(height);
    const uint64_t total = sizeof(BitmapInfoHeader) + 4u * static_cast<uint64_t>(colours) + image;
    HDIB dib = GlobalAlloc(GHND, static_cast<size_t>(total));
    if (!dib)
        return nullptr;
    auto* header = static_cast<BitmapInfoHeader*>(GlobalLock(dib));
    header->biSize = sizeof(BitmapInfoHeader);
    header->biWidth = width;
    header->biHeight = height;
    header->biPlanes = 1;
    header->biBitCount = static_cast<uint16_t>(bits);
    header->biCompression = 0;
    header->biSizeImage = static_cast<uint32_t>(image);
    header->biXPelsPerMeter = kPelsPerMeter;
    header->biYPelsPerMeter = kPelsPerMeter;
    header->biClrUsed = static_cast<uint32_t>(colours);
    header->biClrImportant = static_cast<uint32_t>(colours);
    GlobalUnlock(dib);
    return dib;
}

DibView::DibView(HDIB dib) : m_dib(dib)
{
    auto* header = static_cast<BitmapInfoHeader*>(GlobalLock(dib));
    if (!header)
        return;
    const size_t size = GlobalSize(dib);
    const auto fail = [this] { GlobalUnlock(m_dib); };
    if (size < sizeof(BitmapInfoHeader) || header->biSize != sizeof(BitmapInfoHeader) ||
        header->biWidth <= 0 || header->biHeight == 0 || header->biHeight == INT32_MIN) {
        fail();
        return;
    }
    const int bits = header->biBitCount;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
        fail();
        return;
    }
    const int colours = header->biClrUsed != 0 ? static_cast<int>(std::min<uint32_t>(header->biClrUsed, 256))
                                               : DefaultColours(bits);
    const int64_t height = header->biHeight < 0 ? -static_cast<int64_t>(header->biHeight) : header->biHeight;
    const int64_t stride = imglib::Stride(header->biWidth, bits);
    const uint64_t needed = sizeof(BitmapInfoHeader) + 4u * static_cast<uint64_t>(colours) +
                            (header->biCompression == 0 ? static_cast<uint64_t>(stride) * static_cast<uint64_t>(height) : 0);
    if (needed > size) {
        fail();
        return;
    }
    m_header = header;
    m_height = static_cast<int32_t>(height);
    m_topDown = header->biHeight < 0;
    m_colours = colours;
    m_stride = stride;
    m_pixels = reinterpret_cast<uint8_t*>(header) + sizeof(BitmapInfoHeader) + 4 * colours;
}

DibView::~DibView()
{
    if (m_header)
        GlobalUnlock(m_dib);
}

RgbQuad* DibView::Palette() const noexcept
{
    return m_header ? reinterpret_cast<RgbQuad*>(reinterpret_cast<uint8_t*>(m_header) + sizeof(BitmapInfoHeader))
                    : nullptr;
}

uint8_t* DibView::Row(int32_t y) const noexcept
{
    const int64_t stored = m_topDown ? y : static_cast<int64_t>(m_height) - 1 - y;
    return m_pixels + stored * m_stride;
}

HDIB ToRequestedDepth(HDIB dib, int bits, bool dither)
{
    if (bits == 0)
        bits = 4;
    if (bits != 1 && bits != 4 && bits != 8)
        bits = 24;
    int have = 0;
    {
        const DibView view(dib);
        if (!view.Valid() || view.Header().biCompression != 0)
            return nullptr;
        have = view.Bits();
    }
    if (have == bits)
        return dib;
    if (bits == 24)
        return ExpandTo24(dib);
    if (have > bits)
        return ReduceColours(dib, bits, dither);
    return ExpandIndexed(dib, bits);
}

}  // namespace imglib
