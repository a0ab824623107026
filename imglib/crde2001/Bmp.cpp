// Windows and OS/2 bitmaps, parsed here: the format is small, and a parser we
// own is one we can fuzz and bound. Every field is read little-endian from
// the bytes, never through a struct laid over them.
#include "Formats.h"

#include "DecodeBudget.h"
#include "Dib.h"
#include "OwnedBlock.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace crde {

namespace {

constexpr uint32_t kRgb = 0;
constexpr uint32_t kRle8 = 1;
constexpr uint32_t kRle4 = 2;
constexpr uint32_t kBitfields = 3;
constexpr uint32_t kJpeg = 4;
constexpr uint32_t kPng = 5;
constexpr uint32_t kAlphaBitfields = 6;

constexpr size_t kFileHeader = 14;
constexpr size_t kCoreHeader = 12;
constexpr int kRowsPerReport = 16;

uint16_t U16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t U32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// One colour channel of a 16- or 32-bit pixel as 0..255. A narrow field has
// its bits repeated downwards (5 bits abcde give abcdeabc), so full stays
// full; a wide one keeps its top 8 bits. An empty mask reads as 0.
class Channel {
public:
    Channel() = default;
    explicit Channel(uint32_t mask)
        : m_mask(mask),
          m_shift(mask ? std::countr_zero(mask) : 0),
          m_width(std::bit_width(mask >> m_shift))
    {
    }
    [[nodiscard]] bool Present() const noexcept { return m_width != 0; }
    [[nodiscard]] uint8_t Of(uint32_t pixel) const noexcept
    {
        if (m_width == 0)
            return 0;
        const uint32_t value = (pixel & m_mask) >> m_shift;
        if (m_width >= 8)
            return static_cast<uint8_t>(value >> (m_width - 8));
        uint32_t out = value << (8 - m_width);
        for (int missing = 8 - m_width; missing > 0; missing -= m_width)
            out |= missing >= m_width ? value << (missing - m_width) : value >> (m_width - missing);
        return static_cast<uint8_t>(out);
    }

private:
    uint32_t m_mask = 0;
    int m_shift = 0;
    int m_width = 0;
};

struct Header {
    uint32_t offset = 0;       // of the pixels, from the start of the file
    uint32_t headerSize = 0;
    int64_t width = 0;
    int64_t height = 0;        // rows, always positive
    bool topDown = false;
    int bits = 0;
    uint32_t compression = kRgb;
    size_t paletteStart = 0;
    size_t paletteEntrySize = 4;
    int colours = 0;           // table entries the file means, at most 2^bits
    Channel red, green, blue, alpha;
};

[[nodiscard]] bool ValidDepth(int bits)
{
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

int16_t ParseHeader(const uint8_t* data, size_t size, Header& h)
{
    if (size < 2 || data[0] != 'B' || data[1] != 'M')
        return IL_ERR_FORMAT;
    if (size < kFileHeader + 4)
        return IL_ERR_CORRUPT;
    h.offset = U32(data + 10);
    h.headerSize = U32(data + 14);
    const uint8_t* info = data + kFileHeader;
    int64_t rawHeight = 0;
    if (h.headerSize == kCoreHeader) {
        if (size < kFileHeader + kCoreHeader)
            return IL_ERR_CORRUPT;
        h.width = U16(info + 4);
        rawHeight = U16(info + 6);
        h.bits = U16(info + 10);
        h.paletteEntrySize = 3;
    } else if (h.headerSize == 40 || h.headerSize == 52 || h.headerSize == 56 ||
               h.headerSize == 108 || h.headerSize == 124) {
        if (size < kFileHeader + h.headerSize)
            return IL_ERR_CORRUPT;
        h.width = static_cast<int32_t>(U32(info + 4));
        rawHeight = static_cast<int32_t>(U32(info + 8));
        h.bits = U16(info + 14);
        h.compression = U32(info + 16);
    } else {
        return IL_ERR_UNSUPPORTED;
    }
    if (h.width <= 0 || rawHeight == 0 || rawHeight == INT32_MIN)
        return IL_ERR_CORRUPT;
    h.topDown = rawHeight < 0;
    h.height = h.topDown ? -rawHeight : rawHeight;
    if (!ValidDepth(h.bits))
        return IL_ERR_UNSUPPORTED;

    switch (h.compression) {
    case kRgb:
        break;
    case kRle8:
    case kRle4:
        if (h.bits != (h.compression == kRle8 ? 8 : 4))
            return IL_ERR_CORRUPT;
        // Run-length rows always run bottom-up.
        if (h.topDown)
            return IL_ERR_CORRUPT;
        break;
    case kBitfields:
    case kAlphaBitfields:
        if (h.bits != 16 && h.bits != 32)
            return IL_ERR_CORRUPT;
        break;
    case kJpeg:
    case kPng:
    default:
        return IL_ERR_UNSUPPORTED;
    }

    h.paletteStart = kFileHeader + h.headerSize;
    if (h.compression == kBitfields || h.compression == kAlphaBitfields) {
        // Masks sit inside the larger headers, after the 40-byte one; those a
        // header has no room for (all of them after a 40-byte one, alpha after
        // a 52-byte one) follow it.
        const size_t masks = h.compression == kAlphaBitfields ? 4 : 3;
        const uint8_t* at = info + 40;
        const size_t inHeader = std::min<size_t>(masks, (h.headerSize - 40) / 4);
        const size_t after = 4 * (masks - inHeader);
        if (size < h.paletteStart + after)
            return IL_ERR_CORRUPT;
        h.paletteStart += after;
        h.red = Channel(U32(at));
        h.green = Channel(U32(at + 4));
        h.blue = Channel(U32(at + 8));
        // Alpha means something only when the file names its mask.
        if (masks == 4 || h.headerSize >= 56)
            h.alpha = Channel(U32(at + 12));
    } else if (h.bits == 16) {
        h.red = Channel(0x7C00);
        h.green = Channel(0x03E0);
        h.blue = Channel(0x001F);
    } else if (h.bits == 32) {
        h.red = Channel(0x00FF0000);
        h.green = Channel(0x0000FF00);
        h.blue = Channel(0x000000FF);
    }

    if (h.bits <= 8) {
        const uint32_t full = 1u << h.bits;
        uint32_t count = full;
        if (h.headerSize != kCoreHeader) {
            const uint32_t used = U32(info + 32);
            if (used != 0 && used < full)
                count = used;
        }
        h.colours = static_cast<int>(count);
    }
    if (h.offset < h.paletteStart || h.offset >= size)
        return IL_ERR_CORRUPT;
    return 1;
}

const char* CompressionName(uint32_t compression)
{
    switch (compression) {
    case kRle8:
        return "RLE8";
    case kRle4:
        return "RLE4";
    case kBitfields:
    case kAlphaBitfields:
        return "Bitfields";
    default:
        return "None";
    }
}

// The file's table into the block's; entries the file does not hold before
// its pixels stay black.
void CopyPalette(const uint8_t* data, size_t size, const Header& h, const imglib::DibView& view)
{
    const size_t limit = std::min<size_t>(size, h.offset);
    const size_t room = limit > h.paletteStart ? limit - h.paletteStart : 0;
    const size_t available = std::min<size_t>(h.colours, room / h.paletteEntrySize);
    imglib::RgbQuad* table = view.Palette();
    for (size_t i = 0; i < available && i < static_cast<size_t>(view.Colours()); ++i) {
        const uint8_t* entry = data + h.paletteStart + i * h.paletteEntrySize;
        table[i] = {entry[0], entry[1], entry[2], 0};
    }
}

// White under a pixel that is only partly there.
uint8_t OnWhite(uint8_t colour, uint8_t alpha)
{
    return static_cast<uint8_t>((colour * alpha + 255 * (255 - alpha) + 127) / 255);
}

void PutColour(uint8_t* out, uint32_t pixel, const Header& h)
{
    uint8_t b = h.blue.Of(pixel);
    uint8_t g = h.green.Of(pixel);
    uint8_t r = h.red.Of(pixel);
    if (h.alpha.Present()) {
        const uint8_t a = h.alpha.Of(pixel);
        b = OnWhite(b, a);
        g = OnWhite(g, a);
        r = OnWhite(r, a);
    }
    out[0] = b;
    out[1] = g;
    out[2] = r;
}

int16_t ReadRows(const uint8_t* data, size_t size, const Header& h, const Progress& progress,
                 const imglib::DibView& view)
{
    const uint64_t stride = static_cast<uint64_t>(imglib::Stride(h.width, h.bits));
    const uint64_t needed = (static_cast<uint64_t>(h.width) * h.bits + 7) / 8;
    for (int64_t r = 0; r < h.height; ++r) {
        if (r % kRowsPerReport == 0 && !progress.Report(static_cast<int>(r * 100 / h.height)))
            return IL_ERR_CANCELLED;
        // The last row's padding may be missing; its pixels may not.
        const uint64_t start = h.offset + static_cast<uint64_t>(r) * stride;
        if (start + needed > size)
            return IL_ERR_CORRUPT;
        const uint8_t* in = data + start;
        uint8_t* out = view.Row(static_cast<int32_t>(h.topDown ? r : h.height - 1 - r));
        switch (h.bits) {
        case 1:
        case 4:
        case 8:
        case 24:
            std::memcpy(out, in, needed);
            break;
        case 16:
            for (int64_t x = 0; x < h.width; ++x)
                PutColour(out + 3 * x, U16(in + 2 * x), h);
            break;
        case 32:
            for (int64_t x = 0; x < h.width; ++x)
                PutColour(out + 3 * x, U32(in + 4 * x), h);
            break;
        default:
            return IL_ERR_UNSUPPORTED;
        }
    }
    return 1;
}

// Run-length pixels into an uncompressed 8- or 4-bit block. Runs past the end
// of a row and moves past the picture are clipped; pixels never reached stay
// index 0.
class RleWriter {
public:
    RleWriter(const imglib::DibView& view, const Header& h) : m_view(view), m_h(h) {}

    void Put(uint8_t index)
    {
        if (m_x < m_h.width && m_y < m_h.height) {
            uint8_t* row = m_view.Row(static_cast<int32_t>(m_h.height - 1 - m_y));
            if (m_h.bits == 8) {
                row[m_x] = index;
            } else {
                uint8_t& pair = row[m_x / 2];
                pair = (m_x % 2 == 0) ? static_cast<uint8_t>((pair & 0x0F) | (index << 4))
                                      : static_cast<uint8_t>((pair & 0xF0) | (index & 0x0F));
            }
        }
        ++m_x;
    }
    // Skips pixels that would land outside the row, however many.
    [[nodiscard]] bool RowFull() const noexcept { return m_x >= m_h.width; }
    void Skip(int64_t pixels) { m_x += pixels; }
    void NextRow()
    {
        m_x = 0;
        ++m_y;
    }
    void Move(int dx, int dy)
    {
        m_x += dx;
        m_y += dy;
    }
    [[nodiscard]] bool Finished() const noexcept { return m_y >= m_h.height; }
    [[nodiscard]] int64_t Y() const noexcept { return m_y; }

private:
    const imglib::DibView& m_view;
    const Header& m_h;
    int64_t m_x = 0;
    int64_t m_y = 0;  // counted from the bottom row
};

int16_t ReadRle(const uint8_t* data, size_t size, const Header& h, const Progress& progress,
                const imglib::DibView& view)
{
    const bool four = h.compression == kRle4;
    RleWriter writer(view, h);
    size_t p = h.offset;
    int64_t nextReport = 0;
    for (;;) {
        if (writer.Finished())
            return 1;
        if (writer.Y() >= nextReport) {
            if (!progress.Report(static_cast<int>(writer.Y() * 100 / h.height)))
                return IL_ERR_CANCELLED;
            nextReport = writer.Y() + kRowsPerReport;
        }
        if (size - p < 2)
            return IL_ERR_CORRUPT;
        const int count = data[p];
        const uint8_t value = data[p + 1];
        p += 2;
        if (count > 0) {
            for (int i = 0; i < count; ++i) {
                if (writer.RowFull()) {
                    writer.Skip(count - i);
                    break;
                }
                writer.Put(four ? static_cast<uint8_t>(i % 2 == 0 ? value >> 4 : value & 0x0F) : value);
            }
            continue;
        }
        switch (value) {
        case 0:
            writer.NextRow();
            break;
        case 1:
            return 1;
        case 2:
            if (size - p < 2)
                return IL_ERR_CORRUPT;
            writer.Move(data[p], data[p + 1]);
            p += 2;
            break;
        default: {
            // Absolute run: `value` pixels, their bytes padded to a 16-bit word.
            const size_t bytes = four ? (value + 1u) / 2 : value;
            if (size - p < bytes)
                return IL_ERR_CORRUPT;
            for (int i = 0; i < value; ++i) {
                const uint8_t byte = data[p + (four ? i / 2 : i)];
                writer.Put(four ? static_cast<uint8_t>(i % 2 == 0 ? byte >> 4 : byte & 0x0F) : byte);
            }
            p += std::min(size - p, bytes + (bytes & 1));
            break;
        }
        }
    }
}

// Refuses a large picture the file's bytes cannot fill before it is
// allocated. Stored rows must all be there, but for the last one's padding.
// A run-length stream writes at most 255 pixels per two bytes; what moves and
// end marks skip stays index 0, which a large picture is not trusted to be.
int16_t Fits(size_t size, const Header& h, int bits)
{
    if (!imglib::DecodedSizeAllowed(h.width, h.height))
        return IL_ERR_TOO_LARGE;
    const uint64_t picture = imglib::PictureBytes(h.width, h.height, bits);
    const uint64_t input = size - h.offset;
    const auto height = static_cast<uint64_t>(h.height);
    if (h.compression == kRle8 || h.compression == kRle4) {
        const uint64_t pixels = static_cast<uint64_t>(h.width) * height;
        return imglib::Fillable(picture, pixels, input, 128) ? 1 : IL_ERR_TOO_LARGE;
    }
    const uint64_t stride = static_cast<uint64_t>(imglib::Stride(h.width, h.bits));
    const uint64_t stored = (height - 1) * stride + (static_cast<uint64_t>(h.width) * h.bits + 7) / 8;
    return imglib::Fillable(picture, stored, input, 1) ? 1 : IL_ERR_CORRUPT;
}

// Indexed pictures keep their depth and table (run-length ones unpacked);
// 16- and 32-bit ones become 24-bit. A 32-bit picture whose header names an
// alpha mask is laid on white; otherwise its fourth byte is ignored.
int16_t DecodeBmp(const uint8_t* data, size_t size, const Progress& progress, OwnedBlock& block)
{
    Header h;
    const int16_t parsed = ParseHeader(data, size, h);
    if (parsed <= 0)
        return parsed;
    const int bits = h.bits <= 8 ? h.bits : 24;
    if (const int16_t fits = Fits(size, h, bits); fits <= 0)
        return fits;
    if (const int16_t made = NewPicture(block.Receive(), h.width, h.height, bits); made <= 0)
        return made;
    const imglib::DibView view(block.Get());
    if (!view.Valid())
        return IL_ERR_MEMORY;
    if (h.bits <= 8)
        CopyPalette(data, size, h, view);
    const int16_t result = (h.compression == kRle8 || h.compression == kRle4)
                               ? ReadRle(data, size, h, progress, view)
                               : ReadRows(data, size, h, progress, view);
    if (result <= 0)
        return result;
    return 1;
}

}  // namespace

int16_t InfoBmp(const uint8_t* data, size_t size, ImageInfo& info)
{
    Header h;
    const int16_t result = ParseHeader(data, size, h);
    if (result <= 0)
        return result;
    if (h.width > INT32_MAX || h.height > INT32_MAX)
        return IL_ERR_CORRUPT;
    info.format = "BMP";
    info.width = static_cast<int32_t>(h.width);
    info.height = static_cast<int32_t>(h.height);
    info.bits = static_cast<int16_t>(h.bits);
    info.pages = 1;
    info.orientation = 0;
    info.compression = CompressionName(h.compression);
    return 1;
}

int16_t ReadBmp(const uint8_t* data, size_t size, const Progress& progress, HDIB* dib)
{
    return Deliver(dib, progress, [&](OwnedBlock& block) { return DecodeBmp(data, size, progress, block); });
}

}  // namespace crde
