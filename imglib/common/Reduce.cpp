// Colour reduction to 1, 4 or 8 bits.
//
// A picture with no more colours than the depth holds keeps them exactly,
// whatever the depth. Otherwise:
//   8 bits: an adaptive palette by median cut. Colours are counted in a
//           32 x 32 x 32 histogram; the box whose population times longest
//           side is largest is cut at the population's median along that
//           side, until 256 boxes; each entry is the mean of the exact colours
//           in its box.
//   4 bits: the sixteen VGA colours, the palette the readers' "0 means 4"
//           depth promises and one that shows the same on every display.
//   1 bit:  black and white, by luma Y' = 0.299 R + 0.587 G + 0.114 B.
// Pixels take the nearest entry (squared distance in RGB); with dithering the
// error is spread Floyd-Steinberg fashion (7/16 ahead, 3/16, 5/16, 1/16 on
// the next row), row direction alternating so that the error does not drift
// to one side.

#include "Convert.h"
#include "Dib.h"
#include "OwnedBlock.h"

#include <array>
#include <memory>
#include <new>
#include <unordered_map>
#include <vector>

namespace imglib {

// With progress on the caller's thread, for the ReduceDib entry.
[[nodiscard]] HDIB ReduceColours(HDIB dib, int bits, bool dither, ILProgress callback, void* control);

namespace {

struct Colour {
    uint8_t r, g, b;
};

constexpr std::array<Colour, 16> kVga = {{{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                                          {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
                                          {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                                          {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}}};

uint32_t Pack(const uint8_t* rgb)
{
    return static_cast<uint32_t>(rgb[0]) << 16 | static_cast<uint32_t>(rgb[1]) << 8 | rgb[2];
}

// One row of any uncompressed depth as R, G, B bytes. Indices past the
// colour table read as black.
void ReadRow(const DibView& view, int32_t y, uint8_t* rgb)
{
    const uint8_t* p = view.Row(y);
    const int32_t width = view.Width();
    const RgbQuad* palette = view.Palette();
    const auto indexed = [&](int index, uint8_t* out) {
        if (index < view.Colours()) {
            out[0] = palette[index].red;
            out[1] = palette[index].green;
            out[2] = palette[index].blue;
        } else {
            out[0] = out[1] = out[2] = 0;
        }
    };
    for (int32_t x = 0; x < width; ++x, rgb += 3) {
        switch (view.Bits()) {
        case 1:
            indexed((p[x >> 3] >> (7 - (x & 7))) & 1, rgb);
            break;
        case 4:
            indexed((x & 1) ? p[x >> 1] & 15 : p[x >> 1] >> 4, rgb);
            break;
        case 8:
            indexed(p[x], rgb);
            break;
        case 16: {
            const int v = p[2 * x] | p[2 * x + 1] << 8;
            rgb[0] = static_cast<uint8_t>(((v >> 10) & 31) * 255 / 31);
            rgb[1] = static_cast<uint8_t>(((v >> 5) & 31) * 255 / 31);
            rgb[2] = static_cast<uint8_t>((v & 31) * 255 / 31);
            break;
        }
        default: {
            const uint8_t* q = p + static_cast<int64_t>(x) * (view.Bits() / 8);
            rgb[0] = q[2];
            rgb[1] = q[1];
            rgb[2] = q[0];
        }
        }
    }
}

void WriteIndex(uint8_t* row, int bits, int32_t x, int index)
{
    if (bits == 8) {
        row[x] = static_cast<uint8_t>(index);
    } else if (bits == 4) {
        const int shift = (x & 1) ? 0 : 4;
        row[x >> 1] = static_cast<uint8_t>((row[x >> 1] & ~(15 << shift)) | index << shift);
    } else {
        const int bit = 7 - (x & 7);
        row[x >> 3] = static_cast<uint8_t>((row[x >> 3] & ~(1 << bit)) | index << bit);
    }
}

class RowProgress {
public:
    RowProgress(ILProgress callback, void* control, int32_t rows) : m_callback(callback), m_control(control), m_rows(rows) {}

    // False when the callback asked to stop; called once a row, reports a
    // few dozen times in all.
    [[nodiscard]] bool Row(int32_t y, int from, int to)
    {
        if (!m_callback)
            return true;
        const int step = std::max(1, m_rows / 32);
        if (y % step != 0)
            return true;
        return imglib::Progress(m_callback, m_control, from + static_cast<int>(int64_t{to - from} * y / m_rows));
    }

private:
    ILProgress m_callback;
    void* m_control;
    int32_t m_rows;
};

// The exact colours when there are at most `limit`, else empty.
[[nodiscard]] bool ExactColours(const DibView& view, size_t limit, std::vector<Colour>& colours,
                                std::unordered_map<uint32_t, int>& index, RowProgress& progress, bool& stopped)
{
    std::vector<uint8_t> rgb(static_cast<size_t>(view.Width()) * 3);
    uint32_t last = 0xffffffff;
    for (int32_t y = 0; y < view.Height(); ++y) {
        if (!progress.Row(y, 0, 20)) {
            stopped = true;
            return false;
        }
        ReadRow(view, y, rgb.data());
        for (size_t i = 0; i < rgb.size(); i += 3) {
            const uint32_t key = Pack(&rgb[i]);
            if (key == last)
                continue;
            last = key;
            if (index.emplace(key, static_cast<int>(colours.size())).second) {
                if (colours.size() == limit)
                    return false;
                colours.push_back({rgb[i], rgb[i + 1], rgb[i + 2]});
            }
        }
    }
    return true;
}

struct Box {
    int low[3], high[3];  // histogram cells, inclusive
    uint64_t population = 0;
};

class MedianCut {
public:
    void Add(const uint8_t* rgb)
    {
        Cell& cell = m_cells[Key(rgb[0] >> 3, rgb[1] >> 3, rgb[2] >> 3)];
        ++cell.count;
        cell.sum[0] += rgb[0];
        cell.sum[1] += rgb[1];
        cell.sum[2] += rgb[2];
    }

    [[nodiscard]] std::vector<Colour> Palette(size_t entries)
    {
        std::vector<Box> boxes;
        Box all{{0, 0, 0}, {31, 31, 31}, 0};
        Shrink(all);
        if (all.population == 0)
            return {{0, 0, 0}};
        boxes.push_back(all);
        while (boxes.size() < entries) {
            size_t best = boxes.size();
            uint64_t bestScore = 0;
            for (size_t i = 0; i < boxes.size(); ++i) {
                const Box& b = boxes[i];
                const int side = std::max({b.high[0] - b.low[0], b.high[1] - b.low[1], b.high[2] - b.low[2]});
                const uint64_t score = b.population * static_cast<uint64_t>(side);
                if (side > 0 && score > bestScore) {
                    bestScore = score;
                    best = i;
                }
            }
            if (best == boxes.size())
                break;  // every box is one cell
            Box other;
            Split(boxes[best], other);
            boxes.push_back(other);
        }
        std::vector<Colour> palette;
        for (const Box& b : boxes) {
            uint64_t sum[3] = {0, 0, 0}, count = 0;
            Visit(b, [&](const Cell& cell, int) {
                count += cell.count;
                for (int c = 0; c < 3; ++c)
                    sum[c] += cell.sum[c];
            });
            const auto mean = [&](int c) { return static_cast<uint8_t>((sum[c] + count / 2) / count); };
            palette.push_back({mean(0), mean(1), mean(2)});
        }
        return palette;
    }

private:
    struct Cell {
        uint32_t count = 0;
        uint64_t sum[3] = {0, 0, 0};
    };

    static int Key(int r, int g, int b) { return r << 10 | g << 5 | b; }

    // Calls f(cell, coordinate along `axis`) for every cell of the box.
    template <class F>
    void Visit(const Box& b, F&& f, int axis = 0) const
    {
        for (int r = b.low[0]; r <= b.high[0]; ++r)
            for (int g = b.low[1]; g <= b.high[1]; ++g)
                for (int bl = b.low[2]; bl <= b.high[2]; ++bl) {
                    const int at[3] = {r, g, bl};
                    f(m_cells[Key(r, g, bl)], at[axis]);
                }
    }

    // To the occupied cells only, with their population.
    void Shrink(Box& b) const
    {
        Box tight{{32, 32, 32}, {-1, -1, -1}, 0};
        for (int r = b.low[0]; r <= b.high[0]; ++r)
            for (int g = b.low[1]; g <= b.high[1]; ++g)
                for (int bl = b.low[2]; bl <= b.high[2]; ++bl) {
                    const uint32_t n = m_cells[Key(r, g, bl)].count;
                    if (n == 0)
                        continue;
                    const int at[3] = {r, g, bl};
                    for (int c = 0; c < 3; ++c) {
                        tight.low[c] = std::min(tight.low[c], at[c]);
                        tight.high[c] = std::max(tight.high[c], at[c]);
                    }
                    tight.population += n;
                }
        b = tight;
    }

    void Split(Box& b, Box& other) const
    {
        int axis = 0;
        for (int c = 1; c < 3; ++c)
            if (b.high[c] - b.low[c] > b.high[axis] - b.low[axis])
                axis = c;
        uint64_t slices[32] = {};
        Visit(b, [&](const Cell& cell, int at) { slices[at] += cell.count; }, axis);
        // The last slice of the lower half: where half the population is
        // reached, leaving at least one slice above.
        uint64_t running = 0;
        int cut = b.low[axis];
        for (int s = b.low[axis]; s < b.high[axis]; ++s) {
            running += slices[s];
            cut = s;
            if (running * 2 >= b.population)
                break;
        }
        other = b;
        b.high[axis] = cut;
        other.low[axis] = cut + 1;
        Shrink(b);
        Shrink(other);
    }

    std::vector<Cell> m_cells = std::vector<Cell>(32 * 32 * 32);
};

// Nearest palette entry of any colour, remembered once found.
class Nearest {
public:
    explicit Nearest(const std::vector<Colour>& palette)
        : m_palette(palette), m_known(new uint8_t[1u << 24]()), m_index(new uint8_t[1u << 24])
    {
    }

    [[nodiscard]] int operator()(int r, int g, int b)
    {
        const uint32_t key = static_cast<uint32_t>(r) << 16 | static_cast<uint32_t>(g) << 8 | static_cast<uint32_t>(b);
        if (!m_known[key]) {
            int best = 0;
            int bestDistance = INT32_MAX;
            for (size_t i = 0; i < m_palette.size(); ++i) {
                const int dr = r - m_palette[i].r, dg = g - m_palette[i].g, db = b - m_palette[i].b;
                const int d = dr * dr + dg * dg + db * db;
                if (d < bestDistance) {
                    bestDistance = d;
                    best = static_cast<int>(i);
                }
            }
            m_index[key] = static_cast<uint8_t>(best);
            m_known[key] = 1;
        }
        return m_index[key];
    }

private:
    const std::vector<Colour>& m_palette;
    std::unique_ptr<uint8_t[]> m_known;
    std::unique_ptr<uint8_t[]> m_index;
};

HDIB Reduce(HDIB dib, int bits, bool dither, ILProgress callback, void* control)
{
    if (bits != 1 && bits != 4 && bits != 8)
        return nullptr;
    const DibView in(dib);
    if (!in.Valid() || in.Header().biCompression != 0)
        return nullptr;
    const int32_t width = in.Width();
    const int32_t height = in.Height();
    RowProgress progress(callback, control, height);
    const size_t limit = size_t{1} << bits;

    std::vector<Colour> palette;
    std::unordered_map<uint32_t, int> exact;
    bool stopped = false;
    const bool keep = ExactColours(in, limit, palette, exact, progress, stopped);
    if (stopped)
        return nullptr;
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * 3);
    if (!keep) {
        exact.clear();
        if (bits == 8) {
            MedianCut cut;
            for (int32_t y = 0; y < height; ++y) {
                if (!progress.Row(y, 20, 40))
                    return nullptr;
                ReadRow(in, y, rgb.data());
                for (size_t i = 0; i < rgb.size(); i += 3)
                    cut.Add(&rgb[i]);
            }
            palette = cut.Palette(limit);
        } else if (bits == 4) {
            palette.assign(kVga.begin(), kVga.end());
        } else {
            palette = {{0, 0, 0}, {255, 255, 255}};
        }
    }

    OwnedBlock made(CreateDib(width, height, bits, static_cast<int>(std::max<size_t>(palette.size(), 1))));
    if (!made)
        return nullptr;
    {
        const DibView out(made.Get());
        for (size_t i = 0; i < palette.size(); ++i)
            out.Palette()[i] = {palette[i].b, palette[i].g, palette[i].r, 0};

        std::unique_ptr<Nearest> nearest;
        if (!keep && bits != 1)
            nearest = std::make_unique<Nearest>(palette);
        // Errors of this row and the next, in 1/16 levels, one pixel of margin
        // on either side.
        const int lanes = bits == 1 ? 1 : 3;
        std::vector<int> here(static_cast<size_t>(width + 2) * lanes), next(here.size());
        for (int32_t y = 0; y < height; ++y) {
            if (!progress.Row(y, 40, 100))
                return nullptr;
            ReadRow(in, y, rgb.data());
            uint8_t* row = out.Row(y);
            if (keep) {
                for (int32_t x = 0; x < width; ++x)
                    WriteIndex(row, bits, x, exact.at(Pack(&rgb[static_cast<size_t>(x) * 3])));
                continue;
            }
            std::fill(next.begin(), next.end(), 0);
            const bool forward = !dither || y % 2 == 0;
            const int step = forward ? 1 : -1;
            for (int32_t i = 0; i < width; ++i) {
                const int32_t x = forward ? i : width - 1 - i;
                const uint8_t* p = &rgb[static_cast<size_t>(x) * 3];
                int want[3];
                if (bits == 1)
                    want[0] = (299 * p[0] + 587 * p[1] + 114 * p[2] + 500) / 1000;
                else
                    want[0] = p[0], want[1] = p[1], want[2] = p[2];
                int index;
                int got[3];
                const size_t at = static_cast<size_t>(x + 1) * lanes;
                if (dither)
                    for (int c = 0; c < lanes; ++c)
                        want[c] = std::clamp(want[c] + (here[at + c] + (here[at + c] >= 0 ? 8 : -8)) / 16, 0, 255);
                if (bits == 1) {
                    index = want[0] >= 128 ? 1 : 0;
                    got[0] = index ? 255 : 0;
                } else {
                    index = (*nearest)(want[0], want[1], want[2]);
                    got[0] = palette[static_cast<size_t>(index)].r;
                    got[1] = palette[static_cast<size_t>(index)].g;
                    got[2] = palette[static_cast<size_t>(index)].b;
                }
                WriteIndex(row, bits, x, index);
                if (!dither)
                    continue;
                for (int c = 0; c < lanes; ++c) {
                    const int error = want[c] - got[c];
                    here[at + step * lanes + c] += error * 7;
                    next[at - step * lanes + c] += error * 3;
                    next[at + c] += error * 5;
                    next[at + step * lanes + c] += error;
                }
            }
            std::swap(here, next);
        }
    }
    if (!imglib::Progress(callback, control, 100))
        return nullptr;
    return made.Release();
}

}  // namespace

HDIB ReduceColours(HDIB dib, int bits, bool dither, ILProgress callback, void* control)
{
    try {
        return Reduce(dib, bits, dither, callback, control);
    } catch (const std::bad_alloc&) {
        return nullptr;  // out of memory is a failure like any other here
    }
}

HDIB ReduceColours(HDIB dib, int bits, bool dither)
{
    return ReduceColours(dib, bits, dither, nullptr, nullptr);
}

}  // namespace imglib
