// The preview control's display arithmetic, case by case.
#include "preview/PreviewLayout.h"

#include <QTest>

#include <cmath>
#include <limits>

using namespace preview;

Q_DECLARE_METATYPE(preview::Box)
Q_DECLARE_METATYPE(preview::Overflow)
Q_DECLARE_METATYPE(preview::ViewGeometry)
Q_DECLARE_METATYPE(preview::BarConditions)

namespace QTest {
template <>
char* toString(const preview::Box& box)
{
    return qstrdup(QByteArray("(" + QByteArray::number(box.x) + ", " + QByteArray::number(box.y) +
                              ", " + QByteArray::number(box.width) + ", " +
                              QByteArray::number(box.height) + ")")
                       .constData());
}
}  // namespace QTest

namespace {

// W, H, w, h, z, x0, y0.
ViewGeometry View(int W, int H, int w, int h, double z = 1.0, int x0 = 0, int y0 = 0)
{
    return {W, H, w, h, z, x0, y0};
}

BarConditions AllOn()
{
    BarConditions c;
    c.hasGraphic = true;
    c.handleAllocated = true;
    c.scrolling = true;
    c.showScrollbars = true;
    return c;
}

}  // namespace

class PreviewLayoutTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void truncation_data();
    void truncation();
    void overflow_data();
    void overflow();
    void scrolling_data();
    void scrolling();
    void plain_data();
    void plain();
    void bars_data();
    void bars();
    void barsHiddenUnlessEveryConditionHolds_data();
    void barsHiddenUnlessEveryConditionHolds();
    void originForPosition_data();
    void originForPosition();
    void pullBack_data();
    void pullBack();
    void fittingScale_data();
    void fittingScale();
};

void PreviewLayoutTest::truncation_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("expected");
    QTest::newRow("positive fraction") << 2.7 << 2;
    QTest::newRow("negative fraction toward zero") << -2.7 << -2;
    QTest::newRow("just below one") << 0.999 << 0;
    QTest::newRow("minus a half") << -0.5 << 0;
    QTest::newRow("whole") << 384.0 << 384;
    QTest::newRow("NaN") << std::nan("") << 0;
    QTest::newRow("too large") << 1e300 << std::numeric_limits<int>::max();
    QTest::newRow("minus infinity") << -std::numeric_limits<double>::infinity()
                                    << std::numeric_limits<int>::min();
}

void PreviewLayoutTest::truncation()
{
    QFETCH(double, value);
    QFETCH(int, expected);
    QCOMPARE(Trunc(value), expected);
}

void PreviewLayoutTest::overflow_data()
{
    QTest::addColumn<ViewGeometry>("view");
    QTest::addColumn<Overflow>("expected");
    QTest::newRow("exact fit") << View(728, 400, 728, 400) << Overflow::None;
    QTest::newRow("smaller") << View(728, 400, 300, 200) << Overflow::None;
    QTest::newRow("reduced landscape photo") << View(728, 400, 728, 546) << Overflow::HeightOnly;
    QTest::newRow("wide") << View(728, 400, 800, 300) << Overflow::WidthOnly;
    QTest::newRow("both") << View(728, 400, 800, 500) << Overflow::Both;
    QTest::newRow("one pixel over") << View(100, 100, 101, 50) << Overflow::WidthOnly;
    // 101 × 0.99 = 99.99 truncates to 99, which fits.
    QTest::newRow("scaled size truncated") << View(100, 100, 101, 50, 0.99) << Overflow::None;
    QTest::newRow("doubled") << View(100, 100, 80, 30, 2.0) << Overflow::WidthOnly;
}

void PreviewLayoutTest::overflow()
{
    QFETCH(ViewGeometry, view);
    QFETCH(Overflow, expected);
    QCOMPARE(OverflowOf(view), expected);
    QCOMPARE(Overflows(view), expected != Overflow::None);
}

void PreviewLayoutTest::scrolling_data()
{
    QTest::addColumn<ViewGeometry>("view");
    QTest::addColumn<bool>("center");
    QTest::addColumn<bool>("show");
    QTest::addColumn<int>("barWidth");
    QTest::addColumn<Box>("source");
    QTest::addColumn<Box>("destination");
    QTest::addColumn<int>("offsetX");
    QTest::addColumn<int>("offsetY");
    QTest::addColumn<int>("reserved");  // -1: nothing reserved

    QTest::newRow("fits") << View(728, 400, 300, 200, 1.0, 9, 9) << false << true << 16
                          << Box{0, 0, 300, 200} << Box{0, 0, 300, 200} << 0 << 0 << -1;
    QTest::newRow("fits, centred") << View(728, 400, 300, 200) << true << true << 16
                                   << Box{0, 0, 300, 200} << Box{214, 100, 300, 200} << 214
                                   << 100 << -1;
    QTest::newRow("fits, centred, odd margin") << View(101, 51, 50, 20) << true << true << 16
                                               << Box{0, 0, 50, 20} << Box{25, 15, 50, 20} << 25
                                               << 15 << -1;
    QTest::newRow("height overflows") << View(728, 400, 728, 546, 1.0, 0, 50) << false << true
                                      << 16 << Box{0, 50, 728, 384} << Box{0, 0, 728, 384} << 0
                                      << 0 << 16;
    QTest::newRow("height overflows, centred") << View(728, 400, 600, 546) << true << true << 16
                                               << Box{0, 0, 600, 384} << Box{64, 0, 600, 384}
                                               << 64 << 0 << 16;
    QTest::newRow("width overflows") << View(728, 400, 1000, 300, 1.0, 10, 0) << false << true
                                     << 16 << Box{10, 0, 712, 300} << Box{0, 0, 712, 300} << 0
                                     << 0 << 16;
    QTest::newRow("width overflows, centred") << View(728, 400, 1000, 300, 1.0, 10, 0) << true
                                              << true << 16 << Box{10, 0, 712, 300}
                                              << Box{0, 50, 712, 300} << 0 << 50 << 16;
    QTest::newRow("both overflow") << View(728, 400, 1000, 800, 1.0, 5, 7) << false << true << 16
                                   << Box{5, 7, 712, 384} << Box{0, 0, 712, 384} << 0 << 0
                                   << 16;
    QTest::newRow("both overflow, centring ignored") << View(728, 400, 1000, 800, 1.0, 5, 7)
                                                     << true << true << 16 << Box{5, 7, 712, 384}
                                                     << Box{0, 0, 712, 384} << 0 << 0 << 16;
    QTest::newRow("both overflow, no bars") << View(728, 400, 1000, 800, 1.0, 5, 7) << false
                                            << false << 16 << Box{5, 7, 728, 400}
                                            << Box{0, 0, 728, 400} << 0 << 0 << -1;
    QTest::newRow("doubled, width overflows") << View(100, 100, 80, 30, 2.0, 3, 0) << false
                                              << true << 12 << Box{3, 0, 44, 30}
                                              << Box{0, 0, 88, 60} << 0 << 0 << 12;
    // 88 / 0.7 = 125.7.
    QTest::newRow("fractional scale truncates") << View(100, 100, 200, 200, 0.7) << false << true
                                                << 12 << Box{0, 0, 125, 125} << Box{0, 0, 88, 88}
                                                << 0 << 0 << 12;
}

void PreviewLayoutTest::scrolling()
{
    QFETCH(ViewGeometry, view);
    QFETCH(bool, center);
    QFETCH(bool, show);
    QFETCH(int, barWidth);
    QFETCH(int, reserved);
    const ScrollPlacement p = PlaceScrolling(view, center, show, barWidth);
    QTEST(p.source, "source");
    QTEST(p.destination, "destination");
    QTEST(p.offsetX, "offsetX");
    QTEST(p.offsetY, "offsetY");
    QCOMPARE(p.reserved, reserved >= 0);
    QCOMPARE(p.reservedWidth, std::max(reserved, 0));
}

void PreviewLayoutTest::plain_data()
{
    QTest::addColumn<bool>("center");
    QTest::addColumn<Box>("expected");
    QTest::newRow("top-left") << false << Box{0, 0, 300, 201};
    QTest::newRow("centred") << true << Box{214, 99, 300, 201};
}

void PreviewLayoutTest::plain()
{
    QFETCH(bool, center);
    QFETCH(Box, expected);
    QCOMPARE(PlacePlain(728, 400, 300, 201, center), expected);
    // A picture larger than the control centres at a negative position.
    if (center)
        QCOMPARE(PlacePlain(100, 100, 131, 100, true).x, -15);
}

void PreviewLayoutTest::bars_data()
{
    QTest::addColumn<ViewGeometry>("view");
    QTest::addColumn<int>("barWidth");
    QTest::addColumn<Box>("vertical");
    QTest::addColumn<Box>("horizontal");
    QTest::addColumn<Box>("corner");
    QTest::addColumn<int>("hMax");
    QTest::addColumn<int>("hPos");
    QTest::addColumn<int>("vMax");
    QTest::addColumn<int>("vPos");

    const Box v{712, 1, 16, 383};
    const Box h{1, 384, 711, 16};
    const Box c{712, 384, 16, 16};
    QTest::newRow("main window photo") << View(728, 400, 728, 546) << 16 << v << h << c << 16
                                       << 0 << 162 << 0;
    QTest::newRow("scrolled") << View(728, 400, 728, 546, 1.0, 3, 100) << 16 << v << h << c
                              << 16 << 3 << 162 << 100;
    QTest::newRow("origin past the end") << View(728, 400, 728, 546, 1.0, 40, 500) << 16 << v
                                         << h << c << 16 << 16 << 162 << 162;
    // 2000 × 0.5 = 1000: range 1000 − 728 + 12; the height does not overflow.
    QTest::newRow("halved") << View(728, 400, 2000, 400, 0.5, 100, 10) << 12
                            << Box{716, 1, 12, 387} << Box{1, 388, 715, 12}
                            << Box{716, 388, 12, 12} << 284 << 50 << 0 << 0;
}

void PreviewLayoutTest::bars()
{
    QFETCH(ViewGeometry, view);
    QFETCH(int, barWidth);
    const BarLayout layout = LayOutBars(view, AllOn(), barWidth);
    QVERIFY(layout.shown);
    QTEST(layout.vertical, "vertical");
    QTEST(layout.horizontal, "horizontal");
    QTEST(layout.corner, "corner");
    QTEST(layout.horizontalMax, "hMax");
    QTEST(layout.horizontalPosition, "hPos");
    QTEST(layout.verticalMax, "vMax");
    QTEST(layout.verticalPosition, "vPos");
}

void PreviewLayoutTest::barsHiddenUnlessEveryConditionHolds_data()
{
    QTest::addColumn<BarConditions>("conditions");
    QTest::addColumn<ViewGeometry>("view");
    const ViewGeometry tall = View(728, 400, 728, 546);
    BarConditions c = AllOn();
    QTest::newRow("picture fits") << c << View(728, 400, 728, 400);
    c = AllOn(); c.hasGraphic = false;
    QTest::newRow("no graphic") << c << tall;
    c = AllOn(); c.stretch = true;
    QTest::newRow("stretch") << c << tall;
    c = AllOn(); c.stretchRatio = true;
    QTest::newRow("stretch ratio") << c << tall;
    c = AllOn(); c.handleAllocated = false;
    QTest::newRow("no handle") << c << tall;
    c = AllOn(); c.scrolling = false;
    QTest::newRow("not scrolling") << c << tall;
    c = AllOn(); c.showScrollbars = false;
    QTest::newRow("bars switched off") << c << tall;
}

void PreviewLayoutTest::barsHiddenUnlessEveryConditionHolds()
{
    QFETCH(BarConditions, conditions);
    QFETCH(ViewGeometry, view);
    const BarLayout layout = LayOutBars(view, conditions, 16);
    QVERIFY(!layout.shown);
    const Box hidden{-1, -1, -1, -1};
    QCOMPARE(layout.vertical, hidden);
    QCOMPARE(layout.horizontal, hidden);
    QCOMPARE(layout.corner, hidden);
}

void PreviewLayoutTest::originForPosition_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<double>("scale");
    QTest::addColumn<int>("expected");
    QTest::newRow("scale 1") << 16 << 1.0 << 16;
    QTest::newRow("doubled") << 7 << 2.0 << 3;
    QTest::newRow("halved") << 7 << 0.5 << 14;
    QTest::newRow("fraction truncated") << 5 << 0.3 << 16;
    QTest::newRow("zero scale") << 5 << 0.0 << 0;
}

void PreviewLayoutTest::originForPosition()
{
    QFETCH(int, position);
    QFETCH(double, scale);
    QTEST(OriginForPosition(position, scale), "expected");
}

void PreviewLayoutTest::pullBack_data()
{
    QTest::addColumn<ViewGeometry>("view");
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    // gap = 728 − (1000 − 300) = 28: 300 − 28 − 1.
    QTest::newRow("gap at the right") << View(728, 400, 1000, 300, 1.0, 300, 0) << 271 << 0;
    QTest::newRow("no gap") << View(728, 400, 1000, 300, 1.0, 200, 0) << 200 << 0;
    QTest::newRow("not wider") << View(728, 400, 500, 300, 1.0, 50, 0) << 50 << 0;
    // The bars' 16 rows are left as a gap of 16 at the bottom.
    QTest::newRow("gap at the bottom") << View(728, 400, 728, 546, 1.0, 0, 162) << 0 << 145;
    QTest::newRow("both") << View(728, 400, 1000, 546, 1.0, 300, 162) << 271 << 145;
    // gap = 100 − 40 × 2 = 20: trunc(40 − 10) − 1.
    QTest::newRow("doubled") << View(100, 100, 80, 30, 2.0, 40, 0) << 29 << 0;
    // trunc(50 − 49 / 0.995) − 1 would be −1.
    QTest::newRow("never left of the picture") << View(100, 100, 101, 10, 0.995, 50, 0) << 0
                                               << 0;
}

void PreviewLayoutTest::pullBack()
{
    QFETCH(ViewGeometry, view);
    QFETCH(int, x);
    QFETCH(int, y);
    QCOMPARE(PullBack(view), (Origin{x, y}));
}

void PreviewLayoutTest::fittingScale_data()
{
    QTest::addColumn<int>("W");
    QTest::addColumn<int>("H");
    QTest::addColumn<int>("w");
    QTest::addColumn<int>("h");
    QTest::addColumn<double>("expected");
    QTest::newRow("width decides") << 728 << 400 << 1456 << 400 << 0.5;
    QTest::newRow("height decides") << 728 << 400 << 364 << 800 << 0.5;
    QTest::newRow("enlarges") << 100 << 100 << 50 << 25 << 2.0;
    QTest::newRow("equal") << 300 << 200 << 600 << 400 << 0.5;
    QTest::newRow("empty picture keeps the scale") << 100 << 100 << 0 << 10 << 1.5;
}

void PreviewLayoutTest::fittingScale()
{
    QFETCH(int, W);
    QFETCH(int, H);
    QFETCH(int, w);
    QFETCH(int, h);
    QFETCH(double, expected);
    QCOMPARE(FittingScale(W, H, w, h, 1.5), expected);
}

QTEST_APPLESS_MAIN(PreviewLayoutTest)
#include "preview_layout_test.moc"
