// File information: the format by content, then that format's figures.
#include "Formats.h"

#include "Guard.h"
#include "MappedFile.h"

#include <algorithm>
#include <cstring>

namespace crde {

namespace {

bool StartsWith(const uint8_t* data, size_t size, const char* magic, size_t length)
{
    return size >= length && std::memcmp(data, magic, length) == 0;
}

// Truevision TGA has no signature: trust a v2 footer, else a plausible header.
bool LooksLikeTga(const uint8_t* data, size_t size)
{
    static const char kFooter[] = "TRUEVISION-XFILE.";
    if (size >= 26 + 18 && std::memcmp(data + size - 18, kFooter, 18) == 0)
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
    if (format.empty())
        return IL_ERR_FORMAT;
    return IL_ERR_UNSUPPORTED;  // recognised, not read by this module
}

}  // namespace

}  // namespace crde

using crde::ImageInfo;

extern "C" IMGLIB_API int16_t fileinfo(const char* name, char* formatName, int32_t* width,
                                       int32_t* height, int16_t* bits, int16_t* figure1,
                                       int16_t* figure2, char* compressionName, uint16_t)
{
    return imglib::Guard<int16_t>(IL_ERR_UNKNOWN, [&]() -> int16_t {
        imglib::MappedFile file;
        if (!file.Open(name))
            return IL_ERR_OPEN;
        ImageInfo info;
        const std::string format = crde::DetectFormat(file.Data(), file.Size());
        const int16_t result = crde::InfoFor(format, file.Data(), file.Size(), 0, info);
        if (result <= 0)
            return result;
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
        imglib::MappedFile file;
        if (!file.Open(name))
            return IL_ERR_OPEN;
        if (crde::DetectFormat(file.Data(), file.Size()) != "TIFF")
            return IL_ERR_FORMAT;
        ImageInfo info;
        const int16_t result = crde::InfoTiff(file.Data(), file.Size(), page, info);
        if (result <= 0)
            return result;
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
