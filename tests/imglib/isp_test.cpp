// The processing module's entries: ScaleDib, Better, ReduceDib.

#include "Convert.h"
#include "Dib.h"
#include "imglib.h"

#include <QTest>

#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <thread>
#include <vector>

using imglib::DibView;

namespace {

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb&) const = default;
};

// A block of `bits` (24 or 32) filled by fill(x, y) -> B, G, R, fourth byte.
HDIB Make(int32_t width, int32_t height, int bits, const std::function<std::array<uint8_t, 4>(int, int)>& fill)
{
    HDIB dib = imglib::CreateDib(width, height, bits);
    const DibView view(dib);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const auto v = fill(x, y);
            std::memcpy(view.Row(y) + static_cast<int64_t>(x) * (bits / 8), v.data(), static_cast<size_t>(bits / 8));
        }
    return dib;
}

HDIB MakeRgb(int32_t width, int32_t height, const std::function<Rgb(int, int)>& fill)
{
    return Make(width, height, 24, [&](int x, int y) {
        const Rgb c = fill(x, y);
        return std::array<uint8_t, 4>{static_cast<uint8_t>(c.b), static_cast<uint8_t>(c.g),
                                      static_cast<uint8_t>(c.r), 0};
    });
}

// Any depth, indexed through the colour table.
Rgb At(const DibView& view, int x, int y)
{
    const uint8_t* row = view.Row(y);
    int index = 0;
    switch (view.Bits()) {
    case 1: index = (row[x >> 3] >> (7 - (x & 7))) & 1; break;
    case 4: index = (x & 1) ? row[x >> 1] & 15 : row[x >> 1] >> 4; break;
    case 8: index = row[x]; break;
    default: {
        const uint8_t* p = row + static_cast<int64_t>(x) * (view.Bits() / 8);
        return {p[2], p[1], p[0]};
    }
    }
    if (index >= view.Colours())
        return {-1, -1, -1};
    const imglib::RgbQuad q = view.Palette()[index];
    return {q.red, q.green, q.blue};
}

std::vector<uint8_t> Bytes(HDIB dib)
{
    const auto* p = static_cast<const uint8_t*>(GlobalLock(dib));
    std::vector<uint8_t> bytes(p, p + GlobalSize(dib));
    GlobalUnlock(dib);
    return bytes;
}

// A small photo-like picture: smooth shading, a few hard edges, some noise.
HDIB Scene(int32_t width, int32_t height, unsigned seed = 1)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> noise(-6, 6);
    return MakeRgb(width, height, [&](int x, int y) {
        const int base = (x * 255 / std::max(width - 1, 1) + y * 128 / std::max(height - 1, 1)) / 2;
        const int edge = (x / 7 + y / 5) % 2 ? 70 : 0;
        const auto clip = [](int v) { return std::clamp(v, 0, 255); };
        return Rgb{clip(base + edge + noise(random)), clip(255 - base + noise(random)), clip(edge * 2 + noise(random))};
    });
}

struct Freer {
    std::vector<HDIB> dibs;
    HDIB operator()(HDIB dib)
    {
        dibs.push_back(dib);
        return dib;
    }
    ~Freer()
    {
        for (HDIB dib : dibs)
            GlobalFree(dib);
    }
};

double SrgbToLinear(double s)
{
    s /= 255.0;
    return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
}

struct Calls {
    std::vector<int> percents;
    int stopAt = -1;  // the call that answers 0
    bool otherThread = false;
    std::thread::id caller = std::this_thread::get_id();
};

int Record(int percent, void* control)
{
    auto* calls = static_cast<Calls*>(control);
    calls->otherThread |= std::this_thread::get_id() != calls->caller;
    calls->percents.push_back(percent);
    return static_cast<int>(calls->percents.size()) - 1 == calls->stopAt ? 0 : 1;
}

void CheckPercents(const Calls& calls)
{
    QVERIFY(!calls.percents.empty());
    QVERIFY2(!calls.otherThread, "progress reported from another thread");
    for (size_t i = 0; i < calls.percents.size(); ++i) {
        QVERIFY(calls.percents[i] >= 0 && calls.percents[i] <= 100);
        if (i > 0)
            QVERIFY(calls.percents[i] >= calls.percents[i - 1]);
    }
    QCOMPARE(calls.percents.back(), 100);
}

}  // namespace

class IspTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void scaleShapes_data();
    void scaleShapes();
    void scaleKeepsInput();
    void scaleFlatStaysFlat_data();
    void scaleFlatStaysFlat();
    void scaleAveragesInLinearLight();
    void scaleEnlargesSmoothly();
    void scaleToTheSameSizeKeepsEveryPixel();
    void scaleRefusesBadInput();

    void betterChangesOnlyTheRectangle();
    void betterAmountZeroCopies();
    void betterSharpensWithoutHalos();
    void betterProgressAndStop();
    void betterRefusesBadInput();

    void reduceKeepsFewColours_data();
    void reduceKeepsFewColours();
    void reduceToBlackAndWhite();
    void reduceDitherKeepsMean_data();
    void reduceDitherKeepsMean();
    void reduceAdaptivePalette();
    void reduceIndexedInput();
    void reduceProgressAndStop();
    void reduceRefusesBadInput();

    void rowsInBandsOfEverySizeMatchTheWholePicture();
};

void IspTest::scaleShapes_data()
{
    QTest::addColumn<int>("bits");
    QTest::addColumn<int>("fromWidth");
    QTest::addColumn<int>("fromHeight");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::newRow("1x1 same") << 24 << 1 << 1 << 1 << 1;
    QTest::newRow("1x1 enlarged") << 24 << 1 << 1 << 5 << 3;
    QTest::newRow("odd reduced") << 24 << 37 << 23 << 11 << 7;
    QTest::newRow("odd enlarged") << 24 << 37 << 23 << 73 << 45;
    QTest::newRow("to 1x1") << 24 << 37 << 23 << 1 << 1;
    QTest::newRow("column strip") << 24 << 1 << 100 << 1 << 9;
    QTest::newRow("row strip") << 24 << 100 << 1 << 7 << 1;
    QTest::newRow("strip across") << 24 << 1 << 30 << 17 << 3;
    QTest::newRow("7000 wide reduced") << 24 << 7000 << 3 << 701 << 2;
    QTest::newRow("enlarged to 7000 wide") << 24 << 3 << 3 << 7000 << 5;
    QTest::newRow("large, both cores") << 24 << 2999 << 1001 << 728 << 243;
    QTest::newRow("32 odd") << 32 << 13 << 9 << 5 << 3;
    QTest::newRow("32 enlarged") << 32 << 2 << 3 << 9 << 11;
    QTest::newRow("32 large") << 32 << 1500 << 1000 << 333 << 222;
}

void IspTest::scaleShapes()
{
    QFETCH(int, bits);
    QFETCH(int, fromWidth);
    QFETCH(int, fromHeight);
    QFETCH(int, width);
    QFETCH(int, height);
    Freer keep;
    HDIB source = keep(Make(fromWidth, fromHeight, bits, [](int x, int y) {
        return std::array<uint8_t, 4>{static_cast<uint8_t>(x * 7), static_cast<uint8_t>(y * 3),
                                      static_cast<uint8_t>(x + y), static_cast<uint8_t>(255 - x)};
    }));
    HDIB scaled = keep(ScaleDib(source, width, height));
    QVERIFY(scaled);
    const DibView view(scaled);
    QVERIFY(view.Valid());
    QCOMPARE(view.Width(), width);
    QCOMPARE(view.Height(), height);
    QCOMPARE(view.Bits(), bits);
    QCOMPARE(view.Stride(), imglib::Stride(width, bits));
    QCOMPARE(view.Header().biCompression, 0u);
    QVERIFY(GlobalSize(scaled) >= sizeof(imglib::BitmapInfoHeader) + static_cast<size_t>(view.Stride()) * height);
    QCOMPARE(GlobalFlags(scaled) & GMEM_LOCKCOUNT, 1u);  // the view's own lock: the block came unlocked
}

void IspTest::scaleKeepsInput()
{
    Freer keep;
    for (int bits : {24, 32}) {
        HDIB source = keep(Make(37, 23, bits, [](int x, int y) {
            return std::array<uint8_t, 4>{static_cast<uint8_t>(x * 11 + y), static_cast<uint8_t>(y * 13),
                                          static_cast<uint8_t>(x ^ y), static_cast<uint8_t>(x * y)};
        }));
        const std::vector<uint8_t> before = Bytes(source);
        for (const auto& [w, h] : {std::pair{5, 4}, {37, 23}, {80, 51}, {1, 1}})
            QVERIFY(keep(ScaleDib(source, w, h)));
        QCOMPARE(Bytes(source), before);
        QCOMPARE(GlobalFlags(source) & GMEM_LOCKCOUNT, 0u);

        // The same picture stored top row first scales to the same pixels.
        HDIB flipped = keep(Make(37, 23, bits, [](int, int) { return std::array<uint8_t, 4>{}; }));
        {
            const DibView from(source), to(flipped);
            to.Header().biHeight = -23;
            for (int y = 0; y < 23; ++y)
                std::memcpy(to.Pixels() + y * to.Stride(), from.Row(y), static_cast<size_t>(to.Stride()));
        }
        QCOMPARE(Bytes(keep(ScaleDib(flipped, 20, 9))), Bytes(keep(ScaleDib(source, 20, 9))));
    }
}

void IspTest::scaleFlatStaysFlat_data()
{
    QTest::addColumn<int>("bits");
    QTest::addColumn<int>("fromWidth");
    QTest::addColumn<int>("fromHeight");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::newRow("boxed reduction") << 24 << 301 << 203 << 7 << 5;
    QTest::newRow("mild reduction") << 24 << 50 << 40 << 33 << 29;
    QTest::newRow("same size") << 24 << 20 << 10 << 20 << 10;
    QTest::newRow("enlargement") << 24 << 3 << 2 << 50 << 41;
    QTest::newRow("32 boxed reduction") << 32 << 400 << 90 << 9 << 4;
    QTest::newRow("32 enlargement") << 32 << 4 << 4 << 31 << 17;
}

void IspTest::scaleFlatStaysFlat()
{
    QFETCH(int, bits);
    QFETCH(int, fromWidth);
    QFETCH(int, fromHeight);
    QFETCH(int, width);
    QFETCH(int, height);
    const std::array<std::array<uint8_t, 4>, 5> colours = {{
        {0, 0, 0, 0}, {255, 255, 255, 255}, {1, 2, 3, 4}, {50, 100, 200, 77}, {254, 128, 13, 200}}};
    for (const auto& colour : colours) {
        Freer keep;
        HDIB scaled = keep(ScaleDib(keep(Make(fromWidth, fromHeight, bits, [&](int, int) { return colour; })),
                                    width, height));
        QVERIFY(scaled);
        const DibView view(scaled);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                QVERIFY2(std::memcmp(view.Row(y) + x * (bits / 8), colour.data(), static_cast<size_t>(bits / 8)) == 0,
                         qPrintable(QStringLiteral("pixel %1,%2 of colour %3").arg(x).arg(y).arg(colour[2])));
    }
}

void IspTest::scaleAveragesInLinearLight()
{
    // Half black, half white: the mean light is 0.5, which sRGB writes as 188,
    // not the 128 of averaging the encoded values.
    Freer keep;
    HDIB pair = keep(MakeRgb(2, 1, [](int x, int) { return x ? Rgb{255, 255, 255} : Rgb{0, 0, 0}; }));
    HDIB one = keep(ScaleDib(pair, 1, 1));
    QVERIFY(one);
    QCOMPARE(At(DibView(one), 0, 0), (Rgb{188, 188, 188}));

    HDIB checks = keep(MakeRgb(64, 64, [](int x, int y) { return (x + y) % 2 ? Rgb{255, 0, 255} : Rgb{0, 255, 0}; }));
    HDIB small = keep(ScaleDib(checks, 8, 8));
    QVERIFY(small);
    const DibView view(small);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            const Rgb c = At(view, x, y);
            QVERIFY2(std::abs(c.r - 188) <= 1 && std::abs(c.g - 188) <= 1 && std::abs(c.b - 188) <= 1,
                     qPrintable(QStringLiteral("%1 %2 %3").arg(c.r).arg(c.g).arg(c.b)));
        }

    // The fourth byte of a 32-bit block is not light: it averages as it is.
    HDIB alpha = keep(Make(2, 1, 32, [](int x, int) {
        return std::array<uint8_t, 4>{0, 0, 0, static_cast<uint8_t>(x ? 255 : 0)};
    }));
    HDIB mixed = keep(ScaleDib(alpha, 1, 1));
    QVERIFY(mixed);
    QCOMPARE(int(DibView(mixed).Row(0)[3]), 128);
}

void IspTest::scaleEnlargesSmoothly()
{
    // A smooth ramp enlarged 4 times: the ends stay, the values climb steadily
    // and sit close to the ramp's own light at each position.
    Freer keep;
    HDIB ramp = keep(MakeRgb(16, 2, [](int x, int) { return Rgb{x * 17, x * 17, x * 17}; }));
    HDIB wide = keep(ScaleDib(ramp, 64, 8));
    QVERIFY(wide);
    const DibView view(wide);
    for (int y = 0; y < 8; ++y) {
        int previous = -1;
        for (int x = 0; x < 64; ++x) {
            const int v = At(view, x, y).g;
            QVERIFY2(v >= previous - 1, qPrintable(QStringLiteral("x %1: %2 after %3").arg(x).arg(v).arg(previous)));
            previous = std::max(previous, v);
            // Source position of this pixel's centre, between ramp samples.
            const double at = std::clamp((x + 0.5) / 4.0 - 0.5, 0.0, 15.0);
            const int low = static_cast<int>(at);
            const int high = std::min(low + 1, 15);
            const double light = SrgbToLinear(low * 17) * (1 - (at - low)) + SrgbToLinear(high * 17) * (at - low);
            QVERIFY2(std::abs(SrgbToLinear(v) - light) < 0.02,
                     qPrintable(QStringLiteral("x %1: %2 for light %3").arg(x).arg(v).arg(light)));
        }
        QCOMPARE(At(view, 0, y).g, 0);
        QCOMPARE(At(view, 63, y).g, 255);
    }
}

void IspTest::scaleToTheSameSizeKeepsEveryPixel()
{
    // Noise, the hardest picture to give back unchanged, at 24 and 32 bits;
    // and an axis kept while the other is reduced is not filtered either.
    Freer keep;
    std::mt19937 random(7);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int bits : {24, 32}) {
        HDIB noise = keep(Make(600, 400, bits, [&](int, int) {
            return std::array<uint8_t, 4>{static_cast<uint8_t>(byte(random)), static_cast<uint8_t>(byte(random)),
                                          static_cast<uint8_t>(byte(random)), static_cast<uint8_t>(byte(random))};
        }));
        HDIB same = keep(ScaleDib(noise, 600, 400));
        QVERIFY(same);
        const DibView in(noise), out(same);
        for (int y = 0; y < 400; ++y)
            QVERIFY2(std::memcmp(in.Row(y), out.Row(y), static_cast<size_t>(600 * bits / 8)) == 0,
                     qPrintable(QStringLiteral("%1 bits, row %2").arg(bits).arg(y)));
    }
    std::vector<Rgb> columns(600);
    for (Rgb& c : columns)
        c = {byte(random), byte(random), byte(random)};
    HDIB stripes = keep(MakeRgb(600, 400, [&](int x, int) { return columns[static_cast<size_t>(x)]; }));
    HDIB lower = keep(ScaleDib(stripes, 600, 150));
    QVERIFY(lower);
    const DibView view(lower);
    for (int x = 0; x < 600; ++x)
        QVERIFY2(At(view, x, 75) == columns[static_cast<size_t>(x)], qPrintable(QString::number(x)));
}

void IspTest::scaleRefusesBadInput()
{
    Freer keep;
    HDIB good = keep(Scene(8, 8));
    QVERIFY(!ScaleDib(nullptr, 4, 4));
    QVERIFY(!ScaleDib(good, 0, 4));
    QVERIFY(!ScaleDib(good, 4, 0));
    QVERIFY(!ScaleDib(good, -3, 4));
    // 24-bit rows beyond the decoded-size limit.
    QVERIFY(!ScaleDib(good, 100000, 100000));
    QCOMPARE(ILTakeException(), 0);

    HDIB indexed = keep(imglib::CreateDib(8, 8, 8));
    QVERIFY(!ScaleDib(indexed, 4, 4));

    HDIB packed = keep(Scene(8, 8));
    static_cast<imglib::BitmapInfoHeader*>(GlobalLock(packed))->biCompression = 1;
    GlobalUnlock(packed);
    QVERIFY(!ScaleDib(packed, 4, 4));

    // A header that claims more rows than the block holds.
    HDIB truncated = keep(Scene(8, 8));
    static_cast<imglib::BitmapInfoHeader*>(GlobalLock(truncated))->biHeight = 800;
    GlobalUnlock(truncated);
    QVERIFY(!ScaleDib(truncated, 4, 4));

    // Not a block at all.
    std::vector<uint8_t> junk(256, 0x5a);
    QVERIFY(!ScaleDib(reinterpret_cast<HDIB>(junk.data()), 4, 4));
}

void IspTest::betterChangesOnlyTheRectangle()
{
    Freer keep;
    HDIB source = keep(Scene(40, 30));
    const std::vector<uint8_t> before = Bytes(source);
    HDIB sharp = keep(Better(source, 4, 10, 5, 25, 20, nullptr, nullptr));
    QVERIFY(sharp);
    QCOMPARE(Bytes(source), before);
    const DibView in(source), out(sharp);
    int changed = 0;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) {
            const bool inside = x >= 10 && x < 25 && y >= 5 && y < 20;
            if (!inside)
                QVERIFY2(At(in, x, y) == At(out, x, y), qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
            else
                changed += At(in, x, y) == At(out, x, y) ? 0 : 1;
        }
    QVERIFY2(changed > 15 * 15 / 4, qPrintable(QString::number(changed)));

    // A rectangle reaching past the picture is cut to it: all of it changes.
    HDIB whole = keep(Better(source, 4, -50, -50, 500, 500, nullptr, nullptr));
    QVERIFY(whole);
    const DibView all(whole);
    int outside = 0;
    for (int x = 0; x < 40; ++x)
        outside += (At(all, x, 0) == At(in, x, 0) ? 0 : 1) + (At(all, x, 29) == At(in, x, 29) ? 0 : 1);
    QVERIFY2(outside > 20, qPrintable(QString::number(outside)));
}

void IspTest::betterAmountZeroCopies()
{
    Freer keep;
    HDIB source = keep(Scene(33, 17));
    for (const auto& [amount, left, right] : {std::tuple{0, 0, 33}, {2, 20, 20}, {2, 40, 50}, {3, 30, 10}}) {
        HDIB copy = keep(Better(source, amount, left, 0, right, 17, nullptr, nullptr));
        QVERIFY(copy);
        QVERIFY(copy != source);
        QCOMPARE(Bytes(copy), Bytes(source));
    }
}

void IspTest::betterSharpensWithoutHalos()
{
    // A soft edge (how edges look after a reduction: a step blurred by a
    // Gaussian of 1.2 pixels) from 60 to 190, and a hard step.
    const auto soft = [](int x, int) {
        const int v = static_cast<int>(std::lround(60 + 130 * 0.5 * (1 + std::erf((x - 15.5) / (1.2 * std::sqrt(2.0))))));
        return Rgb{v, v, v};
    };
    const auto hard = [](int x, int) { return x < 16 ? Rgb{60, 60, 60} : Rgb{190, 190, 190}; };
    for (const auto& [name, fill] : {std::pair<const char*, std::function<Rgb(int, int)>>{"soft", soft},
                                     {"hard", hard}}) {
        Freer keep;
        HDIB source = keep(MakeRgb(32, 8, fill));
        HDIB sharp = keep(Better(source, 2, 0, 0, 32, 8, nullptr, nullptr));
        QVERIFY(sharp);
        const DibView in(source), out(sharp);
        int steepestIn = 0, steepestOut = 0;
        for (int x = 0; x < 32; ++x) {
            const int v = At(out, x, 4).g;
            const QString where = QStringLiteral("%1 x %2: %3").arg(name).arg(x).arg(v);
            // Rims reach at most a quarter of the edge's height past its
            // levels, and only beside the edge: flat ground stays as it was.
            QVERIFY2(v >= 60 - 33 && v <= 190 + 33, qPrintable(where));
            if (x <= 11 || x >= 20)
                QVERIFY2(v == At(in, x, 4).g, qPrintable(where));
            if (x > 0) {
                steepestIn = std::max(steepestIn, At(in, x, 4).g - At(in, x - 1, 4).g);
                steepestOut = std::max(steepestOut, v - At(out, x - 1, 4).g);
            }
        }
        // However strong the sharpening, the rims keep to that bound.
        HDIB strong = keep(Better(source, 12, 0, 0, 32, 8, nullptr, nullptr));
        QVERIFY(strong);
        const DibView harsh(strong);
        for (int x = 0; x < 32; ++x) {
            const int v = At(harsh, x, 4).g;
            QVERIFY2(v >= 60 - 33 && v <= 190 + 33, qPrintable(QStringLiteral("%1, amount 12, x %2: %3").arg(name).arg(x).arg(v)));
        }
        if (std::string_view(name) != "soft")
            continue;
        // Steeper, and fewer pixels part-way between the two sides.
        const auto between = [](const DibView& view) {
            int n = 0;
            for (int x = 0; x < 32; ++x)
                n += At(view, x, 4).g > 70 && At(view, x, 4).g < 180 ? 1 : 0;
            return n;
        };
        QVERIFY2(steepestOut >= steepestIn + 4,
                 qPrintable(QStringLiteral("steepest step %1 -> %2").arg(steepestIn).arg(steepestOut)));
        QVERIFY2(between(out) < between(in), qPrintable(QStringLiteral("%1 -> %2").arg(between(in)).arg(between(out))));
    }

    // Faint noise in a flat area is under the threshold: left as it is.
    Freer keep;
    HDIB grain = keep(MakeRgb(16, 16, [](int x, int y) { const int v = 120 + (x * 3 + y) % 3 - 1; return Rgb{v, v, v}; }));
    HDIB same = keep(Better(grain, 2, 0, 0, 16, 16, nullptr, nullptr));
    QVERIFY(same);
    QCOMPARE(Bytes(same), Bytes(grain));
}

void IspTest::betterProgressAndStop()
{
    Freer keep;
    HDIB source = keep(Scene(1200, 700));
    Calls calls;
    QVERIFY(keep(Better(source, 2, 0, 0, 1200, 700, &calls, Record)));
    CheckPercents(calls);
    QVERIFY(calls.percents.size() >= 3);

    for (int stopAt : {0, 2}) {
        Calls stopping;
        stopping.stopAt = stopAt;
        QVERIFY(!Better(source, 2, 0, 0, 1200, 700, &stopping, Record));
        QCOMPARE(static_cast<int>(stopping.percents.size()), stopAt + 1);
    }
}

void IspTest::betterRefusesBadInput()
{
    Freer keep;
    QVERIFY(!Better(nullptr, 2, 0, 0, 4, 4, nullptr, nullptr));
    QVERIFY(!Better(keep(Scene(8, 8)), -1, 0, 0, 4, 4, nullptr, nullptr));
    HDIB wide = keep(Make(8, 8, 32, [](int, int) { return std::array<uint8_t, 4>{1, 2, 3, 4}; }));
    QVERIFY(!Better(wide, 2, 0, 0, 4, 4, nullptr, nullptr));
    QVERIFY(!Better(keep(imglib::CreateDib(8, 8, 8)), 2, 0, 0, 4, 4, nullptr, nullptr));
    QCOMPARE(ILTakeException(), 0);
}

void IspTest::reduceKeepsFewColours_data()
{
    QTest::addColumn<int>("bits");
    QTest::addColumn<int>("colours");
    QTest::addColumn<int>("dither");
    QTest::newRow("8 bits, 256 colours") << 8 << 256 << 0;
    QTest::newRow("8 bits, 256 colours, dithered") << 8 << 256 << 1;
    QTest::newRow("8 bits, 3 colours") << 8 << 3 << 1;
    QTest::newRow("4 bits, 16 colours") << 4 << 16 << 1;
    QTest::newRow("4 bits, 5 colours") << 4 << 5 << 0;
    QTest::newRow("1 bit, 2 colours") << 1 << 2 << 1;
    QTest::newRow("1 bit, 1 colour") << 1 << 1 << 0;
}

void IspTest::reduceKeepsFewColours()
{
    QFETCH(int, bits);
    QFETCH(int, colours);
    QFETCH(int, dither);
    std::mt19937 random(7);
    std::vector<Rgb> set;
    for (int i = 0; i < colours; ++i)
        set.push_back({static_cast<int>(random() % 256), static_cast<int>(random() % 256), i});
    Freer keep;
    HDIB source = keep(MakeRgb(37, 29, [&](int x, int y) { return set[static_cast<size_t>(x * 31 + y * 7) % set.size()]; }));
    const std::vector<uint8_t> before = Bytes(source);
    HDIB reduced = keep(ReduceDib(source, bits, dither, 0, 0, 0, nullptr, nullptr));
    QVERIFY(reduced);
    QCOMPARE(Bytes(source), before);
    const DibView in(source), out(reduced);
    QCOMPARE(out.Bits(), bits);
    QVERIFY(out.Colours() <= (1 << bits));
    for (int y = 0; y < 29; ++y)
        for (int x = 0; x < 37; ++x)
            QVERIFY2(At(out, x, y) == At(in, x, y), qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
}

void IspTest::reduceToBlackAndWhite()
{
    Freer keep;
    HDIB source = keep(Scene(64, 48));
    for (int dither : {0, 1}) {
        HDIB reduced = keep(ReduceDib(source, 1, dither, 0, 0, 0, nullptr, nullptr));
        QVERIFY(reduced);
        const DibView in(source), out(reduced);
        QCOMPARE(out.Bits(), 1);
        QCOMPARE(out.Colours(), 2);
        QCOMPARE(At(out, 0, 0).r == 0 || At(out, 0, 0).r == 255, true);
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x) {
                const Rgb c = At(out, x, y);
                QVERIFY(c == (Rgb{0, 0, 0}) || c == (Rgb{255, 255, 255}));
                if (!dither) {
                    const Rgb o = At(in, x, y);
                    const double luma = 0.299 * o.r + 0.587 * o.g + 0.114 * o.b;
                    if (std::abs(luma - 127.5) > 1)
                        QCOMPARE(c.r == 255, luma > 127.5);
                }
            }
    }
    // ReduceColours is the same reduction without progress.
    HDIB direct = keep(imglib::ReduceColours(source, 1, true));
    QVERIFY(direct);
    QCOMPARE(Bytes(direct), Bytes(keep(ReduceDib(source, 1, 1, 0, 0, 0, nullptr, nullptr))));
}

void IspTest::reduceDitherKeepsMean_data()
{
    QTest::addColumn<int>("bits");
    QTest::newRow("1 bit") << 1;
    QTest::newRow("4 bits, VGA") << 4;
}

void IspTest::reduceDitherKeepsMean()
{
    // A grey ramp 0..255 across: every band of 16 columns keeps its mean level
    // once dithered, while the nearest colour alone shifts whole bands.
    QFETCH(int, bits);
    Freer keep;
    HDIB ramp = keep(MakeRgb(256, 64, [](int x, int) { return Rgb{x, x, x}; }));
    HDIB dithered = keep(ReduceDib(ramp, bits, 1, 0, 0, 0, nullptr, nullptr));
    HDIB nearest = keep(ReduceDib(ramp, bits, 0, 0, 0, 0, nullptr, nullptr));
    QVERIFY(dithered && nearest);
    const DibView d(dithered), n(nearest);
    double worstDithered = 0, worstNearest = 0, total = 0;
    for (int band = 0; band < 16; ++band) {
        double sumD = 0, sumN = 0;
        for (int y = 0; y < 64; ++y)
            for (int x = band * 16; x < band * 16 + 16; ++x) {
                sumD += At(d, x, y).g;
                sumN += At(n, x, y).g;
            }
        const double want = band * 16 + 7.5;
        worstDithered = std::max(worstDithered, std::abs(sumD / 1024 - want));
        worstNearest = std::max(worstNearest, std::abs(sumN / 1024 - want));
        total += sumD;
    }
    QVERIFY2(worstDithered < 4, qPrintable(QString::number(worstDithered)));
    QVERIFY2(worstNearest > 20, qPrintable(QString::number(worstNearest)));
    QVERIFY2(std::abs(total / (256 * 64) - 127.5) < 1, qPrintable(QString::number(total / (256 * 64))));
}

void IspTest::reduceAdaptivePalette()
{
    // 4096 colours to 256: the palette follows the picture's colours closely.
    Freer keep;
    HDIB source = keep(MakeRgb(64, 64, [](int x, int y) { return Rgb{x * 4, y * 4, (x + y) * 2}; }));
    for (int dither : {0, 1}) {
        HDIB reduced = keep(ReduceDib(source, 8, dither, 0, 0, 0, nullptr, nullptr));
        QVERIFY(reduced);
        const DibView in(source), out(reduced);
        QCOMPARE(out.Bits(), 8);
        QVERIFY(out.Colours() > 128 && out.Colours() <= 256);
        double squares = 0;
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x) {
                const Rgb a = At(in, x, y), b = At(out, x, y);
                QVERIFY(b.r >= 0);
                squares += (a.r - b.r) * (a.r - b.r) + (a.g - b.g) * (a.g - b.g) + (a.b - b.b) * (a.b - b.b);
            }
        const double rms = std::sqrt(squares / (64 * 64 * 3));
        QVERIFY2(rms < (dither ? 6.0 : 5.0), qPrintable(QString::number(rms)));
    }
}

void IspTest::reduceIndexedInput()
{
    // An 8-bit block with 200 colours to 4 bits: the VGA sixteen; with 12
    // colours used: kept exactly.
    Freer keep;
    for (int used : {200, 12}) {
        HDIB source = keep(imglib::CreateDib(20, 20, 8, 256));
        {
            const DibView view(source);
            for (int i = 0; i < 256; ++i)
                view.Palette()[i] = {static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i * 7), 0};
            for (int y = 0; y < 20; ++y)
                for (int x = 0; x < 20; ++x)
                    view.Row(y)[x] = static_cast<uint8_t>((x * 20 + y) % used);
        }
        HDIB reduced = keep(ReduceDib(source, 4, 0, 0, 0, 0, nullptr, nullptr));
        QVERIFY(reduced);
        const DibView in(source), out(reduced);
        QCOMPARE(out.Bits(), 4);
        for (int y = 0; y < 20; ++y)
            for (int x = 0; x < 20; ++x) {
                const Rgb o = At(out, x, y);
                if (used <= 16) {
                    QCOMPARE(o, At(in, x, y));
                } else {
                    const bool vga = (o.r == 0 || o.r == 128 || o.r == 192 || o.r == 255) &&
                                     (o.g == 0 || o.g == 128 || o.g == 192 || o.g == 255);
                    QVERIFY(vga);
                }
            }
    }
    // 32-bit input reads its three colour bytes.
    HDIB wide = keep(Make(4, 4, 32, [](int x, int) { return std::array<uint8_t, 4>{static_cast<uint8_t>(x * 50), 1, 2, 99}; }));
    HDIB reduced = keep(ReduceDib(wide, 8, 0, 0, 0, 0, nullptr, nullptr));
    QVERIFY(reduced);
    QCOMPARE(At(DibView(reduced), 3, 2), (Rgb{2, 1, 150}));
}

void IspTest::reduceProgressAndStop()
{
    Freer keep;
    HDIB source = keep(Scene(300, 200));
    Calls calls;
    QVERIFY(keep(ReduceDib(source, 8, 1, 0, 0, 0, &calls, Record)));
    CheckPercents(calls);
    QVERIFY(calls.percents.size() >= 10);
    for (int stopAt : {0, 5, static_cast<int>(calls.percents.size()) - 1}) {
        Calls stopping;
        stopping.stopAt = stopAt;
        QVERIFY(!ReduceDib(source, 8, 1, 0, 0, 0, &stopping, Record));
        QCOMPARE(static_cast<int>(stopping.percents.size()), stopAt + 1);
    }
}

void IspTest::reduceRefusesBadInput()
{
    Freer keep;
    HDIB source = keep(Scene(8, 8));
    QVERIFY(!ReduceDib(nullptr, 8, 0, 0, 0, 0, nullptr, nullptr));
    for (int bits : {0, 2, 16, 24, 32})
        QVERIFY(!ReduceDib(source, bits, 0, 0, 0, 0, nullptr, nullptr));
    HDIB packed = keep(Scene(8, 8));
    static_cast<imglib::BitmapInfoHeader*>(GlobalLock(packed))->biCompression = 1;
    GlobalUnlock(packed);
    QVERIFY(!ReduceDib(packed, 8, 0, 0, 0, 0, nullptr, nullptr));
    QVERIFY(!imglib::ReduceColours(packed, 8, false));
}

namespace {

// What a row scaler hands on; asks it to stop after `stopAfter` calls.
struct Collected {
    std::vector<std::vector<uint8_t>> rows;
    int calls = 0, stopAfter = 1 << 30;
    static int Take(const uint8_t* const* rows, int32_t count, int32_t width, int32_t, void* data)
    {
        auto* self = static_cast<Collected*>(data);
        for (int32_t k = 0; k < count; ++k)
            self->rows.emplace_back(rows[k], rows[k] + static_cast<size_t>(width) * 3);
        return ++self->calls < self->stopAfter ? 1 : 0;
    }
};

}  // namespace

// Scaled and sharpened on rows handed in bands of any size, a picture comes
// out exactly as ScaleDib and Better make it of the whole; a sink that asks
// to stop, or rows past the height, stop the scaler for good.
void IspTest::rowsInBandsOfEverySizeMatchTheWholePicture()
{
    Freer keep;
    const int32_t sourceWidth = 157, sourceHeight = 61;
    HDIB source = keep(Scene(sourceWidth, sourceHeight, 7));
    const DibView view(source);
    std::vector<const uint8_t*> all;
    for (int32_t y = 0; y < sourceHeight; ++y)
        all.push_back(view.Row(y));
    // Rows 0..rows-1 in bands of `band`: how many bands were taken.
    const auto feed = [&all](ILScaleRows* scaler, int32_t rows, int32_t band) {
        int taken = 0;
        for (int32_t y = 0; y < rows; y += band)
            taken += ScaleRowsPut(scaler, all.data() + y, std::min(band, rows - y));
        return taken;
    };
    // Boxed first, Lanczos only, enlarged, the same size (copied), and
    // fewer rows than sharpening reads around one.
    for (const QSize size : {QSize(37, 14), QSize(100, 40), QSize(170, 70), QSize(157, 61), QSize(37, 1), QSize(37, 2)}) {
        for (const int amount : {2, 0}) {
            const DibView want(keep(Better(keep(ScaleDib(source, size.width(), size.height())), amount, 0, 0,
                                           size.width(), size.height(), nullptr, nullptr)));
            for (int32_t band = 1; band <= sourceHeight; ++band) {
                const QString label = QStringLiteral("%1x%2, amount %3, bands of %4")
                                          .arg(size.width()).arg(size.height()).arg(amount).arg(band);
                Collected got;
                ILScaleRows* scaler =
                    ScaleRowsOpen(sourceWidth, sourceHeight, size.width(), size.height(), amount, Collected::Take, &got);
                QVERIFY2(feed(scaler, sourceHeight, band) == (sourceHeight + band - 1) / band, qPrintable(label));
                QVERIFY2(ScaleRowsClose(scaler) == 1, qPrintable(label));
                QCOMPARE(got.rows.size(), size_t(size.height()));
                for (int y = 0; y < size.height(); ++y) {
                    QVERIFY2(std::memcmp(got.rows[size_t(y)].data(), want.Row(y), size_t(size.width()) * 3) == 0,
                             qPrintable(label + QStringLiteral(", row %1").arg(y)));
                }
            }
        }
    }

    // Stopped by its sink after the first rows it hands on.
    Collected stopped;
    stopped.stopAfter = 1;
    ILScaleRows* scaler = ScaleRowsOpen(sourceWidth, sourceHeight, 37, 14, 2, Collected::Take, &stopped);
    QVERIFY(feed(scaler, sourceHeight, 1) < sourceHeight);
    QCOMPARE(stopped.calls, 1);
    QCOMPARE(ScaleRowsClose(scaler), 0);
    // More rows than the height (refused from then on), and rows missing.
    Collected extra;
    scaler = ScaleRowsOpen(sourceWidth, 2, 37, 1, 2, Collected::Take, &extra);
    QCOMPARE(ScaleRowsPut(scaler, all.data(), 3), 0);
    QCOMPARE(ScaleRowsPut(scaler, all.data(), 1), 0);
    QCOMPARE(ScaleRowsClose(scaler), 0);
    scaler = ScaleRowsOpen(sourceWidth, sourceHeight, 37, 14, 2, Collected::Take, &extra);
    QCOMPARE(feed(scaler, 3, 3), 1);
    QCOMPARE(ScaleRowsClose(scaler), 0);
}

QTEST_GUILESS_MAIN(IspTest)
#include "isp_test.moc"
