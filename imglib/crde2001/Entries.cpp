// The codec module's reader and writer entries: read the file into memory,
// decode by the entry's format, deliver the depth asked for; write JPEG
// through a temporary file renamed into place.
#include "Formats.h"

#include "Convert.h"
#include "Dib.h"
#include "FileBytes.h"
#include "Guard.h"
#include "OwnedBlock.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/random.h>
#include <unistd.h>

namespace crde {

namespace {

// `decode` is a decoder of Formats.h (or one bound to a page).
template <class Decoder>
int16_t ReadFile(const char* name, Decoder decode, int bits, int dither, HDIB* out,
                 void* control, ILProgress callback)
{
    if (!out)
        return IL_ERR_ARGUMENT;
    *out = nullptr;
    imglib::FileBytes file;
    if (const int16_t loaded = file.Load(name); loaded <= 0)
        return loaded;
    const Progress progress{control, callback};
    OwnedBlock natural;
    const int16_t result = decode(file.Data(), file.Size(), progress, natural.Receive());
    // The file's bytes are not needed for the depth step: not both at once.
    file.Release();
    if (result <= 0)
        return result;
    // Changed while it was decoded (the progress callback runs events): the
    // picture is no longer what the file holds, so it is not delivered.
    if (!file.Unchanged())
        return IL_ERR_OPEN;
    const HDIB wanted = imglib::ToRequestedDepth(natural.Get(), bits, dither != 0);
    if (!wanted)
        return IL_ERR_MEMORY;
    // The same block when it had that depth already, else a new one.
    *out = wanted == natural.Get() ? natural.Release() : wanted;
    return 1;
}

// Six letters for a temporary name. A clash only costs another try (O_EXCL),
// so a counter will do when the kernel has no random bytes yet.
std::string RandomLetters()
{
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static std::atomic<uint64_t> counter{0};
    uint64_t bits = 0;
    if (getrandom(&bits, sizeof bits, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bits))
        bits = (static_cast<uint64_t>(getpid()) << 32) ^ counter++;
    std::string letters;
    for (int i = 0; i < 6; ++i, bits /= sizeof kLetters - 1)
        letters += kLetters[bits % (sizeof kLetters - 1)];
    return letters;
}

// A new file beside `target` under a short name of its own, for writing:
// `target` + a suffix would pass the 255-byte limit of a file name when the
// target's name is long. Created like any new file (mode 0666 less the umask,
// or the folder's default ACL), so the renamed photo is as readable as any.
// -1 when none can be made.
int CreateBeside(const std::string& target, std::string& temporary)
{
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    for (int attempt = 0; attempt < 64; ++attempt) {
        temporary = folder + ".snimkorez-" + RandomLetters();
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// Beside the target and renamed into place: a crash never leaves half a file.
int16_t WriteBeside(const char* name, const std::string& bytes)
{
    std::string temporary;
    const int fd = CreateBeside(name, temporary);
    if (fd < 0)
        return IL_ERR_WRITE;
    size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        written += static_cast<size_t>(n);
    }
    bool ok = written == bytes.size();
    // On disk before the rename, or a power cut can leave an empty photo behind.
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    if (!ok || std::rename(temporary.c_str(), name) != 0) {
        ::unlink(temporary.c_str());
        return IL_ERR_WRITE;
    }
    return 1;
}

}  // namespace

}  // namespace crde

struct ILJpegRows {
    crde::JpegRows rows;
    std::string name;
};

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
CRDE_READER(rdheiffiledib, crde::ReadHeif)
CRDE_READER(rdwebpfiledib, crde::ReadWebp)

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
        return crde::WriteBeside(name, bytes);
    });
}

extern "C" IMGLIB_API int16_t rdjpgrowsatleast(const char* name, int32_t width, int32_t height, ILRowSink sink,
                                               void* data, void* control, ILProgress callback, uint16_t)
{
    return imglib::Guard<int16_t>(IL_ERR_UNKNOWN, [&]() -> int16_t {
        if (!sink)
            return IL_ERR_ARGUMENT;
        imglib::FileBytes file;
        if (const int16_t loaded = file.Load(name); loaded <= 0)
            return loaded;
        const int16_t result =
            crde::ReadJpegRows(file.Data(), file.Size(), crde::Progress{control, callback}, width, height, sink, data);
        if (result <= 0)
            return result;
        // The rows handed out may not be what the file holds now.
        return file.Unchanged() ? result : static_cast<int16_t>(IL_ERR_OPEN);
    });
}

extern "C" IMGLIB_API ILJpegRows* wrjpgrowsopen(const char* name, int32_t width, int32_t height, int16_t quality,
                                                int16_t smoothing)
{
    return imglib::Guard<ILJpegRows*>(nullptr, [&]() -> ILJpegRows* {
        if (!name || !*name)
            return nullptr;
        auto writer = std::make_unique<ILJpegRows>();
        writer->name = name;
        if (writer->rows.Start(width, height, quality, smoothing) <= 0)
            return nullptr;
        return writer.release();
    });
}

extern "C" IMGLIB_API int16_t wrjpgrowsput(ILJpegRows* writer, const uint8_t* const* rows, int32_t count)
{
    return imglib::Guard<int16_t>(IL_ERR_UNKNOWN, [&]() -> int16_t {
        return writer ? writer->rows.Put(rows, count) : static_cast<int16_t>(IL_ERR_ARGUMENT);
    });
}

extern "C" IMGLIB_API int16_t wrjpgrowsclose(ILJpegRows* writer, int32_t keep)
{
    return imglib::Guard<int16_t>(IL_ERR_UNKNOWN, [&]() -> int16_t {
        const std::unique_ptr<ILJpegRows> owned(writer);
        if (!owned)
            return IL_ERR_ARGUMENT;
        if (!keep)
            return 1;
        std::string bytes;
        const int16_t result = owned->rows.Finish(bytes);
        return result <= 0 ? result : crde::WriteBeside(owned->name.c_str(), bytes);
    });
}
