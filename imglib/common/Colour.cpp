#include "Colour.h"

#include "Dib.h"
#include "Parallel.h"
#include "globalmem.h"

#include <lcms2.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace imglib {

namespace {

// Profiles closed on every way out.
struct Profile {
    cmsHPROFILE handle = nullptr;
    explicit Profile(cmsHPROFILE h) : handle(h) {}
    ~Profile()
    {
        if (handle != nullptr)
            cmsCloseProfile(handle);
    }
    Profile(const Profile&) = delete;
    Profile& operator=(const Profile&) = delete;
};

struct Curve {
    cmsToneCurve* handle = nullptr;
    explicit Curve(cmsToneCurve* h) : handle(h) {}
    ~Curve()
    {
        if (handle != nullptr)
            cmsFreeToneCurve(handle);
    }
    Curve(const Curve&) = delete;
    Curve& operator=(const Curve&) = delete;
};

constexpr cmsCIExyY kD65{0.3127, 0.3290, 1.0};
constexpr cmsCIExyYTRIPLE kSrgbPrimaries{{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};

cmsToneCurve* SrgbCurve()
{
    const cmsFloat64Number parameters[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
    return cmsBuildParametricToneCurve(nullptr, 4, parameters);
}

// The sRGB curve within half a level, at every level that matters.
bool SrgbLike(const cmsToneCurve* curve, const cmsToneCurve* srgb)
{
    if (curve == nullptr)
        return false;
    for (int i = 0; i <= 64; ++i) {
        const float x = static_cast<float>(i) / 64.0f;
        if (std::fabs(cmsEvalToneCurveFloat(curve, x) - cmsEvalToneCurveFloat(srgb, x)) > 0.5f / 255.0f)
            return false;
    }
    return true;
}

bool Near(const cmsCIEXYZ* a, const cmsCIEXYZ& b)
{
    return a != nullptr && std::fabs(a->X - b.X) < 0.002 && std::fabs(a->Y - b.Y) < 0.002 &&
           std::fabs(a->Z - b.Z) < 0.002;
}

// An RGB profile with sRGB's colorants and curves, or a grey one with its
// curve, whatever it calls itself.
bool IsSrgb(cmsHPROFILE profile, cmsHPROFILE srgb)
{
    const Curve reference(SrgbCurve());
    if (reference.handle == nullptr)
        return false;
    if (static_cast<uint32_t>(cmsGetColorSpace(profile)) == cmsSigGrayData)
        return SrgbLike(static_cast<const cmsToneCurve*>(cmsReadTag(profile, cmsSigGrayTRCTag)), reference.handle);
    if (!cmsIsMatrixShaper(profile))
        return false;
    static constexpr cmsTagSignature kColorants[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag,
                                                      cmsSigBlueColorantTag};
    static constexpr cmsTagSignature kCurves[3] = {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag};
    for (int i = 0; i < 3; ++i) {
        const auto* ours = static_cast<const cmsCIEXYZ*>(cmsReadTag(srgb, kColorants[i]));
        if (ours == nullptr || !Near(static_cast<const cmsCIEXYZ*>(cmsReadTag(profile, kColorants[i])), *ours))
            return false;
        if (!SrgbLike(static_cast<const cmsToneCurve*>(cmsReadTag(profile, kCurves[i])), reference.handle))
            return false;
    }
    return true;
}

// H.273 colour primaries as chromaticities; false for codes we do not know.
bool PrimariesFor(int code, cmsCIExyY& white, cmsCIExyYTRIPLE& primaries)
{
    white = kD65;
    switch (code) {
    case 1:  // BT.709, sRGB
        primaries = kSrgbPrimaries;
        return true;
    case 4:  // BT.470 M
        white = {0.310, 0.316, 1.0};
        primaries = {{0.67, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.14, 0.08, 1.0}};
        return true;
    case 5:  // BT.601 625
        primaries = {{0.64, 0.33, 1.0}, {0.29, 0.60, 1.0}, {0.15, 0.06, 1.0}};
        return true;
    case 6:  // BT.601 525
    case 7:
        primaries = {{0.630, 0.340, 1.0}, {0.310, 0.595, 1.0}, {0.155, 0.070, 1.0}};
        return true;
    case 9:  // BT.2020
        primaries = {{0.708, 0.292, 1.0}, {0.170, 0.797, 1.0}, {0.131, 0.046, 1.0}};
        return true;
    case 11:  // DCI-P3
        white = {0.314, 0.351, 1.0};
        [[fallthrough]];
    case 12:  // Display P3
        primaries = {{0.680, 0.320, 1.0}, {0.265, 0.690, 1.0}, {0.150, 0.060, 1.0}};
        return true;
    default:
        return false;
    }
}

// H.273 transfer characteristics as a curve; null for codes we do not know
// (PQ and HLG among them: high dynamic range is not ours to map).
cmsToneCurve* CurveFor(int code)
{
    switch (code) {
    case 1:  // BT.709 and its kin are shown as sRGB, as viewers do
    case 6:
    case 13:
    case 14:
    case 15:
        return SrgbCurve();
    case 4:
        return cmsBuildGamma(nullptr, 2.2);
    case 5:
        return cmsBuildGamma(nullptr, 2.8);
    case 8:
        return cmsBuildGamma(nullptr, 1.0);
    default:
        return nullptr;
    }
}

bool Unspecified(int code)
{
    return code == 0 || code == 2;
}

// The profile a description makes, or null when it is sRGB or unusable.
cmsHPROFILE ProfileFor(const ColourDescription& d, PixelLayout input)
{
    const bool grey = input == PixelLayout::Grey;
    if (d.iccSize > 0) {
        if (d.icc == nullptr || d.iccSize > 0x7fffffff)
            return nullptr;
        return cmsOpenProfileFromMem(d.icc, static_cast<cmsUInt32Number>(d.iccSize));
    }
    cmsCIExyY white = kD65;
    cmsCIExyYTRIPLE primaries = kSrgbPrimaries;
    Curve curve(nullptr);
    if (d.primaries != 0 || d.transfer != 0) {
        const bool primariesSrgb = Unspecified(d.primaries) || d.primaries == 1;
        const int transfer = Unspecified(d.transfer) ? 13 : d.transfer;
        if (primariesSrgb && (transfer == 1 || transfer == 6 || transfer == 13 || transfer == 14 || transfer == 15))
            return nullptr;
        if (!primariesSrgb && !PrimariesFor(d.primaries, white, primaries))
            return nullptr;
        curve.handle = CurveFor(transfer);
    } else {
        // PNG: chromaticities and gamma, each sRGB's when absent.
        const bool gammaSrgb = d.gamma == 0 || std::fabs(d.gamma - 0.45455) < 0.01;
        bool chromaticitiesSrgb = true;
        if (d.chromaticities) {
            white = {d.white[0], d.white[1], 1.0};
            primaries = {{d.red[0], d.red[1], 1.0}, {d.green[0], d.green[1], 1.0}, {d.blue[0], d.blue[1], 1.0}};
            const double given[8] = {d.white[0], d.white[1], d.red[0], d.red[1],
                                     d.green[0], d.green[1], d.blue[0], d.blue[1]};
            const double srgb[8] = {0.3127, 0.3290, 0.64, 0.33, 0.30, 0.60, 0.15, 0.06};
            for (int i = 0; i < 8; ++i) {
                if (!std::isfinite(given[i]) || given[i] <= 0 || given[i] >= 1)
                    return nullptr;
                chromaticitiesSrgb = chromaticitiesSrgb && std::fabs(given[i] - srgb[i]) < 0.001;
            }
        }
        if (gammaSrgb && (chromaticitiesSrgb || grey))
            return nullptr;
        if (!std::isfinite(d.gamma) || d.gamma < 0 || (d.gamma > 0 && (d.gamma < 0.1 || d.gamma > 10)))
            return nullptr;
        curve.handle = gammaSrgb ? SrgbCurve() : cmsBuildGamma(nullptr, 1.0 / d.gamma);
    }
    if (curve.handle == nullptr)
        return nullptr;
    if (grey)
        return cmsCreateGrayProfile(&white, curve.handle);
    cmsToneCurve* curves[3] = {curve.handle, curve.handle, curve.handle};
    return cmsCreateRGBProfile(&white, &primaries, curves);
}

bool Fits(cmsHPROFILE profile, PixelLayout input)
{
    // As numbers: a damaged profile's signatures need not be any the enums name.
    const auto kind = static_cast<uint32_t>(cmsGetDeviceClass(profile));
    if (kind != cmsSigInputClass && kind != cmsSigDisplayClass && kind != cmsSigOutputClass &&
        kind != cmsSigColorSpaceClass)
        return false;
    const auto space = static_cast<uint32_t>(cmsGetColorSpace(profile));
    switch (input) {
    case PixelLayout::Grey:
        return space == cmsSigGrayData;
    case PixelLayout::Bgr:
    case PixelLayout::Bgra:
        return space == cmsSigRgbData;
    case PixelLayout::Cmyk:
    case PixelLayout::CmykInverted:
        return space == cmsSigCmykData;
    }
    return false;
}

cmsUInt32Number FormatOf(PixelLayout layout)
{
    switch (layout) {
    case PixelLayout::Grey:
        return TYPE_GRAY_8;
    case PixelLayout::Bgr:
        return TYPE_BGR_8;
    case PixelLayout::Bgra:
        return TYPE_BGRA_8;
    case PixelLayout::Cmyk:
        return TYPE_CMYK_8;
    case PixelLayout::CmykInverted:
        return TYPE_CMYK_8_REV;
    }
    return TYPE_BGR_8;
}

}  // namespace

// Linear light in [0, 1] to an sRGB level, by this many steps: fine enough
// that the darkest levels, where the curve is steepest, come out as lcms's.
constexpr int kEncodeSteps = 16384;

// Fixed point: linear light in kEncodeSteps units, the matrix in 1/4096ths.
constexpr int kMatrixShift = 12;

struct ColourTransform::MatrixShaper {
    int32_t linear[3][256];  // blue, green, red level of the source to linear light
    int32_t matrix[3][3];    // source linear red, green, blue to sRGB linear red, green, blue
    uint8_t encode[kEncodeSteps + 1];
    int inputBytes = 3;
    bool alpha = false;
};

namespace {

bool Colorants(cmsHPROFILE profile, double m[3][3])
{
    static constexpr cmsTagSignature kColorants[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag,
                                                      cmsSigBlueColorantTag};
    for (int c = 0; c < 3; ++c) {
        const auto* xyz = static_cast<const cmsCIEXYZ*>(cmsReadTag(profile, kColorants[c]));
        if (xyz == nullptr || !std::isfinite(xyz->X) || !std::isfinite(xyz->Y) || !std::isfinite(xyz->Z))
            return false;
        m[0][c] = xyz->X;
        m[1][c] = xyz->Y;
        m[2][c] = xyz->Z;
    }
    return true;
}

bool Invert(const double m[3][3], double inverse[3][3])
{
    const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                       m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                       m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    if (!std::isfinite(det) || std::fabs(det) < 1e-9)
        return false;
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            const int r1 = (c + 1) % 3, r2 = (c + 2) % 3, c1 = (r + 1) % 3, c2 = (r + 2) % 3;
            inverse[r][c] = (m[r1][c1] * m[r2][c2] - m[r1][c2] * m[r2][c1]) / det;
        }
    }
    return true;
}

}  // namespace

ColourTransform::ColourTransform(const ColourDescription& description, PixelLayout input)
{
    if (description.Empty())
        return;
    const Profile source(ProfileFor(description, input));
    if (source.handle == nullptr || !Fits(source.handle, input))
        return;
    const Profile srgb(cmsCreate_sRGBProfile());
    if (srgb.handle == nullptr || IsSrgb(source.handle, srgb.handle))
        return;
    if ((input == PixelLayout::Bgr || input == PixelLayout::Bgra) && cmsIsMatrixShaper(source.handle)) {
        m_matrix = MakeMatrixShaper(source.handle, srgb.handle, input == PixelLayout::Bgra);
        if (m_matrix)
            return;
    }
    const cmsUInt32Number output = input == PixelLayout::Bgra ? TYPE_BGRA_8 : TYPE_BGR_8;
    // No cache: the transform is shared by the threads of one conversion.
    cmsUInt32Number flags = cmsFLAGS_BLACKPOINTCOMPENSATION | cmsFLAGS_NOCACHE;
    if (input == PixelLayout::Bgra)
        flags |= cmsFLAGS_COPY_ALPHA;
    m_transform = cmsCreateTransform(source.handle, FormatOf(input), srgb.handle, output,
                                     INTENT_RELATIVE_COLORIMETRIC, flags);
}

// Null when the profile's black is not black (black-point compensation
// would then have work to do: lcms does it) or its figures are unusable.
std::unique_ptr<ColourTransform::MatrixShaper> ColourTransform::MakeMatrixShaper(void* source, void* srgb,
                                                                                 bool alpha)
{
    double from[3][3], to[3][3], toInverse[3][3];
    if (!Colorants(source, from) || !Colorants(srgb, to) || !Invert(to, toInverse))
        return nullptr;
    static constexpr cmsTagSignature kCurves[3] = {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag};
    auto shaper = std::make_unique<MatrixShaper>();
    for (int c = 0; c < 3; ++c) {
        const auto* curve = static_cast<const cmsToneCurve*>(cmsReadTag(source, kCurves[c]));
        if (curve == nullptr || cmsEvalToneCurveFloat(curve, 0.0f) != 0.0f)
            return nullptr;
        // Stored blue first, as the pixels are.
        for (int level = 0; level < 256; ++level) {
            const float value = cmsEvalToneCurveFloat(curve, static_cast<float>(level) / 255.0f);
            if (!std::isfinite(value))
                return nullptr;
            shaper->linear[2 - c][level] =
                static_cast<int32_t>(std::lround(std::clamp(value, 0.0f, 1.0f) * kEncodeSteps));
        }
    }
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            double sum = 0;
            for (int k = 0; k < 3; ++k)
                sum += toInverse[r][k] * from[k][c];
            // Wider than any real gamut's, and the sums stay within 32 bits.
            if (!std::isfinite(sum) || std::fabs(sum) > 8)
                return nullptr;
            shaper->matrix[r][c] = static_cast<int32_t>(std::lround(sum * (1 << kMatrixShift)));
        }
    }
    for (int step = 0; step <= kEncodeSteps; ++step) {
        const double v = static_cast<double>(step) / kEncodeSteps;
        const double encoded = v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055;
        shaper->encode[step] = static_cast<uint8_t>(std::lround(std::clamp(encoded, 0.0, 1.0) * 255.0));
    }
    shaper->alpha = alpha;
    shaper->inputBytes = alpha ? 4 : 3;
    return shaper;
}

ColourTransform::~ColourTransform()
{
    if (m_transform != nullptr)
        cmsDeleteTransform(static_cast<cmsHTRANSFORM>(m_transform));
}

void ColourTransform::ConvertMatrixShaper(const uint8_t* in, uint8_t* out, size_t pixels) const
{
    const MatrixShaper& s = *m_matrix;
    const int bytes = s.inputBytes;
    const auto encode = [&s](int32_t v) {
        v = (v + (1 << (kMatrixShift - 1))) >> kMatrixShift;
        return s.encode[std::clamp(v, 0, kEncodeSteps)];
    };
    for (size_t i = 0; i < pixels; ++i, in += bytes, out += bytes) {
        const int32_t b = s.linear[0][in[0]];
        const int32_t g = s.linear[1][in[1]];
        const int32_t r = s.linear[2][in[2]];
        const uint8_t a = s.alpha ? in[3] : 0;
        const int32_t red = s.matrix[0][0] * r + s.matrix[0][1] * g + s.matrix[0][2] * b;
        const int32_t green = s.matrix[1][0] * r + s.matrix[1][1] * g + s.matrix[1][2] * b;
        const int32_t blue = s.matrix[2][0] * r + s.matrix[2][1] * g + s.matrix[2][2] * b;
        out[0] = encode(blue);
        out[1] = encode(green);
        out[2] = encode(red);
        if (s.alpha)
            out[3] = a;
    }
}

void ColourTransform::Convert(const uint8_t* in, uint8_t* out, size_t pixels) const
{
    if (m_matrix) {
        ConvertMatrixShaper(in, out, pixels);
        return;
    }
    // Rows and colour tables: far below lcms's 32-bit count.
    cmsDoTransform(static_cast<cmsHTRANSFORM>(m_transform), in, out, static_cast<cmsUInt32Number>(pixels));
}

// Rows are handed out in runs of this many.
constexpr int32_t kPipelineRun = 32;

struct ColourPipeline::Shared {
    std::mutex lock;
    std::condition_variable changed;
    int32_t ready = 0;      // rows decoded
    int32_t claimed = 0;    // rows handed out for conversion
    bool finishing = false;  // every row is ready
    bool stop = false;
    std::thread worker;
};

ColourPipeline::ColourPipeline(const ColourDescription& description, uint8_t* top, int64_t step, int32_t width,
                               int32_t height)
    : m_transform(description, PixelLayout::Bgr), m_top(top), m_step(step), m_width(width), m_height(height)
{
    if (!m_transform.Active())
        return;
    m_shared = std::make_unique<Shared>();
    // A small picture is converted at the end in one go.
    if (ThreadsFor(int64_t{width} * height) > 1)
        m_shared->worker = std::thread([this] { Work(); });
}

ColourPipeline::~ColourPipeline()
{
    if (!m_shared || !m_shared->worker.joinable())
        return;
    {
        const std::lock_guard<std::mutex> hold(m_shared->lock);
        m_shared->stop = true;
    }
    m_shared->changed.notify_all();
    m_shared->worker.join();
}

bool ColourPipeline::Claim(int32_t& begin, int32_t& end, bool wait)
{
    std::unique_lock<std::mutex> hold(m_shared->lock);
    if (wait) {
        m_shared->changed.wait(hold, [&] {
            return m_shared->stop || m_shared->claimed < m_shared->ready || m_shared->claimed >= m_height;
        });
    }
    if (m_shared->stop || m_shared->claimed >= m_shared->ready)
        return false;
    begin = m_shared->claimed;
    end = std::min(begin + kPipelineRun, m_shared->ready);
    m_shared->claimed = end;
    return true;
}

void ColourPipeline::Convert(int32_t begin, int32_t end) const
{
    for (int32_t y = begin; y < end; ++y) {
        uint8_t* row = m_top + m_step * y;
        m_transform.Convert(row, row, static_cast<size_t>(m_width));
    }
}

void ColourPipeline::Work()
{
    for (;;) {
        int32_t begin = 0, end = 0;
        if (!Claim(begin, end, true)) {
            const std::lock_guard<std::mutex> hold(m_shared->lock);
            if (m_shared->stop || m_shared->claimed >= m_height)
                return;
            continue;
        }
        Convert(begin, end);
    }
}

void ColourPipeline::Ready(int32_t rows)
{
    if (!m_shared)
        return;
    {
        const std::lock_guard<std::mutex> hold(m_shared->lock);
        m_shared->ready = std::clamp(rows, m_shared->ready, m_height);
    }
    m_shared->changed.notify_one();
}

void ColourPipeline::Finish()
{
    if (!m_shared)
        return;
    Ready(m_height);
    // The caller's thread takes runs too until none is left.
    for (int32_t begin = 0, end = 0; Claim(begin, end, false);)
        Convert(begin, end);
    if (m_shared->worker.joinable())
        m_shared->worker.join();
}

void ConvertToSrgb(HDIB dib, const ColourDescription& description)
{
    if (description.Empty())
        return;
    const DibView view(dib);
    if (!view.Valid())
        return;
    if (view.Bits() == 24) {
        const ColourTransform transform(description, PixelLayout::Bgr);
        if (!transform.Active())
            return;
        const int64_t width = view.Width();
        const int64_t height = view.Height();
        // Rows of 3 bytes a pixel: the same size in and out, so in place.
        (void)ParallelFor(height, 64, ThreadsFor(width * height), [&](int64_t begin, int64_t end) {
            for (int64_t y = begin; y < end; ++y) {
                uint8_t* row = view.Row(static_cast<int32_t>(y));
                transform.Convert(row, row, static_cast<size_t>(width));
            }
        });
        return;
    }
    if (view.Bits() > 8 || view.Colours() <= 0)
        return;
    // The colour table, as grey levels for a grey profile or colours for an
    // RGB one: the layout is whichever the profile fits.
    const int colours = view.Colours();
    RgbQuad* table = view.Palette();
    std::vector<uint8_t> in(static_cast<size_t>(colours) * 3);
    std::vector<uint8_t> out(static_cast<size_t>(colours) * 3);
    ColourTransform transform(description, PixelLayout::Bgr);
    bool grey = false;
    if (!transform.Active()) {
        const ColourTransform greyTransform(description, PixelLayout::Grey);
        if (!greyTransform.Active())
            return;
        for (int i = 0; i < colours; ++i)
            in[static_cast<size_t>(i)] = table[i].green;
        greyTransform.Convert(in.data(), out.data(), static_cast<size_t>(colours));
        grey = true;
    }
    if (!grey) {
        for (int i = 0; i < colours; ++i) {
            in[3 * static_cast<size_t>(i)] = table[i].blue;
            in[3 * static_cast<size_t>(i) + 1] = table[i].green;
            in[3 * static_cast<size_t>(i) + 2] = table[i].red;
        }
        transform.Convert(in.data(), out.data(), static_cast<size_t>(colours));
    }
    for (int i = 0; i < colours; ++i)
        table[i] = {out[3 * static_cast<size_t>(i)], out[3 * static_cast<size_t>(i) + 1],
                    out[3 * static_cast<size_t>(i) + 2], 0};
}

}  // namespace imglib
