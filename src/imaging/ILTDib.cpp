#include "ILTDib.h"

#include "ErrorInvalid.h"

#include <algorithm>
#include <cstdlib>

namespace imaging {

namespace {

// |height| × stride, or -1 when that cannot be a block's image size.
int64_t ImageBytes(int32_t height, int64_t stride)
{
    const int64_t rows = std::llabs(int64_t{height});
    if (stride < 0 || (stride > 0 && rows > int64_t{UINT32_MAX} / stride))
        return -1;
    return rows * stride;
}

}  // namespace

void UnlockFully(HGLOBAL block) noexcept
{
    while (GlobalUnlock(block) > 0) {
    }
}

ILTDib::~ILTDib()
{
    LetGo();
}

void ILTDib::LetGo() noexcept
{
    if (m_ownsBlock && m_header) {
        HGLOBAL block = Handle();
        UnlockFully(block);
        GlobalFree(block);
    }
    m_header = nullptr;
    // Also when not owning: a cached palette belongs to the block it came from.
    m_palette.clear();
    m_paletteMade = false;
}

void ILTDib::Attach(void* header)
{
    if (header == m_header)
        return;
    LetGo();
    m_header = static_cast<BITMAPINFOHEADER*>(header);
}

int ILTDib::Depth() const noexcept
{
    return m_header ? m_header->biBitCount : 0;
}

int32_t ILTDib::Width() const noexcept
{
    return m_header ? m_header->biWidth : 0;
}

int32_t ILTDib::Height() const noexcept
{
    return m_header ? m_header->biHeight : 0;
}

uint32_t ILTDib::Compression() const noexcept
{
    return m_header ? m_header->biCompression : 0;
}

int64_t ILTDib::Colours() const noexcept
{
    if (!m_header)
        return 0;
    if (m_header->biClrUsed != 0)
        return m_header->biClrUsed;
    const int depth = Depth();
    if (depth == 16 || depth == 24 || depth == 32)
        return 0;
    return depth < 32 ? int64_t{1} << depth : 0;
}

int64_t ILTDib::HeaderSize() const noexcept
{
    return m_header ? 40 + 4 * Colours() : 0;
}

int64_t ILTDib::Stride() const noexcept
{
    return m_header ? DibStride(m_header->biWidth, Depth()) : 0;
}

int64_t ILTDib::TotalSize() noexcept
{
    if (!m_header)
        return 0;
    if (m_header->biSizeImage == 0) {
        const int64_t image = ImageBytes(m_header->biHeight, Stride());
        if (image > 0)
            m_header->biSizeImage = static_cast<uint32_t>(image);
    }
    return HeaderSize() + m_header->biSizeImage;
}

uint8_t* ILTDib::Pixels() const noexcept
{
    return m_header ? reinterpret_cast<uint8_t*>(m_header) + HeaderSize() : nullptr;
}

bool ILTDib::HoldsPixels(size_t blockSize) noexcept
{
    if (!m_header || m_header->biCompression != kBiRgb || m_header->biWidth <= 0 ||
        m_header->biHeight == 0 || m_header->biHeight == INT32_MIN)
        return false;
    const int depth = Depth();
    if (depth != 1 && depth != 4 && depth != 8 && depth != 16 && depth != 24 && depth != 32)
        return false;
    const int64_t image = ImageBytes(m_header->biHeight, Stride());
    return image >= 0 && TotalSize() <= static_cast<int64_t>(blockSize) &&
           int64_t{m_header->biSizeImage} >= image;
}

int ILTDib::ColoursForDepth(int depth) noexcept
{
    switch (depth) {
    case 1:
        return 2;
    case 4:
        return 16;
    case 8:
        return 256;
    default:
        return 0;
    }
}

const QList<QRgb>& ILTDib::Palette()
{
    if (!m_paletteMade && m_header) {
        // Never past the block's end, whatever the header claims.
        const int64_t room = (static_cast<int64_t>(GlobalSize(Handle())) - 40) / 4;
        const int64_t count = std::clamp<int64_t>(std::min<int64_t>(Colours(), room), 0, 256);
        const auto* table = reinterpret_cast<const uint8_t*>(m_header) + 40;
        m_palette.clear();
        m_palette.reserve(count);
        for (int64_t i = 0; i < count; ++i)
            m_palette.append(qRgb(table[4 * i + 2], table[4 * i + 1], table[4 * i]));
        m_paletteMade = true;
    }
    return m_palette;
}

bool ILTDib::CreateBlock(const QList<QRgb>* palette, int32_t width, int depth, int32_t height)
{
    const int stored = depth == 2 ? 1 : depth;
    int colours = 0;
    int extra = 0;
    switch (stored) {
    case 1:
        colours = 2;
        extra = 48;
        break;
    case 4:
        colours = 16;
        extra = 104;
        break;
    case 8:
        colours = 256;
        extra = 1064;
        break;
    case 16:
    case 24:
    case 32:
        extra = 40;
        break;
    default:
        return false;
    }
    if (width < 0)
        return false;
    const int64_t image = ImageBytes(height, DibStride(width, stored));
    if (image < 0)
        throw ErrorInvalid(QStringLiteral("Can't allocate memory"));
    HGLOBAL block = GlobalAlloc(GHND, static_cast<size_t>(image + extra));
    if (!block)
        throw ErrorInvalid(QStringLiteral("Can't allocate memory"));
    auto* header = static_cast<BITMAPINFOHEADER*>(GlobalLock(block));
    header->biSize = 40;
    header->biWidth = width;
    header->biHeight = height;
    header->biPlanes = 1;
    header->biBitCount = static_cast<uint16_t>(stored);
    header->biCompression = kBiRgb;
    header->biSizeImage = static_cast<uint32_t>(image);
    header->biXPelsPerMeter = 2953;
    header->biYPelsPerMeter = 2953;
    header->biClrUsed = static_cast<uint32_t>(colours);
    header->biClrImportant = static_cast<uint32_t>(colours);
    if (palette) {
        auto* table = reinterpret_cast<uint8_t*>(header) + 40;
        const int count = std::min<int>(colours, static_cast<int>(palette->size()));
        for (int i = 0; i < count; ++i) {
            const QRgb colour = palette->at(i);
            table[4 * i] = static_cast<uint8_t>(qBlue(colour));
            table[4 * i + 1] = static_cast<uint8_t>(qGreen(colour));
            table[4 * i + 2] = static_cast<uint8_t>(qRed(colour));
        }
    }
    GlobalUnlock(block);
    Attach(GlobalLock(block));
    return true;
}

}  // namespace imaging
