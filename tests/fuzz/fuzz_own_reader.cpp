// Arbitrary bytes through one of our own readers (FUZZ_FORMAT: Bmp, Tga or
// Pcx): its information, then a decode that gives a block only on success,
// and a sound one.
#include "Dib.h"
#include "Formats.h"

#include <cstdlib>

#define FUZZ_JOIN2(a, b) a##b
#define FUZZ_JOIN(a, b) FUZZ_JOIN2(a, b)
#define FUZZ_INFO FUZZ_JOIN(crde::Info, FUZZ_FORMAT)
#define FUZZ_READ FUZZ_JOIN(crde::Read, FUZZ_FORMAT)

namespace {

int KeepGoing(int, void*)
{
    return 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    crde::ImageInfo info;
    const int16_t described = FUZZ_INFO(data, size, info);
    // Pictures of many megapixels only cost the sanitizer time in zeroing
    // them; the unit tests cover those sizes.
    if (described > 0 && int64_t{info.width} * info.height > (int64_t{1} << 22))
        return 0;
    HDIB dib = nullptr;
    const int16_t result = FUZZ_READ(data, size, crde::Progress{nullptr, KeepGoing}, &dib);
    if ((result > 0) != (dib != nullptr))
        std::abort();
    if (result > 0) {
        const imglib::DibView view(dib);
        if (described <= 0 || !view.Valid() || view.Width() != info.width || view.Height() != info.height)
            std::abort();
    }
    GlobalFree(dib);
    return 0;
}
