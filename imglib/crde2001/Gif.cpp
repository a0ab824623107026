// GIF through giflib from memory: the first frame on the logical screen.
#include "Formats.h"

#include "DecodeBudget.h"
#include "Dib.h"
#include "OwnedBlock.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace crde {

namespace {

// pages is 16 bits; counting stops there.
constexpr int kMaxFrames = 32767;

struct GifSource {
    const uint8_t* data = nullptr;
    size_t size = 0;
    size_t offset = 0;
};

int ReadFromMemory(GifFileType* gif, GifByteType* target, int length)
{
    auto* source = static_cast<GifSource*>(gif->UserData);
    if (length <= 0)
        return 0;
    const size_t n = std::min(static_cast<size_t>(length), source->size - source->offset);
    std::memcpy(target, source->data + source->offset, n);
    source->offset += n;
    return static_cast<int>(n);
}

struct GifCloser {
    void operator()(GifFileType* gif) const
    {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};
using GifHandle = std::unique_ptr<GifFileType, GifCloser>;

[[nodiscard]] int16_t FailureOf(int error)
{
    switch (error) {
    case D_GIF_ERR_NOT_GIF_FILE: return IL_ERR_FORMAT;
    case D_GIF_ERR_NOT_ENOUGH_MEM: return IL_ERR_MEMORY;
    default: return IL_ERR_CORRUPT;
    }
}

// What is known once the first frame's descriptor has been read.
struct FirstFrame {
    int left = 0, top = 0, width = 0, height = 0;
    bool interlaced = false;
    int transparent = NO_TRANSPARENT_COLOR;
    const ColorMapObject* colours = nullptr;  // owned by giflib, local or global
    int32_t canvasWidth = 0, canvasHeight = 0;
};

// A file read up to its first frame's pixel data; giflib reads on from
// `source`, so the three stay together.
struct OpenedGif {
    GifSource source;
    GifHandle gif;
    FirstFrame frame;
};

[[nodiscard]] int16_t OpenFirstFrame(const uint8_t* data, size_t size, OpenedGif& opened)
{
    auto& [source, gif, frame] = opened;
    source = {data, size, 0};
    int error = 0;
    gif.reset(DGifOpen(&source, ReadFromMemory, &error));
    if (!gif)
        return FailureOf(error);
    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif.get(), &type) == GIF_ERROR)
            return FailureOf(gif->Error);
        if (type == TERMINATE_RECORD_TYPE)
            return IL_ERR_CORRUPT;  // no picture at all
        if (type == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* block = nullptr;
            if (DGifGetExtension(gif.get(), &code, &block) == GIF_ERROR)
                return FailureOf(gif->Error);
            if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4) {
                GraphicsControlBlock control;
                if (DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK)
                    frame.transparent = control.TransparentColor;
            }
            while (block) {
                if (DGifGetExtensionNext(gif.get(), &block) == GIF_ERROR)
                    return FailureOf(gif->Error);
            }
            continue;
        }
        if (type != IMAGE_DESC_RECORD_TYPE)
            return IL_ERR_CORRUPT;
        if (DGifGetImageDesc(gif.get()) == GIF_ERROR)
            return FailureOf(gif->Error);
        const GifImageDesc& desc = gif->Image;
        frame.left = desc.Left;
        frame.top = desc.Top;
        frame.width = desc.Width;
        frame.height = desc.Height;
        frame.interlaced = desc.Interlace;
        frame.colours = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
        if (frame.width <= 0 || frame.height <= 0)
            return IL_ERR_CORRUPT;
        if (!frame.colours || frame.colours->ColorCount <= 0 || frame.colours->ColorCount > 256 ||
            !frame.colours->Colors)
            return IL_ERR_CORRUPT;
        // A frame reaching past the logical screen (or a screen of 0 × 0, as
        // some writers leave it) widens the picture rather than losing pixels.
        frame.canvasWidth = std::max(gif->SWidth, frame.left + frame.width);
        frame.canvasHeight = std::max(gif->SHeight, frame.top + frame.height);
        return 1;
    }
}

// Skips the compressed data of the frame whose descriptor was just read.
[[nodiscard]] bool SkipFrameData(GifFileType* gif)
{
    int codeSize = 0;
    GifByteType* block = nullptr;
    if (DGifGetCode(gif, &codeSize, &block) == GIF_ERROR)
        return false;
    while (block) {
        if (DGifGetCodeNext(gif, &block) == GIF_ERROR)
            return false;
    }
    return true;
}

// Skips a run of data sub-blocks ending with an empty one; false when the
// data ends first.
[[nodiscard]] bool SkipSubBlocks(const GifSource& source, size_t& at)
{
    while (at < source.size) {
        const size_t length = source.data[at];
        ++at;
        if (length == 0)
            return true;
        at += length;
    }
    return false;
}

// Frames after the first, counted by walking the blocks that follow it:
// giflib would keep a record of every frame, which a file of many thousand
// tiny frames turns into quadratic work. A damaged tail ends the count: the
// first frame is still a picture.
[[nodiscard]] int CountFrames(GifFileType* gif, const GifSource& source)
{
    int frames = 1;
    if (!SkipFrameData(gif))
        return frames;
    // giflib asks for exactly the bytes it parses, so the offset is at the next block.
    size_t at = source.offset;
    while (frames < kMaxFrames && at < source.size) {
        const uint8_t type = source.data[at];
        if (type == 0x21) {  // extension: label, then sub-blocks
            at += 2;
            if (!SkipSubBlocks(source, at))
                break;
        } else if (type == 0x2C) {  // image: descriptor, local colours, code size, sub-blocks
            if (source.size - at < 11)
                break;
            const uint8_t flags = source.data[at + 9];
            at += 10;
            if (flags & 0x80)
                at += size_t{3} << ((flags & 7) + 1);
            ++at;
            if (!SkipSubBlocks(source, at))
                break;
            ++frames;
        } else {
            break;  // the trailer, or something that is not GIF
        }
    }
    return frames;
}

[[nodiscard]] int BitsOfColours(int count)
{
    int bits = 1;
    while ((1 << bits) < count && bits < 8)
        ++bits;
    return bits;
}

// Indices are 16 bits wide: white added to a full map is entry 256.
void PackRow(const uint16_t* indices, int32_t width, int bits, const std::vector<imglib::RgbQuad>& table,
             uint8_t* out)
{
    if (bits == 8) {
        for (int32_t x = 0; x < width; ++x)
            out[x] = static_cast<uint8_t>(indices[x]);
    } else if (bits == 24) {
        for (int32_t x = 0; x < width; ++x) {
            const imglib::RgbQuad& c = table[indices[x]];
            out[3 * x] = c.blue;
            out[3 * x + 1] = c.green;
            out[3 * x + 2] = c.red;
        }
    } else {
        const int perByte = 8 / bits;
        std::memset(out, 0, static_cast<size_t>((static_cast<int64_t>(width) * bits + 7) / 8));
        for (int32_t x = 0; x < width; ++x) {
            const int shift = 8 - bits * (1 + x % perByte);
            out[x / perByte] |= static_cast<uint8_t>(indices[x] << shift);
        }
    }
}

int16_t DecodeGif(const uint8_t* data, size_t size, const Progress& progress, OwnedBlock& block)
{
    OpenedGif opened;
    if (const int16_t result = OpenFirstFrame(data, size, opened); result <= 0)
        return result;
    auto& [source, gif, frame] = opened;
    const int32_t width = frame.canvasWidth;
    const int32_t height = frame.canvasHeight;
    if (!imglib::DecodedSizeAllowed(width, height))
        return IL_ERR_TOO_LARGE;
    // giflib's own buffers are small and fixed. A large frame its data cannot
    // fill is refused before the picture is made: a code takes two bits or
    // more and gives at most 4096 pixels.
    const uint64_t framePixels = static_cast<uint64_t>(frame.width) * static_cast<uint64_t>(frame.height);
    if (!imglib::Fillable(imglib::PictureBytes(width, height, 8), framePixels, size - source.offset, 4 * 4096))
        return IL_ERR_CORRUPT;

    // The table: the frame's colours, the transparent one white, and white
    // added when the frame leaves some of the screen uncovered and has none.
    const int count = frame.colours->ColorCount;
    std::vector<imglib::RgbQuad> table(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        const GifColorType& c = frame.colours->Colors[i];
        table[i] = {c.Blue, c.Green, c.Red, 0};
    }
    if (frame.transparent >= 0 && frame.transparent < count)
        table[frame.transparent] = {255, 255, 255, 0};
    const bool uncovered = frame.left > 0 || frame.top > 0 || frame.left + frame.width < width ||
                           frame.top + frame.height < height;
    int white = 0;
    if (uncovered) {
        const auto found = std::find_if(table.begin(), table.end(), [](const imglib::RgbQuad& c) {
            return c.blue == 255 && c.green == 255 && c.red == 255;
        });
        if (found == table.end())
            table.push_back({255, 255, 255, 0});
        white = static_cast<int>(std::find_if(table.begin(), table.end(), [](const imglib::RgbQuad& c) {
                                     return c.blue == 255 && c.green == 255 && c.red == 255;
                                 }) - table.begin());
    }
    const int colours = static_cast<int>(table.size());
    // A full 256-colour map with white added no longer fits an indexed block.
    const int dibBits = colours <= 2 ? 1 : colours <= 16 ? 4 : colours <= 256 ? 8 : 24;

    block.Reset(imglib::CreateDib(width, height, dibBits, dibBits == 24 ? 0 : colours));
    if (!block)
        return IL_ERR_MEMORY;
    const imglib::DibView view(block.Get());
    if (!view.Valid())
        return IL_ERR_MEMORY;
    if (dibBits != 24)
        std::memcpy(view.Palette(), table.data(), table.size() * sizeof(imglib::RgbQuad));

    std::vector<uint16_t> canvasRow(static_cast<size_t>(width), static_cast<uint16_t>(white));
    if (uncovered) {
        for (int32_t y = 0; y < height; ++y)
            PackRow(canvasRow.data(), width, dibBits, table, view.Row(y));
    }

    std::vector<GifPixelType> line(static_cast<size_t>(frame.width));
    static constexpr int kStart[] = {0, 4, 2, 1};
    static constexpr int kStep[] = {8, 8, 4, 2};
    int pass = 0;
    int frameRow = 0;
    for (int stored = 0; stored < frame.height; ++stored) {
        if (stored % 16 == 0 && !progress.Report(static_cast<int>(int64_t{stored} * 100 / frame.height)))
            return IL_ERR_CANCELLED;
        if (DGifGetLine(gif.get(), line.data(), frame.width) == GIF_ERROR)
            return FailureOf(gif->Error);
        if (frame.interlaced) {
            if (stored > 0) {
                frameRow += kStep[pass];
                while (frameRow >= frame.height && pass < 3) {
                    ++pass;
                    frameRow = kStart[pass];
                }
                if (frameRow >= frame.height)
                    return IL_ERR_CORRUPT;
            }
        } else {
            frameRow = stored;
        }
        for (int x = 0; x < frame.width; ++x) {
            // Indices past a short colour map show the first colour.
            const int index = line[x] < count ? line[x] : 0;
            canvasRow[static_cast<size_t>(frame.left + x)] = static_cast<uint16_t>(index);
        }
        PackRow(canvasRow.data(), width, dibBits, table, view.Row(frame.top + frameRow));
    }
    return 1;
}

}  // namespace

int16_t InfoGif(const uint8_t* data, size_t size, ImageInfo& info)
{
    OpenedGif opened;
    if (const int16_t result = OpenFirstFrame(data, size, opened); result <= 0)
        return result;
    auto& [source, gif, frame] = opened;
    info.format = "GIF";
    info.width = frame.canvasWidth;
    info.height = frame.canvasHeight;
    info.bits = static_cast<int16_t>(BitsOfColours(frame.colours->ColorCount));
    info.pages = static_cast<int16_t>(CountFrames(gif.get(), source));
    info.orientation = 0;
    info.compression = "LZW";
    return 1;
}

int16_t ReadGif(const uint8_t* data, size_t size, const Progress& progress, HDIB* dib)
{
    return Deliver(dib, progress, [&](OwnedBlock& block) { return DecodeGif(data, size, progress, block); });
}

}  // namespace crde
