#pragma once

// Colour management of the codec module: every picture a reader delivers is
// sRGB. A reader collects what its file says about its colours (an embedded
// ICC profile, PNG's chromaticities and gamma, HEIF's colour code points)
// and converts its decoded pixels right after decoding, through LittleCMS
// (relative colorimetric, black-point compensation).
//
// What cannot be used is ignored and the picture taken as sRGB: no
// description, a profile lcms cannot open (profiles are untrusted input), a
// profile for another kind of pixels (a CMYK profile on RGB pixels), or one
// that is sRGB already (recognised by its colorants and curves, not its name;
// such pictures skip the conversion and come out exactly as decoded).

#include "imglib.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace imglib {

struct ColourDescription {
    // An embedded ICC profile; wins over everything below.
    const uint8_t* icc = nullptr;
    size_t iccSize = 0;
    // PNG without iCCP: cHRM (x, y of white, red, green, blue) and gAMA (the
    // encoding exponent, e.g. 0.45455); 0 when the chunk is absent. An sRGB
    // chunk is no description: the picture is sRGB.
    bool chromaticities = false;
    double white[2]{}, red[2]{}, green[2]{}, blue[2]{};
    double gamma = 0;
    // HEIF's nclx colour: ITU-T H.273 colour primaries and transfer
    // characteristics; 0 when absent.
    int primaries = 0;
    int transfer = 0;

    [[nodiscard]] bool Empty() const noexcept
    {
        return iccSize == 0 && !chromaticities && gamma == 0 && primaries == 0 && transfer == 0;
    }
};

// How the pixels handed to a transform are laid out, one byte a sample.
enum class PixelLayout {
    Grey,          // one sample
    Bgr,           // blue, green, red
    Bgra,          // blue, green, red, alpha (alpha passed through)
    Cmyk,          // cyan, magenta, yellow, black; 0 is no ink
    CmykInverted,  // the same, 255 is no ink (Adobe's JPEG files)
};

// A conversion from a described colour space to sRGB. Active() is false when
// nothing is to be done (see above); Convert() then must not be called.
class ColourTransform {
public:
    ColourTransform(const ColourDescription& description, PixelLayout input);
    ~ColourTransform();
    ColourTransform(const ColourTransform&) = delete;
    ColourTransform& operator=(const ColourTransform&) = delete;

    [[nodiscard]] bool Active() const noexcept { return m_transform != nullptr || m_matrix != nullptr; }
    // `pixels` pixels from `in` (the input layout) to `out` as blue, green,
    // red (Bgra: blue, green, red, alpha). `in` and `out` may be the same
    // buffer when the layouts have the same size. Safe from several threads.
    void Convert(const uint8_t* in, uint8_t* out, size_t pixels) const;

private:
    // RGB profiles of three curves and a matrix (nearly every camera's and
    // phone's) go through the same arithmetic as lcms would do, in a loop
    // about four times faster than its own; every other profile through lcms.
    struct MatrixShaper;
    static std::unique_ptr<MatrixShaper> MakeMatrixShaper(void* source, void* srgb, bool alpha);
    void ConvertMatrixShaper(const uint8_t* in, uint8_t* out, size_t pixels) const;

    void* m_transform = nullptr;
    std::unique_ptr<MatrixShaper> m_matrix;
};

// Converts the rows of a 24-bit picture while it is being decoded: a thread
// of its own takes the rows the decoder has finished, so the conversion costs
// the second core rather than time. Rows are counted from the top.
class ColourPipeline {
public:
    // `top` is row 0 of a width × height picture of blue, green, red; `step`
    // the bytes from a row to the one below it (negative in a bottom-up block).
    ColourPipeline(const ColourDescription& description, uint8_t* top, int64_t step, int32_t width,
                   int32_t height);
    // Stops the thread; rows not converted by then stay as they are.
    ~ColourPipeline();
    ColourPipeline(const ColourPipeline&) = delete;
    ColourPipeline& operator=(const ColourPipeline&) = delete;

    [[nodiscard]] bool Active() const noexcept { return m_transform.Active(); }
    // Rows [0, rows) are decoded and will not change.
    void Ready(int32_t rows);
    // Every row is decoded: converts the rest on every core and returns when
    // all are done.
    void Finish();

private:
    void Work();
    [[nodiscard]] bool Claim(int32_t& begin, int32_t& end, bool wait);
    void Convert(int32_t begin, int32_t end) const;

    ColourTransform m_transform;
    uint8_t* m_top;
    int64_t m_step;
    int32_t m_width;
    int32_t m_height;
    struct Shared;
    std::unique_ptr<Shared> m_shared;
};

// Converts a decoded block to sRGB: the pixels of a 24-bit block (rows
// split over the cores), or the colour table of a block of 8 bits or fewer
// (a grey profile reads each entry as its grey level, an RGB one as its
// colour). Nothing happens when the description is not to be used.
void ConvertToSrgb(HDIB dib, const ColourDescription& description);

}  // namespace imglib
