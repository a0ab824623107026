// Truevision pictures, parsed here. Fields are read little-endian from the
// bytes; the run-length stream is one stream for the whole picture, so
// packets may run from one row into the next.
#include "Formats.h"

#include "DecodeBudget.h"
#include "Dib.h"
#include "OwnedBlock.h"

#include <cstring>

namespace crde {

namespace {

constexpr size_t kHeader = 18;
constexpr int kRowsPerReport = 16;

uint16_t U16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

enum class Kind { Mapped, True, Grey };

struct Header {
    Kind kind = Kind::True;
    bool rle = false;
    int depth = 0;             // bits per pixel in the file
    int32_t width = 0;
    int32_t height = 0;
    bool topFirst = false;     // descriptor bit 5
    bool rightToLeft = false;  // descriptor bit 4
    int alphaBits = 0;
    bool hasMap = false;
    int mapFirst = 0;
    int mapLength = 0;
    int mapEntryBits = 0;
    size_t mapStart = 0;
    size_t pixelStart = 0;
};

int16_t ParseHeader(const uint8_t* data, size_t size, Header& h)
{
    if (size < kHeader)
        return IL_ERR_CORRUPT;
    const int idLength = data[0];
    const int mapType = data[1];
    const int type = data[2];
    if (mapType > 1)
        return IL_ERR_FORMAT;
    switch (type) {
    case 1:
    case 9:
        h.kind = Kind::Mapped;
        break;
    case 2:
    case 10:
        h.kind = Kind::True;
        break;
    case 3:
    case 11:
        h.kind = Kind::Grey;
        break;
    default:
        return IL_ERR_UNSUPPORTED;  // no picture, or a compression we do not read
    }
    h.rle = type >= 9;
    h.hasMap = mapType == 1;
    h.mapFirst = U16(data + 3);
    h.mapLength = U16(data + 5);
    h.mapEntryBits = data[7];
    h.width = U16(data + 12);
    h.height = U16(data + 14);
    h.depth = data[16];
    const uint8_t descriptor = data[17];
    h.alphaBits = descriptor & 0x0F;
    h.rightToLeft = (descriptor & 0x10) != 0;
    h.topFirst = (descriptor & 0x20) != 0;
    if (h.width == 0 || h.height == 0)
        return IL_ERR_CORRUPT;

    switch (h.kind) {
    case Kind::Mapped:
        if (!h.hasMap)
            return IL_ERR_CORRUPT;
        if (h.depth != 8)
            return IL_ERR_UNSUPPORTED;
        if (h.mapEntryBits != 15 && h.mapEntryBits != 16 && h.mapEntryBits != 24 && h.mapEntryBits != 32)
            return IL_ERR_UNSUPPORTED;
        break;
    case Kind::True:
        if (h.depth != 15 && h.depth != 16 && h.depth != 24 && h.depth != 32)
            return IL_ERR_UNSUPPORTED;
        break;
    case Kind::Grey:
        if (h.depth != 8)
            return IL_ERR_UNSUPPORTED;
        break;
    }

    // A map may come with any type; skipped unless the pixels index it.
    h.mapStart = kHeader + static_cast<size_t>(idLength);
    const size_t mapBytes = h.hasMap ? static_cast<size_t>(h.mapLength) * ((h.mapEntryBits + 7) / 8) : 0;
    h.pixelStart = h.mapStart + mapBytes;
    if (h.pixelStart >= size)
        return IL_ERR_CORRUPT;
    return 1;
}

uint8_t Expand5(unsigned v)
{
    return static_cast<uint8_t>((v << 3) | (v >> 2));
}

// 15/16-bit colour: x RRRRR GGGGG BBBBB; the top bit is not used as alpha.
void From555(const uint8_t* in, uint8_t* out)
{
    const unsigned v = U16(in);
    out[0] = Expand5(v & 31);
    out[1] = Expand5((v >> 5) & 31);
    out[2] = Expand5((v >> 10) & 31);
}

uint8_t OnWhite(uint8_t colour, uint8_t alpha)
{
    return static_cast<uint8_t>((colour * alpha + 255 * (255 - alpha) + 127) / 255);
}

// The pixels in file order, raw or run-length.
class PixelStream {
public:
    PixelStream(const uint8_t* data, size_t size, size_t start, int bytes, bool rle)
        : m_data(data), m_size(size), m_pos(start), m_bytes(bytes), m_rle(rle)
    {
    }

    // The next pixel's bytes, or null when the data ends.
    [[nodiscard]] const uint8_t* Next()
    {
        if (!m_rle)
            return Take();
        if (m_left == 0) {
            if (m_pos >= m_size)
                return nullptr;
            const uint8_t packet = m_data[m_pos++];
            m_left = (packet & 0x7F) + 1;
            m_repeat = (packet & 0x80) != 0;
            if (m_repeat) {
                m_repeated = Take();
                if (!m_repeated)
                    return nullptr;
            }
        }
        --m_left;
        return m_repeat ? m_repeated : Take();
    }

private:
    const uint8_t* Take()
    {
        if (m_size - m_pos < static_cast<size_t>(m_bytes))
            return nullptr;
        const uint8_t* pixel = m_data + m_pos;
        m_pos += m_bytes;
        return pixel;
    }

    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos;
    int m_bytes;
    bool m_rle;
    int m_left = 0;
    bool m_repeat = false;
    const uint8_t* m_repeated = nullptr;
};

// Table index i shows map entry i - first; indices the map does not cover stay black.
void FillTable(const uint8_t* data, const Header& h, const imglib::DibView& view)
{
    imglib::RgbQuad* table = view.Palette();
    if (h.kind == Kind::Grey) {
        for (int i = 0; i < 256; ++i)
            table[i] = {static_cast<uint8_t>(i), static_cast<uint8_t>(i), static_cast<uint8_t>(i), 0};
        return;
    }
    const int entryBytes = (h.mapEntryBits + 7) / 8;
    for (int i = 0; i < 256; ++i) {
        const int entry = i - h.mapFirst;
        if (entry < 0 || entry >= h.mapLength)
            continue;
        const uint8_t* in = data + h.mapStart + static_cast<size_t>(entry) * entryBytes;
        uint8_t bgr[3];
        if (entryBytes == 2) {
            From555(in, bgr);
        } else {
            bgr[0] = in[0];
            bgr[1] = in[1];
            bgr[2] = in[2];
        }
        table[i] = {bgr[0], bgr[1], bgr[2], 0};
    }
}

const char* CompressionName(const Header& h)
{
    return h.rle ? "RLE" : "None";
}

// Colour-mapped pictures become 8-bit with the map as table, grey ones 8-bit
// with a grey table, the rest 24-bit; 32-bit pixels are laid on white when the
// descriptor gives them alpha bits.
int16_t DecodeTga(const uint8_t* data, size_t size, const Progress& progress, OwnedBlock& block)
{
    Header h;
    const int16_t parsed = ParseHeader(data, size, h);
    if (parsed <= 0)
        return parsed;
    const bool indexed = h.kind != Kind::True;
    // A large picture the pixels cannot fill is refused before it is made:
    // raw pixels take their bytes each, a packet of 1 + bytes at most 128.
    if (!imglib::DecodedSizeAllowed(h.width, h.height))
        return IL_ERR_TOO_LARGE;
    const int bytes = (h.depth + 7) / 8;
    const uint64_t pixels = static_cast<uint64_t>(h.width) * static_cast<uint64_t>(h.height);
    const uint64_t input = size - h.pixelStart;
    const uint64_t picture = imglib::PictureBytes(h.width, h.height, indexed ? 8 : 24);
    if (!(h.rle ? imglib::Fillable(picture, pixels, input / (1 + bytes), 128)
                : imglib::Fillable(picture, pixels, input / bytes, 1)))
        return IL_ERR_CORRUPT;
    if (const int16_t made = NewPicture(block.Receive(), h.width, h.height, indexed ? 8 : 24); made <= 0)
        return made;
    const imglib::DibView view(block.Get());
    if (!view.Valid())
        return IL_ERR_MEMORY;
    if (indexed)
        FillTable(data, h, view);

    const bool alpha = h.depth == 32 && h.alphaBits > 0;
    PixelStream stream(data, size, h.pixelStart, bytes, h.rle);
    for (int32_t row = 0; row < h.height; ++row) {
        if (row % kRowsPerReport == 0 && !progress.Report(static_cast<int>(int64_t{row} * 100 / h.height)))
            return IL_ERR_CANCELLED;
        uint8_t* out = view.Row(h.topFirst ? row : h.height - 1 - row);
        for (int32_t column = 0; column < h.width; ++column) {
            const uint8_t* in = stream.Next();
            if (!in)
                return IL_ERR_CORRUPT;
            const int32_t x = h.rightToLeft ? h.width - 1 - column : column;
            if (indexed) {
                out[x] = in[0];
                continue;
            }
            uint8_t* pixel = out + 3 * static_cast<int64_t>(x);
            if (bytes == 2) {
                From555(in, pixel);
            } else if (alpha) {
                pixel[0] = OnWhite(in[0], in[3]);
                pixel[1] = OnWhite(in[1], in[3]);
                pixel[2] = OnWhite(in[2], in[3]);
            } else {
                std::memcpy(pixel, in, 3);
            }
        }
    }
    return 1;
}

}  // namespace

int16_t InfoTga(const uint8_t* data, size_t size, ImageInfo& info)
{
    Header h;
    const int16_t result = ParseHeader(data, size, h);
    if (result <= 0)
        return result;
    info.format = "TGA";
    info.width = h.width;
    info.height = h.height;
    info.bits = static_cast<int16_t>(h.depth);
    info.pages = 1;
    info.orientation = 0;
    info.compression = CompressionName(h);
    return 1;
}

int16_t ReadTga(const uint8_t* data, size_t size, const Progress& progress, HDIB* dib)
{
    return Deliver(dib, progress, [&](OwnedBlock& block) { return DecodeTga(data, size, progress, block); });
}

}  // namespace crde
