// Sharpening of 24-bit blocks: an unsharp mask with its halos held short.
//
// Per colour channel, on the 8-bit sRGB values:
//   blur   = 5 x 5 Gaussian, sigma 0.75 (taps 4 56 136 56 4 / 256 across and
//            down), the picture's edge pixels repeated outside it;
//   detail = value - blur; below one level it is left out, so sensor noise
//            and JPEG ripples in flat areas stay flat;
//   result = value + 0.375 * amount * detail, then held inside the smallest
//            and largest value of the pixel's 3 x 3 neighbourhood widened by
//            a quarter of their difference on either side.
// The last step keeps the rims short: an edge gets steeper and may overshoot
// by at most a quarter of its own height, on the pixel next to it only.
// `amount` 2 (the reduction's setting) adds three quarters of the detail, the
// sharpening general tools give a reduced photo; amounts above 20 count as 20.
//
// Neighbours outside the rectangle are read as they are; only pixels inside
// it change.

#include "Dib.h"
#include "Guard.h"
#include "OwnedBlock.h"
#include "Parallel.h"
#include "Sharpen.h"

#include <cstring>
#include <new>
#include <vector>

namespace isp {
namespace {

using imglib::DibView;

constexpr int kTaps[5] = {4, 56, 136, 56, 4};
constexpr int kThreshold = 1;   // levels
constexpr int kMostAmount = 20;

struct Area {
    int32_t left, top, right, bottom;
};

// Down each of `count` byte columns: the blur's vertical sum over five rows
// and the least and greatest of the middle three. The arrays are declared
// not to overlap, so the compiler runs the loop on whole vectors.
[[gnu::always_inline]] inline void ColumnSums(const uint8_t* __restrict r0, const uint8_t* __restrict r1,
                                              const uint8_t* __restrict r2, const uint8_t* __restrict r3,
                                              const uint8_t* __restrict r4, int64_t count, int32_t* __restrict sums,
                                              uint8_t* __restrict lowest, uint8_t* __restrict highest)
{
    for (int64_t i = 0; i < count; ++i) {
        sums[i] = kTaps[0] * r0[i] + kTaps[1] * r1[i] + kTaps[2] * r2[i] + kTaps[3] * r3[i] + kTaps[4] * r4[i];
        lowest[i] = std::min(r1[i], std::min(r2[i], r3[i]));
        highest[i] = std::max(r1[i], std::max(r2[i], r3[i]));
    }
}

// Columns [left, right) of one row, from the five rows around it.
__attribute__((target_clones("avx2", "default"))) void SharpenLine(const uint8_t* const* rows, int32_t width,
                                                                   int32_t left, int32_t right, int32_t amount,
                                                                   int32_t* down, uint8_t* low, uint8_t* high,
                                                                   uint8_t* out)
{
    constexpr int32_t threshold = kThreshold << 16;
    const int32_t gain = amount * 3;  // eighths: 0.375 * amount
    const int64_t first = static_cast<int64_t>(left) * 3;
    const int32_t inside = (right - left) * 3;
    const size_t padded = static_cast<size_t>(right - left + 4) * 3;
    // Where the rectangle's own columns start in the padded arrays.
    const int64_t lead = static_cast<int64_t>(left - std::max(left - 2, 0)) * 3;
    // Columns that exist, then the edge columns repeated into the padding.
    const int64_t from = first - lead;
    const int64_t count = std::min<int64_t>(static_cast<int64_t>(right + 2), width) * 3 - from;
    ColumnSums(rows[0] + from, rows[1] + from, rows[2] + from, rows[3] + from, rows[4] + from, count,
               down + (6 - lead), low + (6 - lead), high + (6 - lead));
    const auto pad = [&](size_t to, size_t source) {
        down[to] = down[source];
        low[to] = low[source];
        high[to] = high[source];
    };
    for (size_t i = static_cast<size_t>(6 - lead); i-- > 0;)
        pad(i, i + 3);
    for (size_t i = static_cast<size_t>(6 - lead + count); i < padded; ++i)
        pad(i, i - 3);

    const uint8_t* centre = rows[2] + first;
    uint8_t* __restrict target = out + first;
    const int32_t* sums = down + 6;  // two padding columns
    const uint8_t* lows = low + 6;
    const uint8_t* highs = high + 6;
    // Without branches: a detail under the threshold gives no change,
    // and the clamp leaves an unchanged value as it is. The detail is in
    // 1/65536 levels, the gain in eighths.
    for (int32_t k = 0; k < inside; ++k) {
        const int32_t blur = kTaps[0] * sums[k - 6] + kTaps[1] * sums[k - 3] + kTaps[2] * sums[k] +
                             kTaps[3] * sums[k + 3] + kTaps[4] * sums[k + 6];
        const int32_t value = centre[k];
        const int32_t detail = (value << 16) - blur;
        const int32_t kept = (detail < 0 ? -detail : detail) < threshold ? 0 : detail;
        // At most 255 << 16 times 60: within 32 bits. Rounded half up.
        const int32_t change = (kept * gain + (4 << 16)) >> 19;
        const int32_t lowest = std::min(lows[k - 3], std::min(lows[k], lows[k + 3]));
        const int32_t highest = std::max(highs[k - 3], std::max(highs[k], highs[k + 3]));
        const int32_t slack = (highest - lowest) / 4;
        target[k] = static_cast<uint8_t>(
            std::clamp(value + change, std::max(lowest - slack, 0), std::min(highest + slack, 255)));
    }
}

// Rows [begin, end) of the rectangle (counted from its top).
void SharpenRows(const DibView& in, const DibView& out, const Area& area, int amount, int64_t begin, int64_t end)
{
    const int32_t height = in.Height();
    LineSharpener line(in.Width(), area.left, area.right, amount);
    const auto row = [&](int64_t y) {
        return in.Row(static_cast<int32_t>(std::clamp<int64_t>(y, 0, height - 1)));
    };
    for (int64_t r = begin; r < end; ++r) {
        const int64_t y = area.top + r;
        const uint8_t* rows[5] = {row(y - 2), row(y - 1), row(y), row(y + 1), row(y + 2)};
        line.Sharpen(rows, out.Row(static_cast<int32_t>(y)));
    }
}

HDIB Sharpen(HDIB dib, int32_t amount, Area area, void* control, ILProgress callback)
{
    if (amount < 0)
        return nullptr;
    amount = std::min(amount, kMostAmount);
    const DibView in(dib);
    if (!in.Valid() || in.Header().biCompression != 0 || in.Bits() != 24)
        return nullptr;
    const size_t size = GlobalSize(dib);
    OwnedBlock made(GlobalAlloc(GMEM_MOVEABLE, size));
    if (!made.Get())
        return nullptr;
    std::memcpy(GlobalLock(made.Get()), &in.Header(), size);
    GlobalUnlock(made.Get());
    if (!imglib::Progress(callback, control, 0))
        return nullptr;

    area.left = std::clamp(area.left, 0, in.Width());
    area.right = std::clamp(area.right, 0, in.Width());
    area.top = std::clamp(area.top, 0, in.Height());
    area.bottom = std::clamp(area.bottom, 0, in.Height());
    if (amount > 0 && area.left < area.right && area.top < area.bottom) {
        const DibView out(made.Get());
        const int64_t rows = area.bottom - area.top;
        const int threads = imglib::ThreadsFor(rows * (area.right - area.left));
        // Pieces small enough for a lively progress bar.
        const int64_t piece = std::max<int64_t>(1, std::min<int64_t>(64, rows / (threads * 8)));
        if (!imglib::ParallelFor(
                rows, piece, threads,
                [&](int64_t begin, int64_t end) { SharpenRows(in, out, area, amount, begin, end); },
                callback, control, 0, 99))
            return nullptr;
    }
    if (!imglib::Progress(callback, control, 100))
        return nullptr;
    return made.Release();
}

}  // namespace

LineSharpener::LineSharpener(int32_t width, int32_t left, int32_t right, int32_t amount)
    : m_width(width),
      m_left(left),
      m_right(right),
      m_amount(std::min(amount, kMostAmount)),
      // The columns and two more on either side, the picture's edge
      // columns standing in for those outside it.
      m_down(static_cast<size_t>(right - left + 4) * 3),
      m_low(m_down.size()),
      m_high(m_down.size())
{
}

void LineSharpener::Sharpen(const uint8_t* const* rows, uint8_t* out)
{
    SharpenLine(rows, m_width, m_left, m_right, m_amount, m_down.data(), m_low.data(), m_high.data(), out);
}

}  // namespace isp

extern "C" IMGLIB_API HDIB Better(HDIB dib, int32_t amount, int32_t left, int32_t top, int32_t right,
                                  int32_t bottom, void* control, ILProgress callback)
{
    return imglib::Guard<HDIB>(nullptr, [&]() -> HDIB {
        try {
            return isp::Sharpen(dib, amount, {left, top, right, bottom}, control, callback);
        } catch (const std::bad_alloc&) {
            return nullptr;  // out of memory is a plain failure
        }
    });
}
