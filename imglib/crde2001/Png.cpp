// PNG through libpng from memory. libpng reports errors by longjmp: every
// libpng call that may fail goes through a small wrapper holding the setjmp,
// with no C++ object alive in it, so the jump never skips a destructor.
#include "Formats.h"

#include "Colour.h"
#include "DecodeBudget.h"
#include "Dib.h"
#include "OwnedBlock.h"

#include <png.h>

#include <csetjmp>
#include <cstring>
#include <vector>

namespace crde {

namespace {

struct PngSource {
    const uint8_t* data = nullptr;
    size_t size = 0;
    size_t offset = 0;
    int16_t failure = IL_ERR_CORRUPT;
    bool overBudget = false;  // an allocation was refused by the budget, not by memory
};

void ReadFromMemory(png_structp png, png_bytep target, size_t length)
{
    auto* source = static_cast<PngSource*>(png_get_io_ptr(png));
    if (length > source->size - source->offset)
        png_error(png, "read past the end of the data");
    std::memcpy(target, source->data + source->offset, length);
    source->offset += length;
}

// A size over the limits comes as a warning followed by a general error.
void NoteReason(png_structp png, png_const_charp message)
{
    auto* source = static_cast<PngSource*>(png_get_error_ptr(png));
    if (!source || !message)
        return;
    if (std::strstr(message, "emory"))
        source->failure = source->overBudget ? IL_ERR_TOO_LARGE : IL_ERR_MEMORY;
    else if (std::strstr(message, "user limit") || std::strstr(message, "this architecture"))
        source->failure = IL_ERR_TOO_LARGE;
}

void OnError(png_structp png, png_const_charp message)
{
    NoteReason(png, message);
    png_longjmp(png, 1);
}

void OnWarning(png_structp png, png_const_charp message)
{
    NoteReason(png, message);
}

// Every allocation of libpng counts against the reading's budget.
png_voidp Allocate(png_structp png, png_alloc_size_t bytes)
{
    auto* budget = static_cast<imglib::DecodeBudget*>(png_get_mem_ptr(png));
    if (bytes > budget->Left()) {
        if (auto* source = static_cast<PngSource*>(png_get_error_ptr(png)))
            source->overBudget = true;
        return nullptr;
    }
    return budget->Allocate(bytes);
}

void Release(png_structp png, png_voidp block)
{
    static_cast<imglib::DecodeBudget*>(png_get_mem_ptr(png))->Free(block);
}

uint32_t BigEndian32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}

// Bytes of compressed pixels the file holds in its IDAT chunks.
uint64_t IdatBytes(const uint8_t* data, size_t size)
{
    uint64_t total = 0;
    for (size_t p = 8; p <= size && size - p >= 12;) {
        const uint64_t length = BigEndian32(data + p);
        const uint64_t room = size - p - 12;
        if (std::memcmp(data + p + 4, "IDAT", 4) == 0)
            total += std::min(length, room);
        if (length > room)
            break;
        p += 12 + static_cast<size_t>(length);
    }
    return total;
}

// Wrappers: false when libpng failed (the reason is in the source).
bool SafeReadInfo(png_structp png, png_infop info)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_info(png, info);
    return true;
}

// The transformations that leave one byte per sample: indices for a palette,
// 8-bit grey or colour with alpha where the file has transparency.
bool SafeSetTransforms(png_structp png, png_infop info, int* passes)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    const int colourType = png_get_color_type(png, info);
    const int depth = png_get_bit_depth(png, info);
    if (colourType == PNG_COLOR_TYPE_PALETTE) {
        if (depth < 8)
            png_set_packing(png);
    } else {
        if (colourType == PNG_COLOR_TYPE_GRAY && depth < 8)
            png_set_expand_gray_1_2_4_to_8(png);
        if (png_get_valid(png, info, PNG_INFO_tRNS))
            png_set_tRNS_to_alpha(png);
        if (depth == 16)
            png_set_scale_16(png);
        // Colour rows come out as the block's rows: blue, green, red.
        if (colourType & PNG_COLOR_MASK_COLOR)
            png_set_bgr(png);
    }
    *passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    return true;
}

bool SafeReadRow(png_structp png, png_bytep row)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_row(png, row, nullptr);
    return true;
}

class PngReader {
public:
    PngReader(const uint8_t* data, size_t size)
    {
        m_source.data = data;
        m_source.size = size;
        m_png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, &m_source, OnError, OnWarning, &m_budget,
                                         Allocate, Release);
        if (m_png)
            m_info = png_create_info_struct(m_png);
        if (m_info) {
            png_set_read_fn(m_png, &m_source, ReadFromMemory);
            // Nothing wider or taller than a 24-bit picture we would accept,
            // and no text or profile chunks by the thousand or megabyte.
            png_set_user_limits(m_png, static_cast<png_uint_32>(IL_MAX_DECODED_BYTES / 3),
                                static_cast<png_uint_32>(IL_MAX_DECODED_BYTES / 4));
            png_set_chunk_cache_max(m_png, kMaxChunks);
            png_set_chunk_malloc_max(m_png, kMaxChunkBytes);
        }
    }
    ~PngReader() { png_destroy_read_struct(&m_png, m_info ? &m_info : nullptr, nullptr); }
    PngReader(const PngReader&) = delete;
    PngReader& operator=(const PngReader&) = delete;

    [[nodiscard]] int16_t ReadHeader()
    {
        if (!m_info)
            return IL_ERR_MEMORY;
        if (m_source.size < 8 || png_sig_cmp(m_source.data, 0, 8) != 0)
            return IL_ERR_FORMAT;
        if (!SafeReadInfo(m_png, m_info))
            return Failure();
        m_width = png_get_image_width(m_png, m_info);
        m_height = png_get_image_height(m_png, m_info);
        m_colourType = png_get_color_type(m_png, m_info);
        m_depth = png_get_bit_depth(m_png, m_info);
        return 1;
    }

    [[nodiscard]] int16_t Failure() const { return m_source.failure; }
    [[nodiscard]] imglib::DecodeBudget& Budget() { return m_budget; }
    [[nodiscard]] png_structp Png() const { return m_png; }
    [[nodiscard]] png_infop Info() const { return m_info; }
    [[nodiscard]] uint32_t Width() const { return m_width; }
    [[nodiscard]] uint32_t Height() const { return m_height; }
    [[nodiscard]] int ColourType() const { return m_colourType; }
    [[nodiscard]] int Depth() const { return m_depth; }

    // What the file says of its colours: an sRGB chunk says they are sRGB;
    // else iCCP, else cHRM and gAMA. The profile's bytes live as long as
    // the reader.
    [[nodiscard]] imglib::ColourDescription Colour() const
    {
        imglib::ColourDescription colour;
        if (png_get_valid(m_png, m_info, PNG_INFO_sRGB))
            return colour;
        png_charp name = nullptr;
        int compression = 0;
        png_bytep profile = nullptr;
        png_uint_32 length = 0;
        if (png_get_iCCP(m_png, m_info, &name, &compression, &profile, &length) && profile && length > 0) {
            colour.icc = profile;
            colour.iccSize = length;
            return colour;
        }
        colour.chromaticities =
            png_get_cHRM(m_png, m_info, &colour.white[0], &colour.white[1], &colour.red[0], &colour.red[1],
                         &colour.green[0], &colour.green[1], &colour.blue[0], &colour.blue[1]) != 0;
        if (!png_get_gAMA(m_png, m_info, &colour.gamma))
            colour.gamma = 0;
        return colour;
    }

private:
    static constexpr png_uint_32 kMaxChunks = 1000;
    static constexpr png_alloc_size_t kMaxChunkBytes = 16u * 1024 * 1024;

    imglib::DecodeBudget m_budget;  // outlives the libpng structures it counts
    PngSource m_source;
    png_structp m_png = nullptr;
    png_infop m_info = nullptr;
    uint32_t m_width = 0;
    uint32_t m_height = 0;
    int m_colourType = 0;
    int m_depth = 0;
};

using imglib::OnWhite;

[[nodiscard]] int IndexedBits(int colours)
{
    return colours <= 2 ? 1 : colours <= 16 ? 4 : 8;
}

// One row of libpng's output (after the transformations above) into the block's row.
void ConvertRow(const uint8_t* in, uint8_t* out, uint32_t width, int channels, int dibBits,
                int colours)
{
    switch (channels) {
    case 1:
        if (dibBits == 8 && colours == 256) {
            std::memcpy(out, in, width);
        } else if (dibBits == 8) {
            for (uint32_t x = 0; x < width; ++x)
                out[x] = in[x] < colours ? in[x] : 0;
        } else {
            // Out-of-range indices of a damaged file show the first colour.
            const int perByte = 8 / dibBits;
            for (uint32_t x = 0; x < width; ++x) {
                const unsigned index = in[x] < colours ? in[x] : 0;
                const int shift = 8 - dibBits * (1 + static_cast<int>(x % perByte));
                out[x / perByte] |= static_cast<uint8_t>(index << shift);
            }
        }
        break;
    case 2:  // grey and alpha: grey on white
        for (uint32_t x = 0; x < width; ++x)
            out[x] = OnWhite(in[2 * x], in[2 * x + 1]);
        break;
    case 3:
        std::memcpy(out, in, static_cast<size_t>(width) * 3);
        break;
    default:  // 4: blue, green, red and alpha
        for (uint32_t x = 0; x < width; ++x) {
            const uint8_t* p = in + 4 * x;
            out[3 * x] = OnWhite(p[0], p[3]);
            out[3 * x + 1] = OnWhite(p[1], p[3]);
            out[3 * x + 2] = OnWhite(p[2], p[3]);
        }
        break;
    }
}

// Samples per pixel of a colour type (an index or a grey level is one).
int Samples(int colourType)
{
    switch (colourType) {
    case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
    case PNG_COLOR_TYPE_RGB: return 3;
    case PNG_COLOR_TYPE_RGB_ALPHA: return 4;
    default: return 1;
    }
}

int16_t DecodePng(const uint8_t* data, size_t size, const Progress& progress, OwnedBlock& block)
{
    PngReader reader(data, size);
    const int16_t header = reader.ReadHeader();
    if (header <= 0)
        return header;
    const uint32_t width = reader.Width();
    const uint32_t height = reader.Height();
    if (!imglib::DecodedSizeAllowed(width, height))
        return IL_ERR_TOO_LARGE;
    // Deflate gives at most 1032 bytes per byte: a large picture whose
    // IDAT chunks cannot hold its pixels is refused before it is made.
    const int samples = Samples(reader.ColourType());
    const uint64_t packed = (uint64_t{width} * static_cast<unsigned>(samples * reader.Depth()) + 7) / 8 * height;
    if (!imglib::Fillable(imglib::PictureBytes(width, height, 24), packed, IdatBytes(data, size), 1032))
        return IL_ERR_CORRUPT;

    // The colour table, composited on white where tRNS makes entries transparent.
    std::vector<imglib::RgbQuad> table;
    const bool palette = reader.ColourType() == PNG_COLOR_TYPE_PALETTE;
    const bool grey = reader.ColourType() == PNG_COLOR_TYPE_GRAY ||
                      reader.ColourType() == PNG_COLOR_TYPE_GRAY_ALPHA;
    if (palette) {
        png_colorp entries = nullptr;
        int count = 0;
        if (!png_get_PLTE(reader.Png(), reader.Info(), &entries, &count) || count <= 0 || count > 256)
            return IL_ERR_CORRUPT;
        png_bytep alpha = nullptr;
        int alphaCount = 0;
        if (!png_get_tRNS(reader.Png(), reader.Info(), &alpha, &alphaCount, nullptr))
            alphaCount = 0;
        table.resize(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i) {
            const unsigned a = i < alphaCount && alpha ? alpha[i] : 255u;
            table[i] = {OnWhite(entries[i].blue, a), OnWhite(entries[i].green, a),
                        OnWhite(entries[i].red, a), 0};
        }
    } else if (grey) {
        table.resize(256);
        for (int i = 0; i < 256; ++i) {
            const auto v = static_cast<uint8_t>(i);
            table[i] = {v, v, v, 0};
        }
    }

    int passes = 1;
    if (!SafeSetTransforms(reader.Png(), reader.Info(), &passes))
        return reader.Failure();
    const int channels = png_get_channels(reader.Png(), reader.Info());
    const size_t rowBytes = png_get_rowbytes(reader.Png(), reader.Info());
    if (channels < 1 || channels > 4 || rowBytes < static_cast<size_t>(width) * channels)
        return IL_ERR_UNSUPPORTED;

    const int colours = static_cast<int>(table.size());
    const int dibBits = palette ? IndexedBits(colours) : grey ? 8 : 24;
    block.Reset(imglib::CreateDib(static_cast<int32_t>(width), static_cast<int32_t>(height), dibBits,
                                       dibBits == 24 ? 0 : colours));
    if (!block)
        return IL_ERR_MEMORY;
    {
        const imglib::DibView view(block.Get());
        if (!view.Valid())
            return IL_ERR_MEMORY;
        if (colours > 0)
            std::memcpy(view.Palette(), table.data(), table.size() * sizeof(imglib::RgbQuad));

        // Rows libpng gives as the block keeps them go straight into the
        // block; interlaced ones fill in there over the passes. Others are
        // converted, and when interlaced need every row kept meanwhile.
        const bool direct = (channels == 3 || (channels == 1 && dibBits == 8 && colours == 256)) &&
                            rowBytes <= static_cast<uint64_t>(view.Stride());
        const bool keepAll = passes > 1 && !direct;
        const uint64_t kept = keepAll ? uint64_t{rowBytes} * height : rowBytes;
        if (!reader.Budget().Take(kept))
            return IL_ERR_TOO_LARGE;
        std::vector<uint8_t> rows(static_cast<size_t>(kept));
        const uint64_t totalRows = static_cast<uint64_t>(height) * static_cast<unsigned>(passes);
        uint64_t done = 0;
        for (int pass = 0; pass < passes; ++pass) {
            for (uint32_t y = 0; y < height; ++y, ++done) {
                if (done % 32 == 0 && !progress.Report(static_cast<int>(done * 100 / totalRows)))
                    return IL_ERR_CANCELLED;
                uint8_t* row = direct ? view.Row(static_cast<int32_t>(y))
                               : keepAll ? rows.data() + rowBytes * y : rows.data();
                if (!SafeReadRow(reader.Png(), row))
                    return reader.Failure();
                if (!keepAll && !direct)
                    ConvertRow(row, view.Row(static_cast<int32_t>(y)), width, channels, dibBits, colours);
            }
        }
        if (keepAll) {
            for (uint32_t y = 0; y < height; ++y)
                ConvertRow(rows.data() + rowBytes * y, view.Row(static_cast<int32_t>(y)), width,
                           channels, dibBits, colours);
        }
    }
    imglib::ConvertToSrgb(block.Get(), reader.Colour());
    return 1;
}

}  // namespace

int16_t InfoPng(const uint8_t* data, size_t size, ImageInfo& info)
{
    PngReader reader(data, size);
    const int16_t header = reader.ReadHeader();
    if (header <= 0)
        return header;
    const int samples = Samples(reader.ColourType());
    info.format = "PNG";
    info.width = static_cast<int32_t>(reader.Width());
    info.height = static_cast<int32_t>(reader.Height());
    info.bits = static_cast<int16_t>(samples * reader.Depth());
    info.pages = 1;
    info.orientation = 0;
    info.compression = "Deflate";
    return 1;
}

int16_t ReadPng(const uint8_t* data, size_t size, const Progress& progress, HDIB* dib)
{
    return Deliver(dib, progress, [&](OwnedBlock& block) { return DecodePng(data, size, progress, block); });
}

}  // namespace crde
