// Resampling of 24- and 32-bit blocks.
//
// Filter: Lanczos with three lobes, L(x) = 3 sin(pi x) sin(pi x / 3) / (pi x)^2
// for |x| < 3, separable (a horizontal pass, then a vertical one), widened by
// 10% when reducing: weights are L(d / max(1.1 s, 1)) where d is the distance
// in source pixels and s the reduction factor above 1; at 1 and below (the
// same size, enlarging) the plain kernel interpolates, and a picture asked
// for at its own size is copied. The support is therefore 3.3 s source pixels
// on either side of a destination pixel's centre for a reduction. In
// linear light the plain kernel's ringing shows as dark rims beside
// highlights; the widened one gives up a little sharpness for less ringing
// and aliasing, and Better puts the crispness back. Pixel centres line up as
// (i + 0.5) * source / destination. Taps that fall outside the picture take
// the nearest edge pixel, and each destination pixel's weights are scaled to
// sum to exactly 1, so a flat picture stays flat.
//
// Colour is resampled in linear light: the three colour bytes are decoded
// from sRGB through a table, filtered in float, and encoded back to the
// nearest 8-bit sRGB value (exact rounding against the 255 level midpoints).
// The fourth byte of a 32-bit block is not a colour; it is filtered as it is.
//
// Large reductions first average whole boxes of source pixels in linear light
// (integer sums of a 16-bit table), leaving at least twice the destination
// size, and let Lanczos do the rest: the box costs one table look-up and one
// add per byte, and with a residual reduction of two or more its softening
// stays below what the eye or SSIM sees.
// A box that the picture's right or bottom edge cuts short averages the
// pixels it has.
//
// Rows are streamed: each thread takes a band of destination rows and keeps
// only the horizontally filtered rows its vertical taps still need, in a ring.

#include "Dib.h"
#include "Guard.h"
#include "OwnedBlock.h"
#include "Parallel.h"
#include "Sharpen.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <numbers>
#include <vector>

namespace isp {
namespace {

using imglib::DibView;

constexpr double kLobes = 3.0;
constexpr double kWiden = 1.1;
constexpr int kMinResidual = 2;

// Four floats per pixel whatever the depth: the inner loops then run on whole
// vectors.
constexpr int kLanes = 4;

class SrgbTables {
public:
    SrgbTables()
    {
        for (int s = 0; s < 256; ++s)
            m_linear[s] = static_cast<uint16_t>(std::lround(Decode(s / 255.0) * kOne));
        m_midpoint[0] = -1.0;
        for (int s = 1; s < 256; ++s)
            m_midpoint[s] = Decode((s - 0.5) / 255.0);
        m_midpoint[256] = 2.0;
        int s = 0;
        for (int b = 0; b < kBuckets; ++b) {
            const double low = static_cast<double>(b) / kBuckets;
            while (s < 255 && m_midpoint[s + 1] <= low)
                ++s;
            m_bucket[b] = static_cast<uint8_t>(s);
        }
    }

    // Linear light in 1/65535 steps: sums of whole boxes stay integers.
    static constexpr int kOne = 65535;
    [[nodiscard]] const uint16_t* Linear() const noexcept { return m_linear; }

    // A bucket is narrower than the closest two midpoints (near black, where
    // sRGB is steepest), so at most one midpoint lies above its first level.
    [[nodiscard]] uint8_t Encode(float v) const noexcept
    {
        if (!(v > 0.0f))
            return 0;
        if (v >= 1.0f)
            return 255;
        const int s = m_bucket[static_cast<int>(v * kBuckets)];
        return static_cast<uint8_t>(v >= m_midpoint[s + 1] ? s + 1 : s);
    }

private:
    static constexpr int kBuckets = 8192;

    static double Decode(double s)
    {
        return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    }

    uint16_t m_linear[256];
    double m_midpoint[257];  // double: exact for every float it is compared with
    uint8_t m_bucket[kBuckets];
};

const SrgbTables& Srgb()
{
    static const SrgbTables tables;
    return tables;
}

double Lanczos(double x)
{
    x = std::fabs(x);
    if (x < 1e-12)
        return 1.0;
    if (x >= kLobes)
        return 0.0;
    const double px = std::numbers::pi * x;
    return kLobes * std::sin(px) * std::sin(px / kLobes) / (px * px);
}

// The weights of every destination pixel along one axis: destination i reads
// `count` consecutive pixels of the (boxed) source from first[i].
struct Taps {
    std::vector<int32_t> first;
    std::vector<int32_t> count;
    std::vector<float> weights;  // `stride` per destination pixel
    int stride = 0;
};

// source: pixels of the full picture along the axis; box: the pre-shrink
// factor; boxed: pixels after it (ceil(source / box)).
Taps MakeTaps(int64_t source, int64_t box, int64_t boxed, int64_t destination)
{
    Taps taps;
    const double step = static_cast<double>(source) / static_cast<double>(destination * box);
    // Widened only when reducing: at the same size or larger the kernel
    // interpolates, and at the same size it gives every pixel back.
    const double stretch = step > 1.0 ? std::max(step * kWiden, 1.0) : 1.0;
    const double support = kLobes * stretch;
    taps.stride = static_cast<int>(std::ceil(2.0 * support)) + 2;
    taps.first.resize(static_cast<size_t>(destination));
    taps.count.resize(static_cast<size_t>(destination));
    taps.weights.assign(static_cast<size_t>(destination) * taps.stride, 0.0f);
    std::vector<double> raw(static_cast<size_t>(taps.stride));
    for (int64_t i = 0; i < destination; ++i) {
        const double centre = (static_cast<double>(i) + 0.5) * step;  // in boxed pixels
        // Pixels whose centres (j + 0.5) lie within the support.
        const int64_t low = static_cast<int64_t>(std::ceil(centre - support - 0.5));
        const int64_t high = std::min(static_cast<int64_t>(std::floor(centre + support - 0.5)),
                                      low + taps.stride - 1);
        const int64_t first = std::clamp<int64_t>(low, 0, boxed - 1);
        const int64_t last = std::clamp<int64_t>(high, 0, boxed - 1);
        std::fill(raw.begin(), raw.end(), 0.0);
        double total = 0.0;
        for (int64_t j = low; j <= high; ++j) {
            const double w = Lanczos((static_cast<double>(j) + 0.5 - centre) / stretch);
            raw[static_cast<size_t>(std::clamp<int64_t>(j, first, last) - first)] += w;
            total += w;
        }
        const int count = static_cast<int>(last - first + 1);
        float* out = &taps.weights[static_cast<size_t>(i) * taps.stride];
        for (int t = 0; t < count; ++t)
            out[t] = static_cast<float>(raw[static_cast<size_t>(t)] / total);
        taps.first[static_cast<size_t>(i)] = static_cast<int32_t>(first);
        taps.count[static_cast<size_t>(i)] = count;
    }
    return taps;
}

struct Job {
    const DibView* source = nullptr;
    const DibView* result = nullptr;
    int channels = 3;
    int64_t boxX = 1, boxY = 1;
    int64_t boxedWidth = 0, boxedHeight = 0;
    Taps across, down;
};

// One source row of `width` pixels (Channels bytes each) added to the sums
// of its boxes of boxX pixels, in linear light.
template <int Channels>
void AddToBoxes(const uint8_t* p, int64_t width, int64_t boxX, uint64_t* s)
{
    const uint16_t* linear = Srgb().Linear();
    if (boxX == 1) {
        for (int64_t x = 0; x < width; ++x, p += Channels, s += kLanes) {
            s[0] += linear[p[0]];
            s[1] += linear[p[1]];
            s[2] += linear[p[2]];
            if constexpr (Channels == 4)
                s[3] += p[3] * 257u;  // the same 1/65535 steps
        }
        return;
    }
    for (int64_t x = 0; x < width; x += boxX, s += kLanes) {
        const int64_t n = std::min(boxX, width - x);
        uint64_t a = 0, b = 0, c = 0, d = 0;
        for (int64_t k = 0; k < n; ++k, p += Channels) {
            a += linear[p[0]];
            b += linear[p[1]];
            c += linear[p[2]];
            if constexpr (Channels == 4)
                d += p[3] * 257u;
        }
        s[0] += a;
        s[1] += b;
        s[2] += c;
        s[3] += d;
    }
}

// The sums of boxes `rows` source rows high as averages; the last box of a
// row may be narrower.
void BoxAverages(const uint64_t* sums, int64_t rows, int64_t boxX, int64_t width, int64_t boxedWidth, float* out)
{
    const double scaledRows = static_cast<double>(rows) * SrgbTables::kOne;
    const float full = static_cast<float>(1.0 / (scaledRows * static_cast<double>(boxX)));
    for (int64_t x = 0; x < boxedWidth; ++x) {
        const int64_t n = std::min(boxX, width - x * boxX);
        const float scale = n == boxX ? full : static_cast<float>(1.0 / (scaledRows * static_cast<double>(n)));
        for (int c = 0; c < kLanes; ++c)
            out[x * kLanes + c] = static_cast<float>(sums[static_cast<size_t>(x * kLanes + c)]) * scale;
    }
}

// One boxed row in linear light: the average of source rows
// [row * boxY, ...) over boxes of boxX pixels.
template <int Channels>
void BoxRow(const Job& job, int64_t row, std::vector<uint64_t>& sums, float* out)
{
    const int64_t width = job.source->Width();
    const int64_t top = row * job.boxY;
    const int64_t bottom = std::min<int64_t>(top + job.boxY, job.source->Height());
    std::fill(sums.begin(), sums.end(), 0);
    for (int64_t y = top; y < bottom; ++y)
        AddToBoxes<Channels>(job.source->Row(static_cast<int32_t>(y)), width, job.boxX, sums.data());
    BoxAverages(sums.data(), bottom - top, job.boxX, width, job.boxedWidth, out);
}

// A pixel's four lanes as one SSE register (GCC and Clang vector extension).
typedef float Lanes __attribute__((vector_size(16)));

inline Lanes Load(const float* p)
{
    Lanes v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void Store(float* p, Lanes v)
{
    std::memcpy(p, &v, sizeof v);
}

// Four running sums a pixel: one sum's chain of dependent additions would
// leave the adder waiting most of the time.
void FilterAcross(const Taps& taps, const float* in, float* out, int64_t width)
{
    for (int64_t i = 0; i < width; ++i) {
        const float* w = &taps.weights[static_cast<size_t>(i) * taps.stride];
        const float* p = in + static_cast<int64_t>(taps.first[static_cast<size_t>(i)]) * kLanes;
        const int count = taps.count[static_cast<size_t>(i)];
        Lanes a = {}, b = {}, c = {}, d = {};
        int t = 0;
        for (; t + 4 <= count; t += 4, p += 4 * kLanes) {
            a += w[t] * Load(p);
            b += w[t + 1] * Load(p + kLanes);
            c += w[t + 2] * Load(p + 2 * kLanes);
            d += w[t + 3] * Load(p + 3 * kLanes);
        }
        for (; t < count; ++t, p += kLanes)
            a += w[t] * Load(p);
        Store(out + i * kLanes, (a + b) + (c + d));
    }
}

// One destination row from `count` filtered rows: two pixels at a time, the
// sums kept in registers across every tap.
void FilterDown(const float* const* rows, const float* w, int count, float* out, int64_t lineFloats)
{
    int64_t i = 0;
    for (; i + 2 * kLanes <= lineFloats; i += 2 * kLanes) {
        Lanes a0 = {}, a1 = {}, b0 = {}, b1 = {};
        int t = 0;
        for (; t + 2 <= count; t += 2) {
            a0 += w[t] * Load(rows[t] + i);
            a1 += w[t] * Load(rows[t] + i + kLanes);
            b0 += w[t + 1] * Load(rows[t + 1] + i);
            b1 += w[t + 1] * Load(rows[t + 1] + i + kLanes);
        }
        if (t < count) {
            a0 += w[t] * Load(rows[t] + i);
            a1 += w[t] * Load(rows[t] + i + kLanes);
        }
        Store(out + i, a0 + b0);
        Store(out + i + kLanes, a1 + b1);
    }
    for (; i < lineFloats; i += kLanes) {
        Lanes a = {};
        for (int t = 0; t < count; ++t)
            a += w[t] * Load(rows[t] + i);
        Store(out + i, a);
    }
}

// A filtered row of `width` pixels back to bytes.
void EncodeRow(const float* acc, int64_t width, int channels, uint8_t* out)
{
    const SrgbTables& srgb = Srgb();
    for (int64_t x = 0; x < width; ++x, acc += kLanes, out += channels) {
        out[0] = srgb.Encode(acc[0]);
        out[1] = srgb.Encode(acc[1]);
        out[2] = srgb.Encode(acc[2]);
        if (channels == 4)
            out[3] = static_cast<uint8_t>(std::lround(std::clamp(acc[3], 0.0f, 1.0f) * 255.0f));
    }
}

// Destination rows [begin, end).
void ScaleRows(const Job& job, int64_t begin, int64_t end)
{
    const int64_t width = job.result->Width();
    const int64_t lineFloats = width * kLanes;
    const int ringRows = job.down.stride;
    std::vector<uint64_t> sums(static_cast<size_t>(job.boxedWidth * kLanes));
    std::vector<float> boxed(static_cast<size_t>(job.boxedWidth * kLanes));
    std::vector<float> ring(static_cast<size_t>(ringRows * lineFloats));
    std::vector<float> line(static_cast<size_t>(lineFloats));
    std::vector<const float*> rows(static_cast<size_t>(ringRows));
    int64_t made = -1;  // the last filtered row in the ring

    for (int64_t y = begin; y < end; ++y) {
        const int64_t first = job.down.first[static_cast<size_t>(y)];
        const int count = job.down.count[static_cast<size_t>(y)];
        for (int64_t j = std::max(made + 1, first); j < first + count; ++j) {
            if (job.channels == 4)
                BoxRow<4>(job, j, sums, boxed.data());
            else
                BoxRow<3>(job, j, sums, boxed.data());
            FilterAcross(job.across, boxed.data(), &ring[static_cast<size_t>((j % ringRows) * lineFloats)],
                         width);
            made = j;
        }
        for (int t = 0; t < count; ++t)
            rows[static_cast<size_t>(t)] = &ring[static_cast<size_t>(((first + t) % ringRows) * lineFloats)];
        FilterDown(rows.data(), &job.down.weights[static_cast<size_t>(y) * job.down.stride], count, line.data(),
                   lineFloats);
        EncodeRow(line.data(), width, job.channels, job.result->Row(static_cast<int32_t>(y)));
    }
}

HDIB Scale(HDIB dib, int32_t width, int32_t height)
{
    if (width < 1 || height < 1)
        return nullptr;
    const DibView source(dib);
    if (!source.Valid() || source.Header().biCompression != 0 ||
        (source.Bits() != 24 && source.Bits() != 32))
        return nullptr;
    OwnedBlock made(imglib::CreateDib(width, height, source.Bits()));
    if (!made.Get())
        return nullptr;
    if (width == source.Width() && height == source.Height()) {
        const DibView result(made.Get());
        std::memcpy(result.Pixels(), source.Pixels(), static_cast<size_t>(source.Stride() * height));
        return made.Release();
    }
    {
        const DibView result(made.Get());
        Job job;
        job.source = &source;
        job.result = &result;
        job.channels = source.Bits() / 8;
        job.boxX = std::max<int64_t>(1, source.Width() / (static_cast<int64_t>(width) * kMinResidual));
        job.boxY = std::max<int64_t>(1, source.Height() / (static_cast<int64_t>(height) * kMinResidual));
        job.boxedWidth = (source.Width() + job.boxX - 1) / job.boxX;
        job.boxedHeight = (source.Height() + job.boxY - 1) / job.boxY;
        job.across = MakeTaps(source.Width(), job.boxX, job.boxedWidth, width);
        job.down = MakeTaps(source.Height(), job.boxY, job.boxedHeight, height);

        const int64_t work = static_cast<int64_t>(source.Width()) * source.Height() +
                             static_cast<int64_t>(width) * height;
        const int threads = imglib::ThreadsFor(work);
        // Two bands a thread: an uneven share evens out, and each band boundary
        // filters a few rows twice.
        const int64_t band = (height + 2 * threads - 1) / (2 * threads);
        if (!imglib::ParallelFor(height, band, threads,
                         [&job](int64_t begin, int64_t end) { ScaleRows(job, begin, end); }))
            return nullptr;
    }
    return made.Release();
}

// Scale and then sharpen on rows handed in one band at a time: the same
// taps, sums and rounding as Scale, and the same sharpening as Better, so
// each row comes out as Scale and Better would make it. Source rows are boxed
// and filtered across as they arrive into the ring the vertical taps read; a
// destination row is made as soon as its last tap is in, and sharpened and
// handed on once the two rows below it are. Nothing holds a whole picture:
// the last five scaled rows are kept, for the sharpening.
class RowScaler {
public:
    RowScaler(int32_t sourceWidth, int32_t sourceHeight, int32_t width, int32_t height, int32_t amount,
              ILRowSink sink, void* data)
        : m_sourceWidth(sourceWidth),
          m_sourceHeight(sourceHeight),
          m_width(width),
          m_height(height),
          m_amount(amount),
          m_sink(sink),
          m_data(data),
          m_sharpener(width, 0, width, amount)
    {
    }

    void Start()
    {
        const size_t line = static_cast<size_t>(m_width) * 3;
        m_scaled.resize(kScaledRows * line);
        if (m_amount > 0)
            m_sharp.resize(line);
        m_copy = m_width == m_sourceWidth && m_height == m_sourceHeight;
        if (m_copy)
            return;
        m_boxX = std::max<int64_t>(1, m_sourceWidth / (static_cast<int64_t>(m_width) * kMinResidual));
        m_boxY = std::max<int64_t>(1, m_sourceHeight / (static_cast<int64_t>(m_height) * kMinResidual));
        m_boxedWidth = (m_sourceWidth + m_boxX - 1) / m_boxX;
        const int64_t boxedHeight = (m_sourceHeight + m_boxY - 1) / m_boxY;
        m_across = MakeTaps(m_sourceWidth, m_boxX, m_boxedWidth, m_width);
        m_down = MakeTaps(m_sourceHeight, m_boxY, boxedHeight, m_height);
        m_lineFloats = static_cast<int64_t>(m_width) * kLanes;
        m_sums.assign(static_cast<size_t>(m_boxedWidth * kLanes), 0);
        m_boxed.resize(static_cast<size_t>(m_boxedWidth * kLanes));
        m_ring.resize(static_cast<size_t>(m_down.stride * m_lineFloats));
        m_line.resize(static_cast<size_t>(m_lineFloats));
        m_taps.resize(static_cast<size_t>(m_down.stride));
        // BoxAverages' factor for a box of one pixel.
        const float one = static_cast<float>(1.0 / SrgbTables::kOne);
        for (int v = 0; v < 256; ++v)
            m_single[v] = static_cast<float>(uint64_t{Srgb().Linear()[v]}) * one;
    }

    [[nodiscard]] bool Put(const uint8_t* const* rows, int32_t count)
    {
        if (m_failed || rows == nullptr || count < 0 || count > m_sourceHeight - m_received) {
            m_failed = true;
            return false;
        }
        for (int32_t k = 0; k < count && !m_failed; ++k, ++m_received) {
            if (m_copy) {
                std::memcpy(ScaledRow(m_received), rows[k], static_cast<size_t>(m_width) * 3);
                RowMade();
                continue;
            }
            if (m_boxX == 1 && m_boxY == 1) {
                // A box of one pixel: its sum times the same factor, from a table.
                const uint8_t* p = rows[k];
                float* out = m_boxed.data();
                for (int64_t x = 0; x < m_sourceWidth; ++x, p += 3, out += kLanes) {
                    out[0] = m_single[p[0]];
                    out[1] = m_single[p[1]];
                    out[2] = m_single[p[2]];
                }
                FilterBoxed();
                continue;
            }
            AddToBoxes<3>(rows[k], m_sourceWidth, m_boxX, m_sums.data());
            if (++m_boxRows == m_boxY || m_received + 1 == m_sourceHeight)
                CloseBox();
        }
        return !m_failed;
    }

    [[nodiscard]] bool Done() const { return !m_failed && m_handed == m_height; }

private:
    // Sharpening a row reads two rows either side of it.
    static constexpr int32_t kScaledRows = 5;

    [[nodiscard]] uint8_t* ScaledRow(int32_t y)
    {
        return m_scaled.data() + static_cast<size_t>(y % kScaledRows) * static_cast<size_t>(m_width) * 3;
    }

    void CloseBox()
    {
        BoxAverages(m_sums.data(), m_boxRows, m_boxX, m_sourceWidth, m_boxedWidth, m_boxed.data());
        std::fill(m_sums.begin(), m_sums.end(), 0);
        m_boxRows = 0;
        FilterBoxed();
    }

    // A boxed row is complete: filtered across into the ring, then every
    // destination row whose taps are all in.
    void FilterBoxed()
    {
        ++m_made;
        FilterAcross(m_across, m_boxed.data(),
                     &m_ring[static_cast<size_t>((m_made % m_down.stride) * m_lineFloats)], m_width);
        while (m_scaledRows < m_height && !m_failed) {
            const auto y = static_cast<size_t>(m_scaledRows);
            const int64_t first = m_down.first[y];
            const int count = m_down.count[y];
            if (first + count - 1 > m_made)
                break;
            for (int t = 0; t < count; ++t)
                m_taps[static_cast<size_t>(t)] =
                    &m_ring[static_cast<size_t>(((first + t) % m_down.stride) * m_lineFloats)];
            FilterDown(m_taps.data(), &m_down.weights[y * m_down.stride], count, m_line.data(), m_lineFloats);
            EncodeRow(m_line.data(), m_width, 3, ScaledRow(m_scaledRows));
            RowMade();
        }
    }

    // Scaled row m_scaledRows is in: the rows nothing to come can change,
    // sharpened, to the sink.
    void RowMade()
    {
        ++m_scaledRows;
        // A sharpened row reads two rows below it (the last row repeated).
        const int32_t ready =
            m_amount == 0 || m_scaledRows == m_height ? m_scaledRows : std::max(0, m_scaledRows - 2);
        for (; m_handed < ready && !m_failed; ++m_handed) {
            const uint8_t* row = ScaledRow(m_handed);
            if (m_amount > 0) {
                const uint8_t* around[5];
                for (int32_t t = 0; t < 5; ++t)
                    around[t] = ScaledRow(std::clamp(m_handed - 2 + t, 0, m_height - 1));
                m_sharpener.Sharpen(around, m_sharp.data());
                row = m_sharp.data();
            }
            m_failed = m_sink(&row, 1, m_width, m_height, m_data) == 0;
        }
    }

    const int32_t m_sourceWidth, m_sourceHeight, m_width, m_height, m_amount;
    const ILRowSink m_sink;
    void* const m_data;
    LineSharpener m_sharpener;
    std::vector<uint8_t> m_scaled;  // the last kScaledRows scaled rows, row y at y % kScaledRows
    std::vector<uint8_t> m_sharp;   // the row being handed
    bool m_copy = false;
    bool m_failed = false;
    int64_t m_boxX = 1, m_boxY = 1, m_boxedWidth = 0, m_lineFloats = 0;
    Taps m_across, m_down;
    std::vector<uint64_t> m_sums;
    std::vector<float> m_boxed, m_ring, m_line;
    float m_single[256] = {};
    std::vector<const float*> m_taps;
    int32_t m_received = 0;  // source rows
    int64_t m_boxRows = 0;   // source rows in the open box
    int64_t m_made = -1;     // the last filtered row in the ring
    int32_t m_scaledRows = 0;
    int32_t m_handed = 0;
};

}  // namespace
}  // namespace isp

// The handle is the scaler itself, under the interface's opaque name.
namespace {
isp::RowScaler* ScalerOf(ILScaleRows* handle)
{
    return reinterpret_cast<isp::RowScaler*>(handle);
}
}  // namespace

extern "C" IMGLIB_API ILScaleRows* ScaleRowsOpen(int32_t sourceWidth, int32_t sourceHeight, int32_t width,
                                                 int32_t height, int32_t amount, ILRowSink sink, void* data)
{
    return imglib::Guard<ILScaleRows*>(nullptr, [&]() -> ILScaleRows* {
        if (sourceWidth < 1 || sourceHeight < 1 || width < 1 || height < 1 || amount < 0 || !sink ||
            !imglib::DecodedSizeAllowed(sourceWidth, 1) || !imglib::DecodedSizeAllowed(width, height))
            return nullptr;
        try {
            auto made = std::make_unique<isp::RowScaler>(sourceWidth, sourceHeight, width, height, amount, sink, data);
            made->Start();
            return reinterpret_cast<ILScaleRows*>(made.release());
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
    });
}

extern "C" IMGLIB_API int ScaleRowsPut(ILScaleRows* scaler, const uint8_t* const* rows, int32_t count)
{
    return imglib::Guard<int>(0, [&]() -> int {
        try {
            return scaler && ScalerOf(scaler)->Put(rows, count) ? 1 : 0;
        } catch (const std::bad_alloc&) {
            return 0;
        }
    });
}

extern "C" IMGLIB_API int ScaleRowsClose(ILScaleRows* scaler)
{
    return imglib::Guard<int>(0, [&]() -> int {
        const std::unique_ptr<isp::RowScaler> owned(ScalerOf(scaler));
        return owned && owned->Done() ? 1 : 0;
    });
}

extern "C" IMGLIB_API HDIB ScaleDib(HDIB dib, int32_t width, int32_t height)
{
    return imglib::Guard<HDIB>(nullptr, [&]() -> HDIB {
        try {
            return isp::Scale(dib, width, height);
        } catch (const std::bad_alloc&) {
            return nullptr;  // out of memory is a plain failure
        }
    });
}
