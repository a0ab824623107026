#pragma once

// The codec module's formats, each a decoder over bytes in memory. The C
// entries (Entries.cpp, Info.cpp) read the file, pick the decoder and turn its
// picture into the depth the caller asked for; the fuzz targets call the
// decoders directly.
//
// Every function returns > 0 on success or an IL_ERR_* number, never throws
// on bad data (memory exhaustion may throw std::bad_alloc, which the entry's
// guard turns into a failure), never reads outside [data, data + size), and
// refuses a picture that DecodedSizeAllowed() refuses before allocating it.
// A decoder that fails, however far it got (truncated data, a cancel),
// leaves *dib null: the block is the caller's only on success (Deliver).
// A reader's working memory besides its picture, its library's included, is
// counted against imglib::DecodeBudget (DecodeBudget.h): past it the reading
// fails with IL_ERR_TOO_LARGE. A picture over kAllocatedOnTrust bytes that
// the file's remaining bytes cannot fill is refused before it is allocated:
// IL_ERR_CORRUPT (it could only end truncated), or IL_ERR_TOO_LARGE for a
// run-length BMP, whose skips could legally leave most of it unwritten.

#include "Dib.h"
#include "OwnedBlock.h"
#include "imglib.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace crde {

struct ImageInfo {
    std::string format;       // "JPEG", "PNG", ... as fileinfo reports it
    int32_t width = 0;        // as the picture will be read (upright for JPEG)
    int32_t height = 0;
    int16_t bits = 0;         // bits per pixel of the file's picture (1, 4, 8, 16, 24, 32...)
    int16_t pages = 1;        // pages (TIFF) or frames (GIF)
    int16_t orientation = 0;  // EXIF orientation 1..8, 0 when none
    std::string compression;  // e.g. "JPEG", "LZW", "RLE8", "None"
};

// Progress of a decoder: ReportProgress returns false when asked to stop.
struct Progress {
    void* control = nullptr;
    ILProgress callback = nullptr;
    [[nodiscard]] bool Report(int percent) const
    {
        return callback == nullptr || callback(percent, control) != 0;
    }
};

// Every decoder's end: `decode` makes the picture in `block`; the last
// report (100) may still cancel; *dib gets the picture when both succeed and
// stays null whatever else happens.
template <class Decode>
int16_t Deliver(HDIB* dib, const Progress& progress, Decode&& decode)
{
    if (!dib)
        return IL_ERR_ARGUMENT;
    *dib = nullptr;
    OwnedBlock block;
    const int16_t result = decode(block);
    if (result <= 0)
        return result;
    if (!progress.Report(100))
        return IL_ERR_CANCELLED;
    *dib = block.Release();
    return 1;
}

// Decoders give the picture at its natural depth: 1, 4 or 8 bits with a
// colour table, or 24 bits (blue, green, red). `page` is the TIFF page.
int16_t InfoJpeg(const uint8_t* data, size_t size, ImageInfo& info);
// With a size given, the picture may come out reduced 2, 4 or 8 times (by the
// inverse DCT, far faster than decoding it whole) as long as it keeps at
// least that size, upright.
int16_t ReadJpeg(const uint8_t* data, size_t size, const Progress& progress, HDIB* dib,
                 int32_t atLeastWidth = 0, int32_t atLeastHeight = 0);
// The JPEG file for a 24-bit (or any uncompressed) block; `grey` writes one channel.
int16_t WriteJpeg(HDIB dib, int quality, int smoothing, bool grey, const Progress& progress,
                  std::string& out);

// ReadJpeg's picture handed to `sink` in bands of rows as they are decoded
// (see rdjpgrowsatleast).
int16_t ReadJpegRows(const uint8_t* data, size_t size, const Progress& progress, int32_t atLeastWidth,
                     int32_t atLeastHeight, ILRowSink sink, void* sinkData);
// WriteJpeg's file of a 24-bit picture from rows handed in one band at a
// time. Any failure sticks: later calls return it.
class JpegRows {
public:
    JpegRows();
    ~JpegRows();
    JpegRows(const JpegRows&) = delete;
    JpegRows& operator=(const JpegRows&) = delete;
    int16_t Start(int32_t width, int32_t height, int quality, int smoothing);
    int16_t Put(const uint8_t* const* rows, int32_t count);
    // The file's bytes once every row is in.
    int16_t Finish(std::string& out);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

int16_t InfoPng(const uint8_t* data, size_t size, ImageInfo& info);
int16_t ReadPng(const uint8_t* data, size_t size, const Progress& progress, HDIB* dib);

int16_t InfoGif(const uint8_t* data, size_t size, ImageInfo& info);
int16_t ReadGif(const uint8_t* data, size_t size, const Progress& progress, HDIB* dib);

int16_t InfoTiff(const uint8_t* data, size_t size, int page, ImageInfo& info);
int16_t ReadTiff(const uint8_t* data, size_t size, int page, const Progress& progress, HDIB* dib);

int16_t InfoBmp(const uint8_t* data, size_t size, ImageInfo& info);
int16_t ReadBmp(const uint8_t* data, size_t size, const Progress& progress, HDIB* dib);

int16_t InfoTga(const uint8_t* data, size_t size, ImageInfo& info);
int16_t ReadTga(const uint8_t* data, size_t size, const Progress& progress, HDIB* dib);

int16_t InfoPcx(const uint8_t* data, size_t size, ImageInfo& info);
int16_t ReadPcx(const uint8_t* data, size_t size, const Progress& progress, HDIB* dib);

// HEIF and AVIF: the primary image, turned and mirrored as the file says
// (its EXIF orientation is not applied on top), 8 bits a channel, alpha
// laid on white, in sRGB. The size is the picture as shown.
int16_t InfoHeif(const uint8_t* data, size_t size, ImageInfo& info);
int16_t ReadHeif(const uint8_t* data, size_t size, const Progress& progress, HDIB* dib);

// WebP: a still picture or an animation's first frame, alpha laid on
// white, in sRGB.
int16_t InfoWebp(const uint8_t* data, size_t size, ImageInfo& info);
int16_t ReadWebp(const uint8_t* data, size_t size, const Progress& progress, HDIB* dib);

// The start of every decode: a new block in *dib for a width × height picture
// of `bits` bits, or IL_ERR_TOO_LARGE / IL_ERR_MEMORY with *dib null.
inline int16_t NewPicture(HDIB* dib, int64_t width, int64_t height, int bits)
{
    *dib = nullptr;
    if (!imglib::DecodedSizeAllowed(width, height))
        return IL_ERR_TOO_LARGE;
    *dib = imglib::CreateDib(static_cast<int32_t>(width), static_cast<int32_t>(height), bits);
    return *dib ? 1 : IL_ERR_MEMORY;
}

// The format by its first bytes: "JPEG", "PNG", "GIF", "TIFF", "BMP", "PCX",
// "EPS", "PCD", "DXF", "HEIF", "AVIF" (by the brands of the ftyp box),
// "WEBP", "TGA" (checked last: it has no signature), or "".
std::string DetectFormat(const uint8_t* data, size_t size);

}  // namespace crde
