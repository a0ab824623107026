// Paintbrush pictures, parsed here. The run-length stream is one stream for
// the whole picture: a run may cross from one plane or row into the next.
#include "Formats.h"

#include "DecodeBudget.h"
#include "Dib.h"
#include "OwnedBlock.h"

#include <cstring>
#include <vector>

namespace crde {

namespace {

constexpr size_t kHeader = 128;
constexpr size_t kVgaPalette = 769;  // 0x0C, then 256 × red, green, blue
constexpr int kRowsPerReport = 16;

uint16_t U16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

// The sixteen colours meant when a version-3 file carries no palette.
constexpr uint8_t kDefaultPalette[16][3] = {
    {0, 0, 0},       {0, 0, 170},     {0, 170, 0},     {0, 170, 170},
    {170, 0, 0},     {170, 0, 170},   {170, 85, 0},    {170, 170, 170},
    {85, 85, 85},    {85, 85, 255},   {85, 255, 85},   {85, 255, 255},
    {255, 85, 85},   {255, 85, 255},  {255, 255, 85},  {255, 255, 255},
};

struct Header {
    int version = 0;
    int bits = 0;    // per pixel per plane
    int planes = 0;
    int32_t width = 0;
    int32_t height = 0;
    size_t bytesPerLine = 0;  // per plane
    int outBits = 0;
    size_t dataEnd = 0;       // the run-length stream ends here
    bool vgaPalette = false;
};

int16_t ParseHeader(const uint8_t* data, size_t size, Header& h)
{
    if (size < 1 || data[0] != 0x0A)
        return IL_ERR_FORMAT;
    if (size < kHeader)
        return IL_ERR_CORRUPT;
    h.version = data[1];
    if (h.version > 5)
        return IL_ERR_UNSUPPORTED;
    if (data[2] != 1)
        return IL_ERR_UNSUPPORTED;
    h.bits = data[3];
    h.planes = data[65];
    const int xmin = U16(data + 4);
    const int ymin = U16(data + 6);
    const int xmax = U16(data + 8);
    const int ymax = U16(data + 10);
    if (xmax < xmin || ymax < ymin)
        return IL_ERR_CORRUPT;
    h.width = xmax - xmin + 1;
    h.height = ymax - ymin + 1;
    h.bytesPerLine = U16(data + 66);

    if (h.bits == 1 && h.planes >= 1 && h.planes <= 4)
        h.outBits = h.planes == 1 ? 1 : 4;
    else if ((h.bits == 2 || h.bits == 4) && h.planes == 1)
        h.outBits = 4;
    else if (h.bits == 8 && h.planes == 1)
        h.outBits = 8;
    else if (h.bits == 8 && (h.planes == 3 || h.planes == 4))
        h.outBits = 24;  // a fourth plane, alpha, is not shown
    else
        return IL_ERR_UNSUPPORTED;

    const size_t needed = (static_cast<size_t>(h.width) * h.bits + 7) / 8;
    if (h.bytesPerLine < needed)
        return IL_ERR_CORRUPT;

    h.dataEnd = size;
    if (h.outBits == 8 && size >= kHeader + kVgaPalette && data[size - kVgaPalette] == 0x0C) {
        h.vgaPalette = true;
        h.dataEnd = size - kVgaPalette;
    }
    if (h.dataEnd <= kHeader)
        return IL_ERR_CORRUPT;
    return 1;
}

void FillTable(const uint8_t* data, size_t size, const Header& h, const imglib::DibView& view)
{
    if (h.outBits == 24)
        return;
    imglib::RgbQuad* table = view.Palette();
    const auto set = [table](int i, const uint8_t* rgb) { table[i] = {rgb[2], rgb[1], rgb[0], 0}; };
    if (h.outBits == 8) {
        for (int i = 0; i < 256; ++i) {
            if (h.vgaPalette) {
                set(i, data + size - kVgaPalette + 1 + 3 * i);
            } else {
                const uint8_t grey[3] = {static_cast<uint8_t>(i), static_cast<uint8_t>(i), static_cast<uint8_t>(i)};
                set(i, grey);
            }
        }
        return;
    }
    const int colours = 1 << (h.bits * h.planes);
    const uint8_t* header = data + 16;
    if (colours == 2) {
        // Files often leave the header palette empty for black and white.
        const bool usable = h.version != 3 && std::memcmp(header, header + 3, 3) != 0;
        static constexpr uint8_t kBlack[3] = {0, 0, 0};
        static constexpr uint8_t kWhite[3] = {255, 255, 255};
        set(0, usable ? header : kBlack);
        set(1, usable ? header + 3 : kWhite);
        return;
    }
    for (int i = 0; i < colours; ++i)
        set(i, h.version == 3 ? kDefaultPalette[i] : header + 3 * i);
}

// One decoded line (all planes) into a row of the block.
void PutRow(const Header& h, const uint8_t* line, uint8_t* out)
{
    const size_t bpl = h.bytesPerLine;
    const int32_t w = h.width;
    switch (h.outBits) {
    case 1:
        std::memcpy(out, line, (static_cast<size_t>(w) + 7) / 8);
        return;
    case 8:
        std::memcpy(out, line, static_cast<size_t>(w));
        return;
    case 24:
        for (int32_t x = 0; x < w; ++x) {
            out[3 * x] = line[2 * bpl + x];
            out[3 * x + 1] = line[bpl + x];
            out[3 * x + 2] = line[x];
        }
        return;
    default:
        break;
    }
    // 4-bit block from 4-bit, 2-bit or bit-plane pixels.
    if (h.bits == 4) {
        std::memcpy(out, line, (static_cast<size_t>(w) + 1) / 2);
        return;
    }
    for (int32_t x = 0; x < w; ++x) {
        unsigned index = 0;
        if (h.bits == 2) {
            index = (line[x / 4] >> (6 - 2 * (x % 4))) & 3u;
        } else {
            for (int plane = 0; plane < h.planes; ++plane)
                index |= ((line[plane * bpl + x / 8] >> (7 - x % 8)) & 1u) << plane;
        }
        uint8_t& pair = out[x / 2];
        pair = (x % 2 == 0) ? static_cast<uint8_t>((pair & 0x0F) | index << 4)
                            : static_cast<uint8_t>((pair & 0xF0) | index);
    }
}

// One bit per pixel stays 1-bit; other indexed pictures become 4-bit (up to
// 16 colours) or 8-bit, with the header's, the trailing or a grey table;
// three planes become 24-bit.
int16_t DecodePcx(const uint8_t* data, size_t size, const Progress& progress, OwnedBlock& block)
{
    Header h;
    const int16_t parsed = ParseHeader(data, size, h);
    if (parsed <= 0)
        return parsed;
    // A large picture the stream cannot fill is refused before it is made:
    // two bytes run to at most 63, one byte alone is itself.
    if (!imglib::DecodedSizeAllowed(h.width, h.height))
        return IL_ERR_TOO_LARGE;
    const uint64_t lines = static_cast<uint64_t>(h.bytesPerLine) * static_cast<uint64_t>(h.planes) *
                           static_cast<uint64_t>(h.height);
    const uint64_t stream = h.dataEnd - kHeader;
    if (!imglib::Fillable(imglib::PictureBytes(h.width, h.height, h.outBits), lines, stream / 2 + stream % 2, 63))
        return IL_ERR_CORRUPT;
    if (const int16_t made = NewPicture(block.Receive(), h.width, h.height, h.outBits); made <= 0)
        return made;
    const imglib::DibView view(block.Get());
    if (!view.Valid())
        return IL_ERR_MEMORY;
    FillTable(data, size, h, view);

    std::vector<uint8_t> line(h.bytesPerLine * static_cast<size_t>(h.planes));
    size_t p = kHeader;
    unsigned runLeft = 0;
    uint8_t runValue = 0;
    for (int32_t row = 0; row < h.height; ++row) {
        if (row % kRowsPerReport == 0 && !progress.Report(static_cast<int>(int64_t{row} * 100 / h.height)))
            return IL_ERR_CANCELLED;
        for (uint8_t& byte : line) {
            while (runLeft == 0) {
                if (p >= h.dataEnd)
                    return IL_ERR_CORRUPT;
                const uint8_t c = data[p++];
                if ((c & 0xC0) == 0xC0) {
                    if (p >= h.dataEnd)
                        return IL_ERR_CORRUPT;
                    runLeft = c & 0x3Fu;  // a run of 0 is skipped
                    runValue = data[p++];
                } else {
                    runLeft = 1;
                    runValue = c;
                }
            }
            byte = runValue;
            --runLeft;
        }
        PutRow(h, line.data(), view.Row(row));
    }
    return 1;
}

}  // namespace

int16_t InfoPcx(const uint8_t* data, size_t size, ImageInfo& info)
{
    Header h;
    const int16_t result = ParseHeader(data, size, h);
    if (result <= 0)
        return result;
    info.format = "PCX";
    info.width = h.width;
    info.height = h.height;
    info.bits = static_cast<int16_t>(h.bits * h.planes);
    info.pages = 1;
    info.orientation = 0;
    info.compression = "RLE";
    return 1;
}

int16_t ReadPcx(const uint8_t* data, size_t size, const Progress& progress, HDIB* dib)
{
    return Deliver(dib, progress, [&](OwnedBlock& block) { return DecodePcx(data, size, progress, block); });
}

}  // namespace crde
