// File information: the format by content, then that format's figures.
#include "Formats.h"
#include "HeifBrand.h"

#include "FileBytes.h"
#include "Guard.h"

#include <algorithm>
#include <cstring>

namespace crde {

namespace {

bool StartsWith(const uint8_t* data, size_t size, const char* magic, size_t length)
{
    return size >= length && std::memcmp(data, magic, length) == 0;
}

// A TGA v2 file ends in this, with its terminating zero.
constexpr char kTgaFooter[] = "TRUEVISION-XFILE.";
constexpr size_t kTgaFooterSize = sizeof kTgaFooter;  // 18
constexpr size_t kTgaExtensionSize = 26;

// Truevision TGA has no signature: trust a v2 footer, else a plausible header.
bool LooksLikeTga(const uint8_t* data, size_t size)
{
    if (size >= kTgaExtensionSize + kTgaFooterSize &&
        std::memcmp(data + size - kTgaFooterSize, kTgaFooter, kTgaFooterSize) == 0)
        return true;
    if (size < 18)
        return false;
    const uint8_t mapType = data[1];
    const uint8_t type = data[2];
    const uint8_t depth = data[16];
    const bool typeOk = type == 1 || type == 2 || type == 3 || type == 9 || type == 10 || type == 11;
    const bool depthOk = depth == 8 || depth == 15 || depth == 16 || depth == 24 || depth == 32;
    const uint16_t width = static_cast<uint16_t>(data[12] | data[13] << 8);
    const uint16_t height = static_cast<uint16_t>(data[14] | data[15] << 8);
    return mapType <= 1 && typeOk && depthOk && width > 0 && height > 0 && (data[17] & 0xC0) == 0;
}

bool LooksLikeDxf(const uint8_t* data, size_t size)
{
    // "  0\nSECTION" with any spacing and line ends.
    size_t i = 0;
    while (i < size && i < 16 && (data[i] == ' ' || data[i] == '\t'))
        ++i;
    if (i >= size || data[i] != '0')
        return false;
    ++i;
    while (i < size && i < 24 && (data[i] == '\r' || data[i] == '\n' || data[i] == ' '))
        ++i;
    return StartsWith(data + i, size - i, "SECTION", 7);
}

void CopyText(char* target, size_t capacity, const std::string& text)
{
    if (!target || capacity == 0)
        return;
    const size_t n = std::min(capacity - 1, text.size());
    std::memcpy(target, text.data(), n);
    target[n] = '\0';
}

}  // namespace

std::string DetectFormat(const uint8_t* data, size_t size)
{
    if (StartsWith(data, size, "\xFF\xD8\xFF", 3))
        return "JPEG";
    if (StartsWith(data, size, "\x89PNG\r\n\x1A\n", 8))
        return "PNG";
    if (StartsWith(data, size, "GIF87a", 6) || StartsWith(data, size, "GIF89a", 6))
        return "GIF";
    // Classic and BigTIFF headers.
    if (StartsWith(data, size, "II*\0", 4) || StartsWith(data, size, "MM\0*", 4) ||
        StartsWith(data, size, "II+\0", 4) || StartsWith(data, size, "MM\0+", 4))
        return "TIFF";
    if (StartsWith(data, size, "BM", 2) && size >= 26)
        return "BMP";
    if (size >= 128 && data[0] == 0x0A && data[1] <= 5 && data[2] == 1 &&
        (data[3] == 1 || data[3] == 2 || data[3] == 4 || data[3] == 8))
        return "PCX";
    if (StartsWith(data, size, "%!PS", 4) || StartsWith(data, size, "\xC5\xD0\xD3\xC6", 4))
        return "EPS";
    if (size >= 2048 + 7 && std::memcmp(data + 2048, "PCD_IPI", 7) == 0)
        return "PCD";
    if (LooksLikeDxf(data, size))
        return "DXF";
    if (std::string brand = HeifBrand(data, size); !brand.empty())
        return brand;
    if (StartsWith(data, size, "RIFF", 4) && size >= 12 && std::memcmp(data + 8, "WEBP", 4) == 0)
        return "WEBP";
    if (LooksLikeTga(data, size))
        return "TGA";
    return {};
}

namespace {

int16_t InfoFor(const std::string& format, const uint8_t* data, size_t size, int page, ImageInfo& info)
{
    info.format = format;
    if (format == "JPEG")
        return InfoJpeg(data, size, info);
    if (format == "PNG")
        return InfoPng(data, size, info);
    if (format == "GIF")
        return InfoGif(data, size, info);
    if (format == "TIFF")
        return InfoTiff(data, size, page, info);
    if (format == "BMP")
        return InfoBmp(data, size, info);
    if (format == "TGA")
        return InfoTga(data, size, info);
    if (format == "PCX")
        return InfoPcx(data, size, info);
    if (format == "HEIF" || format == "AVIF")
        return InfoHeif(data, size, info);
    if (format == "WEBP")
        return InfoWebp(data, size, info);
    if (format.empty())
        return IL_ERR_FORMAT;
    return IL_ERR_UNSUPPORTED;  // recognised, not read by this module
}

// Header queries read the start of the file, not all of it: a 100 MB photo
// states its size in its first bytes. DetectFormat decides by the first
// 2055 bytes, or by a TGA's footer.
constexpr uint64_t kFirstBytes = 64 * 1024;
// A header that does not fit the bytes read (a JPEG's many APP segments, a
// TGA's long colour map) is tried again with this many times more.
constexpr uint64_t kGrowth = 16;

// The format of an open file of which at least the first kFirstBytes (or
// all) are read: what DetectFormat says of the whole file.
std::string FormatOf(const imglib::FileBytes& file)
{
    std::string format = DetectFormat(file.Data(), file.Size());
    if (format.empty() && !file.Whole() && file.FileSize() >= kTgaExtensionSize + kTgaFooterSize) {
        uint8_t footer[kTgaFooterSize];
        if (file.ReadAt(file.FileSize() - kTgaFooterSize, footer, sizeof footer) &&
            std::memcmp(footer, kTgaFooter, kTgaFooterSize) == 0)
            format = "TGA";
    }
    return format;
}

// The figures of `format` read from as few of the file's bytes as give the
// whole file's answer. GIF frames and TIFF pages are counted through the
// whole file (the last frame or IFD may be anywhere), so those read it all.
// The other formats' header parsers check the size only as "are there
// enough bytes", so a success on the first bytes is the whole file's answer;
// a failure is tried again on more bytes until the whole file has been read.
int16_t InfoOfFile(imglib::FileBytes& file, const std::string& format, int page, ImageInfo& info)
{
    if (format == "GIF" || format == "TIFF") {
        if (const int16_t read = file.ReadAll(); read <= 0)
            return read;
    }
    for (;;) {
        info = ImageInfo{};
        const int16_t result = InfoFor(format, file.Data(), file.Size(), page, info);
        if (result > 0 || file.Whole() || format.empty() || format == "EPS" || format == "PCD" ||
            format == "DXF")
            return result;
        if (const int16_t read = file.ReadFirst(file.Size() * kGrowth); read <= 0)
            return read;
    }
}

// Opens `name` and reads its first `count` bytes.
int16_t OpenForInfo(const char* name, imglib::FileBytes& file, uint64_t count = kFirstBytes)
{
    if (const int16_t opened = file.Open(name); opened <= 0)
        return opened;
    return file.ReadFirst(count);
}

}  // namespace

}  // namespace crde

using crde::ImageInfo;

extern "C" IMGLIB_API int16_t fileinfo(const char* name, char* formatName, int32_t* width,
                                       int32_t* height, int16_t* bits, int16_t* figure1,
                                       int16_t* figure2, char* compressionName, uint16_t)
{
    return imglib::Guard<int16_t>(IL_ERR_UNKNOWN, [&]() -> int16_t {
        imglib::FileBytes file;
        if (const int16_t opened = crde::OpenForInfo(name, file); opened <= 0)
            return opened;
        ImageInfo info;
        const int16_t result = crde::InfoOfFile(file, crde::FormatOf(file), 0, info);
        if (result <= 0)
            return result;
        // Figures of a file that changed while it was read may be half old, half new.
        if (!file.Unchanged())
            return IL_ERR_OPEN;
        crde::CopyText(formatName, IL_FORMAT_NAME_SIZE, info.format);
        crde::CopyText(compressionName, IL_COMPRESSION_NAME_SIZE, info.compression);
        if (width)
            *width = info.width;
        if (height)
            *height = info.height;
        if (bits)
            *bits = info.bits;
        if (figure1)
            *figure1 = info.pages;
        if (figure2)
            *figure2 = info.orientation;
        return 1;
    });
}

extern "C" IMGLIB_API int16_t getinfo(const char* name, int16_t page, int32_t* width,
                                      int32_t* height, int16_t* bits, int16_t* pageCount,
                                      char* compressionName, uint16_t)
{
    return imglib::Guard<int16_t>(IL_ERR_UNKNOWN, [&]() -> int16_t {
        imglib::FileBytes file;
        // A TIFF is known by its first four bytes; only a TIFF is read on.
        if (const int16_t opened = crde::OpenForInfo(name, file, 4); opened <= 0)
            return opened;
        if (crde::DetectFormat(file.Data(), file.Size()) != "TIFF")
            return IL_ERR_FORMAT;
        ImageInfo info;
        const int16_t result = crde::InfoOfFile(file, "TIFF", page, info);
        if (result <= 0)
            return result;
        if (!file.Unchanged())
            return IL_ERR_OPEN;
        crde::CopyText(compressionName, IL_COMPRESSION_NAME_SIZE, info.compression);
        if (width)
            *width = info.width;
        if (height)
            *height = info.height;
        if (bits)
            *bits = info.bits;
        if (pageCount)
            *pageCount = info.pages;
        return 0;
    });
}

extern "C" IMGLIB_API int16_t getdxfinfo(const char*, int32_t*, int32_t*, int16_t*, uint16_t)
{
    return IL_ERR_UNSUPPORTED;
}
