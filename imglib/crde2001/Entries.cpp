// The codec module's reader and writer entries: map the file, decode by the
// entry's format, deliver the depth asked for; write JPEG through a
// temporary file renamed into place.
#include "Formats.h"

#include "Convert.h"
#include "Dib.h"
#include "Guard.h"
#include "MappedFile.h"

#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace crde {

int16_t NewPicture(HDIB* dib, int64_t width, int64_t height, int bits)
{
    *dib = nullptr;
    if (!imglib::DecodedSizeAllowed(width, height))
        return IL_ERR_TOO_LARGE;
    *dib = imglib::CreateDib(static_cast<int32_t>(width), static_cast<int32_t>(height), bits);
    return *dib ? 1 : IL_ERR_MEMORY;
}

namespace {

// `decode` is a decoder of Formats.h (or one bound to a page).
template <class Decoder>
int16_t ReadFile(const char* name, Decoder decode, int bits, int dither, HDIB* out,
                 void* control, ILProgress callback)
{
    if (!out)
        return IL_ERR_ARGUMENT;
    *out = nullptr;
    imglib::MappedFile file;
    if (!file.Open(name, imglib::MappedFile::Use::Whole))
        return IL_ERR_OPEN;
    const Progress progress{control, callback};
    HDIB natural = nullptr;
    const int16_t result = decode(file.Data(), file.Size(), progress, &natural);
    if (result <= 0) {
        GlobalFree(natural);
        return result;
    }
    HDIB wanted = imglib::ToRequestedDepth(natural, bits, dither != 0);
    if (wanted != natural)
        GlobalFree(natural);
    if (!wanted)
        return IL_ERR_MEMORY;
    *out = wanted;
    return 1;
}

}  // namespace

}  // namespace crde

#define CRDE_READER(entry, decoder)                                                           \
    extern "C" IMGLIB_API int16_t entry(const char* name, int16_t bits, int16_t dither,       \
                                        HDIB* dib, ILPalette, void* control,                  \
                                        ILProgress callback, uint16_t)                        \
    {                                                                                         \
        return imglib::Guard<int16_t>(IL_ERR_UNKNOWN, [&] {                                   \
            return crde::ReadFile(name, decoder, bits, dither, dib, control, callback);       \
        });                                                                                   \
    }

CRDE_READER(rdbmpfiledib, crde::ReadBmp)
CRDE_READER(rdpngfiledib, crde::ReadPng)
CRDE_READER(rdgiffiledib, crde::ReadGif)
CRDE_READER(rdpcxfiledib, crde::ReadPcx)

extern "C" IMGLIB_API int16_t rdjpgfiledib(const char* name, int16_t bits, int16_t, int16_t dither,
                                           HDIB* dib, ILPalette, void* control,
                                           ILProgress callback, uint16_t)
{
    return imglib::Guard<int16_t>(IL_ERR_UNKNOWN, [&] {
        const auto whole = [](const uint8_t* data, size_t size, const crde::Progress& progress, HDIB* natural) {
            return crde::ReadJpeg(data, size, progress, natural);
        };
        return crde::ReadFile(name, whole, bits, dither, dib, control, callback);
    });
}

extern "C" IMGLIB_API int16_t rdjpgfiledibatleast(const char* name, int32_t width, int32_t height,
                                                  HDIB* dib, void* control, ILProgress callback, uint16_t)
{
    const auto reduced = [width, height](const uint8_t* data, size_t size, const crde::Progress& progress,
                                         HDIB* natural) {
        return crde::ReadJpeg(data, size, progress, natural, width, height);
    };
    return imglib::Guard<int16_t>(IL_ERR_UNKNOWN, [&] {
        return crde::ReadFile(name, reduced, 24, 0, dib, control, callback);
    });
}

extern "C" IMGLIB_API int16_t readtgafiledib(const char* name, int16_t bits, int16_t dither,
                                             HDIB* dib, void* control, ILProgress callback,
                                             uint16_t)
{
    return imglib::Guard<int16_t>(IL_ERR_UNKNOWN, [&] {
        return crde::ReadFile(name, crde::ReadTga, bits, dither, dib, control, callback);
    });
}

extern "C" IMGLIB_API int16_t readtiffiledib(const char* name, int16_t bits, int16_t dither,
                                             int16_t page, HDIB* dib, void* control,
                                             ILProgress callback, uint16_t)
{
    const auto decodePage = [page](const uint8_t* data, size_t size, const crde::Progress& progress,
                                   HDIB* natural) {
        return crde::ReadTiff(data, size, page, progress, natural);
    };
    return imglib::Guard<int16_t>(IL_ERR_UNKNOWN, [&] {
        return crde::ReadFile(name, decodePage, bits, dither, dib, control, callback);
    });
}

// Formats recognised but not read by this module.
extern "C" IMGLIB_API int16_t readepsfiledib(const char*, int16_t, int16_t, HDIB* dib, void*,
                                             ILProgress, uint16_t)
{
    if (dib)
        *dib = nullptr;
    return IL_ERR_UNSUPPORTED;
}

extern "C" IMGLIB_API int16_t readpcdfiledib(const char*, int16_t, int16_t, int16_t, HDIB* dib,
                                             void*, ILProgress, uint16_t)
{
    if (dib)
        *dib = nullptr;
    return IL_ERR_UNSUPPORTED;
}

extern "C" IMGLIB_API int16_t readdxftoddb(const char*, int16_t, HDIB* dib, void*, ILProgress,
                                           uint16_t)
{
    if (dib)
        *dib = nullptr;
    return IL_ERR_UNSUPPORTED;
}

extern "C" IMGLIB_API int16_t wrjpgfiledib(const char* name, int16_t quality, int16_t smoothing,
                                           int16_t colour, HDIB dib, void* control,
                                           ILProgress callback, uint16_t)
{
    return imglib::Guard<int16_t>(IL_ERR_UNKNOWN, [&]() -> int16_t {
        if (!name || !*name || quality < 1 || quality > 100 || smoothing < 0 || smoothing > 100 ||
            (colour != 1 && colour != 24))
            return IL_ERR_ARGUMENT;
        std::string bytes;
        const int16_t result = crde::WriteJpeg(dib, quality, smoothing, colour == 1,
                                               crde::Progress{control, callback}, bytes);
        if (result <= 0)
            return result;
        // Beside the target and renamed into place: a crash never leaves half a file.
        std::string temporary = std::string(name) + ".XXXXXX";
        const int fd = mkstemp(temporary.data());
        if (fd < 0)
            return IL_ERR_WRITE;
        size_t written = 0;
        while (written < bytes.size()) {
            const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
            if (n <= 0)
                break;
            written += static_cast<size_t>(n);
        }
        // mkstemp makes the file private; a photo for the web is as readable as any file.
        const mode_t mask = umask(0);
        umask(mask);
        bool ok = written == bytes.size();
        ok = fchmod(fd, 0666 & ~mask) == 0 && ok;
        // On disk before the rename, or a power cut can leave an empty photo behind.
        ok = ::fsync(fd) == 0 && ok;
        ok = ::close(fd) == 0 && ok;
        if (!ok || std::rename(temporary.c_str(), name) != 0) {
            ::unlink(temporary.c_str());
            return IL_ERR_WRITE;
        }
        return 1;
    });
}
