// Arbitrary colour descriptions through the conversion to sRGB: the first
// byte picks the pixel layout and whether the rest is an ICC profile or
// PNG/HEIF figures; a transform that opens must convert pixels and colour
// tables without reading or writing outside them.
#include "Colour.h"
#include "Dib.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr imglib::PixelLayout kLayouts[] = {imglib::PixelLayout::Grey, imglib::PixelLayout::Bgr,
                                            imglib::PixelLayout::Bgra, imglib::PixelLayout::Cmyk,
                                            imglib::PixelLayout::CmykInverted};

int BytesPerPixel(imglib::PixelLayout layout)
{
    switch (layout) {
    case imglib::PixelLayout::Grey: return 1;
    case imglib::PixelLayout::Bgr: return 3;
    default: return 4;
    }
}

// Pixels in, pixels out, and both kinds of block.
void Exercise(const imglib::ColourDescription& description, imglib::PixelLayout layout)
{
    const imglib::ColourTransform transform(description, layout);
    if (transform.Active()) {
        constexpr size_t kPixels = 67;
        std::vector<uint8_t> in(kPixels * static_cast<size_t>(BytesPerPixel(layout)));
        for (size_t i = 0; i < in.size(); ++i)
            in[i] = static_cast<uint8_t>(i * 37);
        std::vector<uint8_t> out(kPixels * (layout == imglib::PixelLayout::Bgra ? 4 : 3));
        transform.Convert(in.data(), out.data(), kPixels);
    }
    for (const int bits : {24, 8}) {
        HDIB dib = imglib::CreateDib(9, 5, bits);
        imglib::ConvertToSrgb(dib, description);
        GlobalFree(dib);
    }
}

double Figure(const std::uint8_t* p)
{
    uint16_t value = 0;
    std::memcpy(&value, p, sizeof value);
    return value / 65535.0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const imglib::PixelLayout layout = kLayouts[data[0] % 5];
    imglib::ColourDescription description;
    if (data[0] & 0x80) {
        // cHRM, gAMA and nclx figures.
        if (size < 1 + 2 * 9 + 2)
            return 0;
        const std::uint8_t* p = data + 1;
        description.chromaticities = (data[0] & 0x40) != 0;
        for (double* figure : {&description.white[0], &description.white[1], &description.red[0],
                               &description.red[1], &description.green[0], &description.green[1],
                               &description.blue[0], &description.blue[1], &description.gamma}) {
            *figure = Figure(p);
            p += 2;
        }
        if (data[0] & 0x20) {
            description.primaries = p[0];
            description.transfer = p[1];
        }
    } else {
        description.icc = data + 1;
        description.iccSize = size - 1;
    }
    Exercise(description, layout);
    return 0;
}
