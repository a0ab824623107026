// The size rule: every class, the tie rounding, the low 32 bits and a caller's
// rounding mode.
#include "reduce/ReduceSize.h"

#include <QTest>

#include <cfenv>
#include <cstdint>


namespace {

QSize ReduceSize(int32_t width, int32_t height, int32_t target, int32_t threshold)
{
    const reduce::Size size = reduce::ReduceSize(width, height, target, threshold);
    return {size.width, size.height};
}

}  // namespace

class ReduceSizeTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void Sizes_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("threshold");
        QTest::addColumn<QSize>("expected");

        QTest::newRow("landscape reduced") << 1600 << 1200 << 640 << QSize(728, 546);
        QTest::newRow("portrait reduced") << 1200 << 1600 << 640 << QSize(546, 728);
        QTest::newRow("485.33 rounds down") << 3000 << 2000 << 640 << QSize(728, 485);
        QTest::newRow("tie 500.5 to even 500") << 1456 << 1001 << 640 << QSize(728, 500);
        QTest::newRow("tie 501.5 to even 502") << 1456 << 1003 << 640 << QSize(728, 502);
        QTest::newRow("portrait tie 500.5 to even 500") << 1001 << 1456 << 640 << QSize(500, 728);
        QTest::newRow("landscape enlarged") << 700 << 500 << 640 << QSize(728, 520);
        QTest::newRow("narrow landscape kept") << 639 << 100 << 640 << QSize(639, 100);
        QTest::newRow("landscape at 640 enlarged") << 640 << 100 << 640 << QSize(728, 114);
        QTest::newRow("small square fitted") << 500 << 500 << 640 << QSize(728, 728);
        QTest::newRow("large square fitted") << 4096 << 4096 << 640 << QSize(728, 728);
        QTest::newRow("low portrait kept") << 100 << 639 << 640 << QSize(100, 639);
        QTest::newRow("portrait at 640 enlarged") << 100 << 640 << 640 << QSize(114, 728);
        QTest::newRow("width-fit portrait") << 600 << 800 << 0 << QSize(728, 971);
        QTest::newRow("width-fit small landscape") << 300 << 200 << 0 << QSize(728, 485);
        QTest::newRow("width-fit square") << 500 << 500 << 0 << QSize(728, 728);
        QTest::newRow("other threshold keeps nothing") << 300 << 200 << 500 << QSize(728, 485);
        QTest::newRow("other threshold portrait") << 200 << 300 << 641 << QSize(485, 728);
        QTest::newRow("empty is a square") << 0 << 0 << 640 << QSize(728, 728);
        QTest::newRow("strip keeps one pixel") << 5000 << 1 << 640 << QSize(728, 1);
        QTest::newRow("upright strip keeps one pixel") << 1 << 5000 << 640 << QSize(1, 728);
        QTest::newRow("width-fit of no width") << 0 << 5 << 0 << QSize(728, 1);
        // 728 × 6000000 / 1 does not fit 32 bits: its low 32 bits are the side.
        QTest::newRow("width-fit beyond 32 bits") << 1 << 6000000 << 0
                                                  << QSize(728, static_cast<int32_t>(
                                                                    static_cast<uint32_t>(
                                                                        728ull * 6000000ull)));
    }

    void Sizes()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, threshold);
        QFETCH(QSize, expected);
        QCOMPARE(ReduceSize(width, height, 728, threshold), expected);
    }

    // Upward or downward rounding would turn 500.5 into 501 or 501.5 into
    // 501, and 3000 × 2000's 485.33 into 486.
    void CallerRoundingModeDoesNotCount_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("upward") << FE_UPWARD;
        QTest::newRow("downward") << FE_DOWNWARD;
        QTest::newRow("toward zero") << FE_TOWARDZERO;
    }

    void CallerRoundingModeDoesNotCount()
    {
        QFETCH(int, mode);
        const int before = std::fegetround();
        QCOMPARE(std::fesetround(mode), 0);
        const QSize tieDown = ReduceSize(1456, 1001, 728, 640);
        const QSize tieUp = ReduceSize(1456, 1003, 728, 640);
        const QSize fraction = ReduceSize(3000, 2000, 728, 640);
        const int after = std::fegetround();
        std::fesetround(before);

        QCOMPARE(after, mode);
        QCOMPARE(tieDown, QSize(728, 500));
        QCOMPARE(tieUp, QSize(728, 502));
        QCOMPARE(fraction, QSize(728, 485));
    }
};

QTEST_APPLESS_MAIN(ReduceSizeTest)
#include "reduce_size_test.moc"
