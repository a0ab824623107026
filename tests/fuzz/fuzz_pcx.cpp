// Arbitrary bytes through the PCX reader: its information, then a decode
// whose block, when it reports success, must be a sound one.
#include "Dib.h"
#include "Formats.h"

#include <cstdlib>

namespace {

int KeepGoing(int, void*)
{
    return 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    crde::ImageInfo info;
    const int16_t described = crde::InfoPcx(data, size, info);
    // Pictures of many megapixels only cost the sanitizer time in zeroing
    // them; the unit tests cover those sizes.
    if (described > 0 && int64_t{info.width} * info.height > (int64_t{1} << 22))
        return 0;
    HDIB dib = nullptr;
    const int16_t result = crde::ReadPcx(data, size, crde::Progress{nullptr, KeepGoing}, &dib);
    if (result > 0) {
        const imglib::DibView view(dib);
        if (described <= 0 || !view.Valid() || view.Width() != info.width || view.Height() != info.height)
            std::abort();
    }
    GlobalFree(dib);
    return 0;
}
