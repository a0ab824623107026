// TIFF through libtiff from memory: any page, every photometric libtiff's
// RGBA interface knows, as a 24-bit picture with alpha laid on white.
#include "Formats.h"

#include "Colour.h"

#include "DecodeBudget.h"
#include "Dib.h"
#include "OwnedBlock.h"

#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace crde {

namespace {

// One allocation inside libtiff never exceeds a reading's whole budget.
constexpr tmsize_t kMaxSingleAllocation = static_cast<tmsize_t>(imglib::kDecodeBudget);
// A band narrower than a strip decodes that strip again from its start for
// each band: a few bands are worth a smaller buffer, many are not.
constexpr uint64_t kMaxBandsPerStrip = 4;
constexpr tdir_t kMaxPages = 32767;  // pages is 16 bits

struct TiffSource {
    const uint8_t* data = nullptr;
    size_t size = 0;
    uint64_t offset = 0;
};

tmsize_t ReadProc(thandle_t handle, void* target, tmsize_t length)
{
    auto* source = static_cast<TiffSource*>(handle);
    if (length <= 0 || source->offset >= source->size)
        return 0;
    const uint64_t n = std::min<uint64_t>(static_cast<uint64_t>(length), source->size - source->offset);
    std::memcpy(target, source->data + source->offset, static_cast<size_t>(n));
    source->offset += n;
    return static_cast<tmsize_t>(n);
}

tmsize_t WriteProc(thandle_t, void*, tmsize_t)
{
    return 0;
}

toff_t SeekProc(thandle_t handle, toff_t offset, int whence)
{
    auto* source = static_cast<TiffSource*>(handle);
    uint64_t base = 0;
    if (whence == SEEK_CUR)
        base = source->offset;
    else if (whence == SEEK_END)
        base = source->size;
    else if (whence != SEEK_SET)
        return static_cast<toff_t>(-1);
    if (offset > UINT64_MAX - base)
        return static_cast<toff_t>(-1);
    source->offset = base + offset;  // past the end is allowed; reads there give nothing
    return source->offset;
}

int CloseProc(thandle_t)
{
    return 0;
}

toff_t SizeProc(thandle_t handle)
{
    return static_cast<TiffSource*>(handle)->size;
}

// The bytes are already in memory: let libtiff read them in place.
int MapProc(thandle_t handle, void** base, toff_t* size)
{
    auto* source = static_cast<TiffSource*>(handle);
    *base = const_cast<uint8_t*>(source->data);
    *size = source->size;
    return 1;
}

void UnmapProc(thandle_t, void*, toff_t) {}

// Handled, so nothing reaches the global handlers.
int Swallow(TIFF*, void*, const char*, const char*, va_list)
{
    return 1;
}

void SilenceLibrary()
{
    // Messages raised before a TIFF exists (or by code without one) go to the
    // global handlers; the library prints nothing anywhere.
    static std::once_flag once;
    std::call_once(once, [] {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
        TIFFSetErrorHandlerExt(nullptr);
        TIFFSetWarningHandlerExt(nullptr);
    });
}

struct TiffCloser {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

struct OptionsFree {
    void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

// Opens the file on `page`; the page count goes to `pages`.
[[nodiscard]] int16_t OpenPage(TiffSource& source, int page, TiffHandle& tiff, int& pages)
{
    SilenceLibrary();
    if (source.size < 8)
        return IL_ERR_FORMAT;
    std::unique_ptr<TIFFOpenOptions, OptionsFree> options(TIFFOpenOptionsAlloc());
    if (!options)
        return IL_ERR_MEMORY;
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), kMaxSingleAllocation);
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), Swallow, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), Swallow, nullptr);
    tiff.reset(TIFFClientOpenExt("memory", "r", &source, ReadProc, WriteProc, SeekProc, CloseProc,
                                 SizeProc, MapProc, UnmapProc, options.get()));
    if (!tiff)
        return IL_ERR_CORRUPT;
    // Walks the chain of directories; libtiff stops at a loop.
    const tdir_t count = std::min(TIFFNumberOfDirectories(tiff.get()), kMaxPages);
    pages = static_cast<int>(std::max<tdir_t>(count, 1));
    if (page < 0 || page >= pages)
        return IL_ERR_PAGE;
    if (page > 0 && !TIFFSetDirectory(tiff.get(), static_cast<tdir_t>(page)))
        return IL_ERR_CORRUPT;
    return 1;
}

[[nodiscard]] const char* CompressionName(uint16_t compression)
{
    switch (compression) {
    case COMPRESSION_NONE: return "None";
    case COMPRESSION_CCITTRLE: return "CCITT RLE";
    case COMPRESSION_CCITTRLEW: return "CCITT RLEW";
    case COMPRESSION_CCITTFAX3: return "CCITT G3";
    case COMPRESSION_CCITTFAX4: return "CCITT G4";
    case COMPRESSION_LZW: return "LZW";
    case COMPRESSION_OJPEG:
    case COMPRESSION_JPEG: return "JPEG";
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE: return "Deflate";
    case COMPRESSION_PACKBITS: return "PackBits";
    case COMPRESSION_NEXT: return "NeXT";
    case COMPRESSION_THUNDERSCAN: return "ThunderScan";
    case COMPRESSION_JBIG: return "JBIG";
    case COMPRESSION_PIXARLOG: return "PixarLog";
    case COMPRESSION_SGILOG:
    case COMPRESSION_SGILOG24: return "SGILog";
    case COMPRESSION_LZMA: return "LZMA";
    case COMPRESSION_ZSTD: return "ZSTD";
    case COMPRESSION_WEBP: return "WebP";
    default: return "Unknown";
    }
}

// Decoded bytes per stored byte at most, for the codecs where that is
// known; 0 where it is not (CCITT, JPEG and the like can be far denser).
[[nodiscard]] uint64_t MaxRatio(uint16_t compression)
{
    switch (compression) {
    case COMPRESSION_NONE: return 1;
    case COMPRESSION_PACKBITS: return 64;              // 128 bytes from 2
    case COMPRESSION_LZW: return 4096;                 // a string of at most 4096 from 9 bits or more
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE: return 1032;             // 258 bytes from 2 bits
    default: return 0;
    }
}

// False when the page's strips or tiles, as far as the file holds them,
// cannot decode to its pixels: refused before the picture is made.
[[nodiscard]] bool Fillable(TIFF* tiff, size_t size, uint32_t width, uint32_t height)
{
    uint16_t compression = COMPRESSION_NONE;
    uint16_t bitsPerSample = 1;
    uint16_t samples = 1;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bitsPerSample);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    const uint64_t ratio = MaxRatio(compression);
    if (ratio == 0)
        return true;
    // Each count the file holds takes two bytes of it at least.
    const uint64_t count = std::min<uint64_t>(TIFFIsTiled(tiff) ? TIFFNumberOfTiles(tiff) : TIFFNumberOfStrips(tiff),
                                              size / 2 + 1);
    uint64_t stored = 0;
    for (uint32_t i = 0; i < count && stored < size; ++i)
        stored += TIFFGetStrileByteCount(tiff, i);
    const uint64_t packed = (uint64_t{width} * height * bitsPerSample * samples + 7) / 8;
    return imglib::Fillable(imglib::PictureBytes(width, height, 24), packed, std::min<uint64_t>(stored, size), ratio);
}

// A page opened with its width and height, neither of them 0; libtiff reads
// on from `source`, so they stay together.
struct OpenedPage {
    TiffSource source;
    TiffHandle tiff;
    int pages = 0;
    uint32_t width = 0;
    uint32_t height = 0;
};

int16_t OpenSizedPage(const uint8_t* data, size_t size, int page, OpenedPage& opened)
{
    auto& [source, tiff, pages, width, height] = opened;
    source = {data, size, 0};
    const int16_t result = OpenPage(source, page, tiff, pages);
    if (result <= 0)
        return result;
    if (!TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &width) ||
        !TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &height) || width == 0 || height == 0)
        return IL_ERR_CORRUPT;
    return 1;
}

struct RgbaImageEnd {
    void operator()(TIFFRGBAImage* image) const { TIFFRGBAImageEnd(image); }
};

[[nodiscard]] inline uint8_t OnWhite(uint32_t premultiplied, uint32_t alpha)
{
    // libtiff hands out alpha premultiplied, so white shows through by 255 - alpha.
    return static_cast<uint8_t>(std::min<uint32_t>(premultiplied + (255u - alpha), 255u));
}

int16_t DecodeTiff(const uint8_t* data, size_t size, int page, const Progress& progress, OwnedBlock& block)
{
    OpenedPage opened;
    if (const int16_t result = OpenSizedPage(data, size, page, opened); result <= 0)
        return result;
    auto& [source, tiff, pages, width, height] = opened;
    if (!imglib::DecodedSizeAllowed(width, height))
        return IL_ERR_TOO_LARGE;

    char message[1024] = {};
    if (!TIFFRGBAImageOK(tiff.get(), message))
        return IL_ERR_UNSUPPORTED;
    if (!Fillable(tiff.get(), size, width, height))
        return IL_ERR_CORRUPT;
    TIFFRGBAImage image;
    std::memset(&image, 0, sizeof image);
    if (!TIFFRGBAImageBegin(&image, tiff.get(), 1, message))
        return IL_ERR_CORRUPT;
    const std::unique_ptr<TIFFRGBAImage, RgbaImageEnd> end(&image);
    image.req_orientation = ORIENTATION_TOPLEFT;

    // Read in bands of whole strips or tiles, so that nothing is decoded
    // twice and progress can be told.
    uint32_t unit = 1;
    if (TIFFIsTiled(tiff.get())) {
        TIFFGetField(tiff.get(), TIFFTAG_TILELENGTH, &unit);
    } else {
        TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_ROWSPERSTRIP, &unit);
    }
    unit = std::clamp<uint32_t>(unit, 1, height);
    auto band = static_cast<uint32_t>(std::min<uint64_t>(uint64_t{unit} * ((32 + unit - 1) / unit), height));
    // Working memory: libtiff's buffer of one decoded strip or tile and our
    // band of 32-bit pixels, together within the budget.
    imglib::DecodeBudget budget;
    const tmsize_t unitBytes = TIFFIsTiled(tiff.get()) ? TIFFTileSize(tiff.get()) : TIFFStripSize(tiff.get());
    // Separate planes are read a unit of each at once.
    uint16_t planar = PLANARCONFIG_CONTIG;
    uint16_t samples = 1;
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
    const uint64_t units = planar == PLANARCONFIG_SEPARATE ? std::clamp<uint64_t>(samples, 1, 4) : 1;
    if (unitBytes <= 0 || static_cast<uint64_t>(unitBytes) > budget.Left() / units ||
        !budget.Take(units * static_cast<uint64_t>(unitBytes)))
        return IL_ERR_TOO_LARGE;
    const uint64_t rowBytes = uint64_t{width} * sizeof(uint32_t);
    const uint64_t fit = budget.Left() / rowBytes;
    if (fit < band) {
        if (fit == 0 || (uint64_t{unit} + fit - 1) / fit > kMaxBandsPerStrip)
            return IL_ERR_TOO_LARGE;
        band = static_cast<uint32_t>(fit);
    }
    if (!budget.Take(rowBytes * band))
        return IL_ERR_TOO_LARGE;
    // A picture stored bottom row first comes out of each band upside down
    // and so that band belongs at the other end of the picture.
    const uint16_t orientation = image.orientation;
    const bool bottomUp = orientation == ORIENTATION_BOTRIGHT || orientation == ORIENTATION_BOTLEFT ||
                          orientation == ORIENTATION_RIGHTBOT || orientation == ORIENTATION_LEFTBOT;

    block.Reset(imglib::CreateDib(static_cast<int32_t>(width), static_cast<int32_t>(height), 24));
    if (!block)
        return IL_ERR_MEMORY;
    const imglib::DibView view(block.Get());
    if (!view.Valid())
        return IL_ERR_MEMORY;
    std::vector<uint32_t> raster(static_cast<size_t>(width) * band);

    for (uint32_t y = 0; y < height; y += band) {
        if (!progress.Report(static_cast<int>(uint64_t{y} * 100 / height)))
            return IL_ERR_CANCELLED;
        const uint32_t rows = std::min(band, height - y);
        image.row_offset = static_cast<int>(y);
        image.col_offset = 0;
        if (!TIFFRGBAImageGet(&image, raster.data(), width, rows))
            return IL_ERR_CORRUPT;
        const uint32_t top = bottomUp ? height - y - rows : y;
        for (uint32_t r = 0; r < rows; ++r) {
            const uint32_t* in = raster.data() + static_cast<size_t>(r) * width;
            uint8_t* out = view.Row(static_cast<int32_t>(top + r));
            for (uint32_t x = 0; x < width; ++x) {
                const uint32_t pixel = in[x];
                const uint32_t alpha = TIFFGetA(pixel);
                out[3 * x] = OnWhite(TIFFGetB(pixel), alpha);
                out[3 * x + 1] = OnWhite(TIFFGetG(pixel), alpha);
                out[3 * x + 2] = OnWhite(TIFFGetR(pixel), alpha);
            }
        }
    }
    uint32_t iccSize = 0;
    void* icc = nullptr;
    if (TIFFGetField(tiff.get(), TIFFTAG_ICCPROFILE, &iccSize, &icc) != 0 && icc != nullptr) {
        imglib::ColourDescription colour;
        colour.icc = static_cast<const uint8_t*>(icc);
        colour.iccSize = iccSize;
        imglib::ConvertToSrgb(block.Get(), colour);
    }
    return 1;
}

}  // namespace

int16_t InfoTiff(const uint8_t* data, size_t size, int page, ImageInfo& info)
{
    OpenedPage opened;
    if (const int16_t result = OpenSizedPage(data, size, page, opened); result <= 0)
        return result;
    auto& [source, tiff, pages, width, height] = opened;
    if (width > INT32_MAX || height > INT32_MAX)
        return IL_ERR_CORRUPT;
    uint16_t bitsPerSample = 1;
    uint16_t samples = 1;
    uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_BITSPERSAMPLE, &bitsPerSample);
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_COMPRESSION, &compression);
    info.format = "TIFF";
    info.width = static_cast<int32_t>(width);
    info.height = static_cast<int32_t>(height);
    info.bits = static_cast<int16_t>(std::min<uint32_t>(uint32_t{bitsPerSample} * samples, INT16_MAX));
    info.pages = static_cast<int16_t>(pages);
    info.orientation = 0;
    info.compression = CompressionName(compression);
    return 1;
}

int16_t ReadTiff(const uint8_t* data, size_t size, int page, const Progress& progress, HDIB* dib)
{
    return Deliver(dib, progress, [&](OwnedBlock& block) { return DecodeTiff(data, size, page, progress, block); });
}

}  // namespace crde
