#include "TestBlocks.h"

#include "imaging/DLL96V1.h"
#include "imaging/DllSP96.h"
#include "imaging/ErrorInvalid.h"
#include "imaging/ILDibCls.h"
#include "imaging/ILTDib.h"
#include "imaging/MessageHandler.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace imaging;
using namespace testblocks;

namespace {

const QString kModuleDir = QStringLiteral(SNIMKOREZ_MODULE_DIR);

const QList<QRgb> kFour{qRgb(10, 20, 30), qRgb(40, 50, 60), qRgb(70, 80, 90), qRgb(100, 110, 120)};

QByteArray Bgr(QRgb colour)
{
    return Bytes({qBlue(colour), qGreen(colour), qRed(colour)});
}

using Convert = HDIB (*)(HDIB);

struct Entry {
    const char* name;
    Convert convert;
};

}  // namespace

Q_DECLARE_METATYPE(QList<QRgb>)

class DibTest : public QObject {
    Q_OBJECT

private:
    QStringList m_messages;

private Q_SLOTS:
    void initTestCase()
    {
        SetMessageHandler([this](const QString& text) { m_messages << text; });
    }

    void init()
    {
        DLL96V1::Finalize();
        DllSP96::Finalize();
        DLL96V1::Initialize();
        DllSP96::Initialize();
        DLL96V1::SetDllDirectory(kModuleDir);
        m_messages.clear();
    }

    void cleanup()
    {
        QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join(QLatin1Char('\n'))));
    }

    void cleanupTestCase()
    {
        DLL96V1::Finalize();
        DllSP96::Finalize();
    }

    void createBlock_data()
    {
        QTest::addColumn<int>("depth");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("storedDepth");
        QTest::addColumn<int>("stride");
        QTest::addColumn<int>("imageSize");
        QTest::addColumn<int>("colours");
        QTest::addColumn<int>("allocated");
        QTest::addColumn<int>("total");
        QTest::newRow("24-bit 3x2") << 24 << 3 << 2 << 24 << 12 << 24 << 0 << 64 << 64;
        QTest::newRow("1-bit 10 wide") << 1 << 10 << 3 << 1 << 4 << 12 << 2 << 60 << 60;
        QTest::newRow("2 is stored as 1") << 2 << 33 << 1 << 1 << 8 << 8 << 2 << 56 << 56;
        QTest::newRow("4-bit 5 wide") << 4 << 5 << 2 << 4 << 4 << 8 << 16 << 112 << 112;
        QTest::newRow("8-bit 5 wide") << 8 << 5 << 2 << 8 << 8 << 16 << 256 << 1080 << 1080;
        QTest::newRow("16-bit 3 wide") << 16 << 3 << 1 << 16 << 8 << 8 << 0 << 48 << 48;
        QTest::newRow("32-bit 3 wide") << 32 << 3 << 2 << 32 << 12 << 24 << 0 << 64 << 64;
    }

    void createBlock()
    {
        QFETCH(int, depth);
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, storedDepth);
        QFETCH(int, stride);
        QFETCH(int, imageSize);
        QFETCH(int, colours);
        QFETCH(int, allocated);
        QFETCH(int, total);
        ILTDib dib;
        QVERIFY(dib.CreateBlock(nullptr, width, depth, height));
        HGLOBAL block = dib.Handle();
        QCOMPARE(Locks(block), 1u);
        QCOMPARE(static_cast<int>(GlobalSize(block)), allocated);
        QCOMPARE(dib.Stride(), stride);
        QCOMPARE(dib.TotalSize(), total);
        QCOMPARE(dib.Colours(), colours);
        QCOMPARE(dib.Pixels() - reinterpret_cast<uint8_t*>(dib.Header()), 40 + 4 * colours);
        const BITMAPINFOHEADER header = HeaderOf(block);
        QCOMPARE(header.biSize, 40u);
        QCOMPARE(header.biWidth, width);
        QCOMPARE(header.biHeight, height);
        QCOMPARE(header.biPlanes, uint16_t{1});
        QCOMPARE(int{header.biBitCount}, storedDepth);
        QCOMPARE(header.biCompression, 0u);
        QCOMPARE(static_cast<int>(header.biSizeImage), imageSize);
        QCOMPARE(header.biXPelsPerMeter, 2953);
        QCOMPARE(header.biYPelsPerMeter, 2953);
        QCOMPARE(static_cast<int>(header.biClrUsed), colours);
        QCOMPARE(static_cast<int>(header.biClrImportant), colours);
        QCOMPARE(ILTDib::ColoursForDepth(storedDepth), colours);
    }

    void createBlockRefusesOtherDepths()
    {
        ILTDib dib;
        QVERIFY(!dib.CreateBlock(nullptr, 4, 5, 4));
        QVERIFY(!dib.Header());
        QCOMPARE(dib.TotalSize(), 0);
        QCOMPARE(dib.HeaderSize(), 0);
        QVERIFY_THROWS_EXCEPTION(ErrorInvalid, dib.CreateBlock(nullptr, INT32_MAX, 24, INT32_MAX));
    }

    void createBlockCopiesThePalette()
    {
        ILTDib dib;
        const QList<QRgb> three(kFour.begin(), kFour.begin() + 3);
        QVERIFY(dib.CreateBlock(&three, 2, 8, 2));
        const QList<QRgb> table = TableOf(dib.Handle());
        QCOMPARE(table.size(), 256);
        QCOMPARE(table.mid(0, 3), three);
        QCOMPARE(table[3], qRgb(0, 0, 0));
        QCOMPARE(dib.Palette().mid(0, 3), three);
        const auto* bytes = reinterpret_cast<const uint8_t*>(dib.Header()) + 40;
        QCOMPARE(bytes[3], uint8_t{0});
    }

    void zeroImageSizeIsComputedAndKept()
    {
        HGLOBAL block = Make(3, 2, 24, {}, QByteArray(24, '\x7f'), 0, 0);
        {
            ILTDib dib;
            dib.SetOwnsBlock(false);
            dib.Attach(GlobalLock(block));
            QCOMPARE(dib.TotalSize(), 64);
            QCOMPARE(HeaderOf(block).biSizeImage, 24u);
        }
        FreeDib(block);
    }

    void eightBitPaletteToTwentyFour()
    {
        HGLOBAL block = Make(2, 2, 8, kFour, Stored({Bytes({0, 1}), Bytes({2, 3})}, 4));
        HGLOBAL wide = Dib8To24(block);
        QVERIFY(wide);
        QCOMPARE(HeaderOf(wide).biBitCount, uint16_t{24});
        QCOMPARE(PixelsOf(wide), Stored({Bgr(kFour[0]) + Bgr(kFour[1]), Bgr(kFour[2]) + Bgr(kFour[3])}, 8));
        QCOMPARE(Locks(wide), 1u);
        // A table shorter than the indices: past its end is black.
        HGLOBAL shortTable = Make(2, 1, 8, kFour.mid(0, 1), Stored({Bytes({0, 9})}, 4));
        HGLOBAL fromShort = Dib8To24(shortTable);
        QCOMPARE(PixelsOf(fromShort), Stored({Bgr(kFour[0]) + Bgr(qRgb(0, 0, 0))}, 8));
        for (HGLOBAL h : {block, wide, shortTable, fromShort})
            FreeDib(h);
    }

    void eightToTwentyFourRefusals()
    {
        try {
            (void)Dib8To24(nullptr);
            QFAIL("no error raised");
        } catch (const ErrorInvalid& error) {
            QCOMPARE(error.Message(), QStringLiteral("Input image is empty"));
        }
        HGLOBAL wide = Make(1, 1, 24, {}, QByteArray(4, '\0'));
        try {
            (void)Dib8To24(wide);
            QFAIL("no error raised");
        } catch (const ErrorInvalid& error) {
            QCOMPARE(error.Message(), QStringLiteral("Input image is not 8 bit"));
        }
        // A header that claims more rows than the block holds.
        HGLOBAL truncated = Make(4, 100, 8, kFour, QByteArray(8, '\0'), 0, 400);
        QVERIFY(!Dib8To24(truncated));
        HGLOBAL understated = Make(4, 100, 8, kFour, QByteArray(8, '\0'), 0, 8);
        QVERIFY(!Dib8To24(understated));
        for (HGLOBAL h : {wide, truncated, understated})
            FreeDib(h);
    }

    void increaseDepth_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<int>("result");  // 0: none
        QTest::newRow("1 to 4") << 1 << 4 << 4;
        QTest::newRow("1 to 8") << 1 << 8 << 8;
        QTest::newRow("1 to 24") << 1 << 24 << 24;
        QTest::newRow("1 to 16") << 1 << 16 << 0;
        QTest::newRow("1 to 1") << 1 << 1 << 0;
        QTest::newRow("4 to 8") << 4 << 8 << 8;
        QTest::newRow("4 to 24") << 4 << 24 << 24;
        QTest::newRow("4 to 1") << 4 << 1 << 0;
        QTest::newRow("4 to 32") << 4 << 32 << 0;
        QTest::newRow("8 to 9") << 8 << 9 << 24;
        QTest::newRow("8 to 16") << 8 << 16 << 24;
        QTest::newRow("8 to 24") << 8 << 24 << 24;
        QTest::newRow("8 to 32") << 8 << 32 << 24;
        QTest::newRow("8 to 8") << 8 << 8 << 0;
        QTest::newRow("8 to 4") << 8 << 4 << 0;
        QTest::newRow("16 to 24") << 16 << 24 << 24;
        QTest::newRow("16 to 16") << 16 << 16 << 24;
        QTest::newRow("16 to 32") << 16 << 32 << 24;
        QTest::newRow("24 to 32") << 24 << 32 << 0;
        QTest::newRow("32 to 32") << 32 << 32 << 0;
    }

    void increaseDepth()
    {
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(int, result);
        const QList<QRgb> palette = from <= 8 ? QList<QRgb>(1 << from, qRgb(9, 9, 9)) : QList<QRgb>();
        HGLOBAL block = Make(5, 2, from, palette, QByteArray(static_cast<int>(DibStride(5, from)) * 2, '\0'));
        DLL96V1::SetStatusText(QString());
        HGLOBAL deeper = IncreaseDepth(block, to);
        QCOMPARE(deeper ? int{HeaderOf(deeper).biBitCount} : 0, result);
        if (deeper) {
            QCOMPARE(HeaderOf(deeper).biWidth, 5);
            QCOMPARE(DLL96V1::StatusText(), QStringLiteral("Increasing colors "));
        }
        FreeDib(block);
        FreeDib(deeper);
    }

    // The pixels of each depth conversion entry.
    void conversionEntries_data()
    {
        QTest::addColumn<int>("entry");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("depth");
        QTest::addColumn<QList<QRgb>>("palette");
        QTest::addColumn<QByteArray>("row");
        QTest::addColumn<int>("resultDepth");
        QTest::addColumn<QByteArray>("expected");  // the result's single row, unpadded
        const QList<QRgb> two{qRgb(1, 2, 3), qRgb(200, 150, 100)};
        QList<QRgb> sixteen;
        for (int i = 0; i < 16; ++i)
            sixteen << qRgb(i * 16, 255 - i, i);
        QTest::newRow("DIB1to4") << 0 << 10 << 1 << two << Bytes({0xB1, 0x40}) << 4
                                 << Bytes({0x10, 0x11, 0x00, 0x01, 0x01});
        QTest::newRow("DIB1To8") << 1 << 10 << 1 << two << Bytes({0xB1, 0x40}) << 8
                                 << Bytes({1, 0, 1, 1, 0, 0, 0, 1, 0, 1});
        QTest::newRow("DIB1To24") << 2 << 3 << 1 << two << Bytes({0x40}) << 24
                                  << Bgr(two[0]) + Bgr(two[1]) + Bgr(two[0]);
        QTest::newRow("DIB4To8") << 3 << 3 << 4 << sixteen << Bytes({0x2F, 0x70}) << 8 << Bytes({2, 15, 7});
        QTest::newRow("DIB4To24") << 4 << 3 << 4 << sixteen << Bytes({0x2F, 0x70}) << 24
                                  << Bgr(sixteen[2]) + Bgr(sixteen[15]) + Bgr(sixteen[7]);
        // 5-5-5, blue in the low bits; 31 widens to 255.
        QTest::newRow("DIB16To24") << 5 << 2 << 16 << QList<QRgb>() << Bytes({0x1F, 0x7C, 0x21, 0x04}) << 24
                                   << Bytes({255, 0, 255, 8, 8, 8});
        QTest::newRow("DIB32To24") << 6 << 2 << 32 << QList<QRgb>() << Bytes({1, 2, 3, 4, 5, 6, 7, 8}) << 24
                                   << Bytes({1, 2, 3, 5, 6, 7});
    }

    void conversionEntries()
    {
        QFETCH(int, entry);
        QFETCH(int, width);
        QFETCH(int, depth);
        QFETCH(QList<QRgb>, palette);
        QFETCH(QByteArray, row);
        QFETCH(int, resultDepth);
        QFETCH(QByteArray, expected);
        static const Convert entries[] = {DLL96V1::DIB1to4, DLL96V1::DIB1To8, DLL96V1::DIB1To24,
                                          DLL96V1::DIB4To8, DLL96V1::DIB4To24, DLL96V1::DIB16To24,
                                          DLL96V1::DIB32To24};
        const int stride = static_cast<int>(DibStride(width, depth));
        HGLOBAL block = Make(width, 2, depth, palette, Stored({row, QByteArray()}, stride));
        const QByteArray before = BytesOf(block);
        HGLOBAL result = entries[entry](block);
        QVERIFY(result);
        const BITMAPINFOHEADER header = HeaderOf(result);
        QCOMPARE(int{header.biBitCount}, resultDepth);
        QCOMPARE(header.biWidth, width);
        QCOMPARE(header.biHeight, 2);
        if (resultDepth <= 8)
            QCOMPARE(TableOf(result).mid(0, palette.size()), palette);
        const int outStride = static_cast<int>(DibStride(width, resultDepth));
        // The bottom row holds zeros: index 0 where there is a table.
        QByteArray bottom;
        if (resultDepth == 24 && !palette.isEmpty())
            bottom = Bgr(palette[0]).repeated(width);
        QCOMPARE(PixelsOf(result), Stored({expected, bottom}, outStride));
        QCOMPARE(BytesOf(block), before);
        // Each entry takes only its own depth.
        HGLOBAL other = Make(1, 1, depth == 32 ? 24 : 32, {}, QByteArray(4, '\0'));
        QVERIFY(!entries[entry](other));
        QVERIFY(!entries[entry](nullptr));
        for (HGLOBAL h : {block, result, other})
            FreeDib(h);
    }

    void bitmapOf32BitsBecomes24()
    {
        QImage image(3, 2, QImage::Format_RGB32);
        const QRgb colours[2][3] = {{qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255)},
                                    {qRgb(1, 2, 3), qRgb(4, 5, 6), qRgb(7, 8, 9)}};
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x)
                image.setPixel(x, y, colours[y][x]);
        HGLOBAL dib = nullptr;
        QVERIFY(BitmapToDib(TBitmap(image), 24, 0, nullptr, nullptr, dib));
        QCOMPARE(HeaderOf(dib).biBitCount, uint16_t{24});
        QCOMPARE(PixelsOf(dib).left(24),
                 Stored({Bgr(colours[0][0]) + Bgr(colours[0][1]) + Bgr(colours[0][2]),
                         Bgr(colours[1][0]) + Bgr(colours[1][1]) + Bgr(colours[1][2])},
                        12));
        FreeDib(dib);
    }

    // Pictures large enough to be turned round on several threads into
    // mapped pages: every row lands where it belongs, both ways, at odd
    // sizes whose rows do not split evenly.
    void largePicturesRoundTrip_data()
    {
        QTest::addColumn<int>("format");
        QTest::newRow("24 bits") << int(QImage::Format_RGB888);
        QTest::newRow("8 bits") << int(QImage::Format_Indexed8);
    }

    void largePicturesRoundTrip()
    {
        QFETCH(int, format);
        const int width = 1501, height = 1003;
        QImage image(width, height, QImage::Format(format));
        QList<QRgb> grey;
        for (int i = 0; i < 256; ++i)
            grey << qRgb(i, i, i);
        if (image.format() == QImage::Format_Indexed8)
            image.setColorTable(grey);
        for (int y = 0; y < height; ++y) {
            uchar* row = image.scanLine(y);
            for (int x = 0; x < image.bytesPerLine(); ++x)
                row[x] = uchar((x * 7 + y * 13) ^ (y >> 3));
        }
        HGLOBAL dib = nullptr;
        QVERIFY(BitmapToDib(TBitmap(image), image.depth(), 0, nullptr, nullptr, dib));
        {
            const QByteArray pixels = PixelsOf(dib);
            const int bytes = width * image.depth() / 8;
            const int stride = (bytes + 3) / 4 * 4;
            QCOMPARE(pixels.size() >= qsizetype(stride) * height, true);
            for (int y = 0; y < height; ++y) {
                const uchar* in = image.constScanLine(y);
                const auto* out = reinterpret_cast<const uchar*>(pixels.constData()) + qsizetype(height - 1 - y) * stride;
                bool same = true;
                for (int x = 0; x < bytes; ++x)  // blue, green, red from red, green, blue
                    same = same && out[x] == in[image.depth() == 24 ? x - x % 3 + 2 - x % 3 : x];
                if (!same)
                    QFAIL(qPrintable(QStringLiteral("block row %1 differs").arg(y)));
            }
        }
        TBitmap back;
        QVERIFY(DibToBitmap(dib, back));
        FreeDib(dib);
        QCOMPARE(back.Handle().size(), image.size());
        for (int y = 0; y < height; ++y) {
            if (std::memcmp(back.Handle().constScanLine(y), image.constScanLine(y), size_t(width * image.depth() / 8)) != 0)
                QFAIL(qPrintable(QStringLiteral("bitmap row %1 differs").arg(y)));
        }
        // The mapped image is an ordinary one to its users: a change detaches
        // nothing it should not, and it frees cleanly.
        QImage changed = back.Handle();
        changed.setPixel(0, 0, 0);
        back.Clear();
        QCOMPARE(changed.size(), image.size());
    }

    // A 24-bit bitmap needs no module: with none to be found, it still converts.
    void bitmapOf24BitsNeedsNoModule()
    {
        QTemporaryDir empty;
        DLL96V1::SetDllDirectory(empty.path());
        QImage image(2, 1, QImage::Format_RGB888);
        image.setPixel(0, 0, qRgb(10, 20, 30));
        image.setPixel(1, 0, qRgb(40, 50, 60));
        HGLOBAL dib = nullptr;
        QVERIFY(BitmapToDib(TBitmap(image), 24, 0, nullptr, nullptr, dib));
        QVERIFY(!DLL96V1::Handle());
        QVERIFY(!DllSP96::Handle());
        const BITMAPINFOHEADER header = HeaderOf(dib);
        QCOMPARE(header.biBitCount, uint16_t{24});
        QCOMPARE(header.biSizeImage, 8u);
        QCOMPARE(PixelsOf(dib).left(8), Stored({Bgr(qRgb(10, 20, 30)) + Bgr(qRgb(40, 50, 60))}, 8));
        FreeDib(dib);
        // A module that cannot be found is an error where one is needed.
        QImage deep(1, 1, QImage::Format_RGB32);
        deep.fill(Qt::white);
        QVERIFY_THROWS_EXCEPTION(ErrorInvalid, (void)BitmapToDib(deep, nullptr));
    }

    void indexedBitmapsKeepTheirPalette()
    {
        QImage mono(10, 2, QImage::Format_Mono);
        mono.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
        mono.fill(0);
        mono.setPixel(0, 0, 1);
        mono.setPixel(9, 1, 1);
        HGLOBAL dib = nullptr;
        QVERIFY(BitmapToDib(TBitmap(mono), 1, 0, nullptr, nullptr, dib));
        QCOMPARE(HeaderOf(dib).biBitCount, uint16_t{1});
        QCOMPARE(TableOf(dib), mono.colorTable());
        QCOMPARE(PixelsOf(dib).left(8), Stored({Bytes({0x80, 0}), Bytes({0, 0x40})}, 4));
        FreeDib(dib);

        QImage indexed(2, 2, QImage::Format_Indexed8);
        indexed.setColorTable(kFour);
        indexed.setPixel(0, 0, 0);
        indexed.setPixel(1, 0, 1);
        indexed.setPixel(0, 1, 2);
        indexed.setPixel(1, 1, 3);
        QVERIFY(BitmapToDib(TBitmap(indexed), 8, 0, nullptr, nullptr, dib));
        QCOMPARE(TableOf(dib).mid(0, 4), kFour);
        QCOMPARE(PixelsOf(dib).left(8), Stored({Bytes({0, 1}), Bytes({2, 3})}, 4));
        HGLOBAL wide = nullptr;
        QVERIFY(BitmapToDib(TBitmap(indexed), 24, 0, nullptr, nullptr, wide));
        QCOMPARE(PixelsOf(wide).left(16),
                 Stored({Bgr(kFour[0]) + Bgr(kFour[1]), Bgr(kFour[2]) + Bgr(kFour[3])}, 8));
        FreeDib(dib);
        FreeDib(wide);
    }

    void emptyBitmapIsAnError()
    {
        HGLOBAL dib = nullptr;
        try {
            BitmapToDib(TBitmap(), 24, 0, nullptr, nullptr, dib);
            QFAIL("no error raised");
        } catch (const ErrorInvalid& error) {
            QCOMPARE(error.Message(), QStringLiteral("Input image is empty"));
        }
    }

    void blockToBitmap_data()
    {
        QTest::addColumn<int>("depth");
        QTest::addColumn<QList<QRgb>>("palette");
        QTest::addColumn<QByteArray>("top");     // top row, unpadded
        QTest::addColumn<QByteArray>("bottom");
        QTest::addColumn<int>("format");
        QTest::addColumn<QList<QRgb>>("expected");  // top row then bottom row, 2 pixels each
        const QList<QRgb> two{qRgb(0, 0, 0), qRgb(255, 255, 255)};
        QList<QRgb> sixteen(16, qRgb(0, 0, 0));
        sixteen[3] = qRgb(30, 30, 30);
        sixteen[12] = qRgb(120, 120, 120);
        QTest::newRow("1 bit") << 1 << two << Bytes({0x40}) << Bytes({0x80}) << int{QImage::Format_Mono}
                               << QList<QRgb>{two[0], two[1], two[1], two[0]};
        QTest::newRow("4 bits") << 4 << sixteen << Bytes({0x3C}) << Bytes({0xC3})
                                << int{QImage::Format_Indexed8}
                                << QList<QRgb>{sixteen[3], sixteen[12], sixteen[12], sixteen[3]};
        QTest::newRow("8 bits") << 8 << kFour << Bytes({0, 1}) << Bytes({2, 3}) << int{QImage::Format_Indexed8}
                                << kFour;
        QTest::newRow("16 bits") << 16 << QList<QRgb>() << Bytes({0x00, 0x7C, 0x1F, 0x00})
                                 << Bytes({0xE0, 0x03, 0xFF, 0x7F}) << int{QImage::Format_RGB555}
                                 << QList<QRgb>{qRgb(255, 0, 0), qRgb(0, 0, 255), qRgb(0, 255, 0),
                                                qRgb(255, 255, 255)};
        QTest::newRow("24 bits") << 24 << QList<QRgb>() << Bgr(kFour[0]) + Bgr(kFour[1])
                                 << Bgr(kFour[2]) + Bgr(kFour[3]) << int{QImage::Format_RGB888} << kFour;
        QTest::newRow("32 bits") << 32 << QList<QRgb>() << Bgr(kFour[0]) + '\0' + Bgr(kFour[1]) + '\0'
                                 << Bgr(kFour[2]) + '\0' + Bgr(kFour[3]) + '\0' << int{QImage::Format_RGB32}
                                 << kFour;
    }

    void blockToBitmap()
    {
        QFETCH(int, depth);
        QFETCH(QList<QRgb>, palette);
        QFETCH(QByteArray, top);
        QFETCH(QByteArray, bottom);
        QFETCH(int, format);
        QFETCH(QList<QRgb>, expected);
        HGLOBAL block = Make(2, 2, depth, palette, Stored({top, bottom}, static_cast<int>(DibStride(2, depth))));
        GlobalLock(block);
        GlobalLock(block);
        TBitmap bitmap;
        QVERIFY(DibToBitmap(block, bitmap));
        QCOMPARE(Locks(block), 0u);
        const QImage& image = bitmap.Handle();
        QCOMPARE(int{image.format()}, format);
        QCOMPARE(image.size(), QSize(2, 2));
        const QList<QRgb> pixels{image.pixel(0, 0), image.pixel(1, 0), image.pixel(0, 1), image.pixel(1, 1)};
        QCOMPARE(pixels, expected);
        QCOMPARE(bitmap.Palette(), palette);
        FreeDib(block);
    }

    void blockToBitmapAtAnotherDepth()
    {
        HGLOBAL block = Make(2, 2, 8, kFour, Stored({Bytes({0, 1}), Bytes({2, 3})}, 4));
        TBitmap bitmap;
        QVERIFY(DibToBitmap(block, 24, 0, nullptr, nullptr, bitmap));
        QCOMPARE(bitmap.Handle().format(), QImage::Format_RGB888);
        QCOMPARE(bitmap.Handle().pixel(1, 1), kFour[3]);
        QVERIFY(bitmap.Palette().isEmpty());
        // No conversion yields a 32-bit block: the bitmap ends empty.
        QVERIFY(!DibToBitmap(block, 4, 0, nullptr, nullptr, bitmap) || bitmap.HandleAllocated());
        HGLOBAL wide = Make(1, 1, 24, {}, QByteArray(4, '\0'));
        QVERIFY(!DibToBitmap(wide, 32, 0, nullptr, nullptr, bitmap));
        QVERIFY(!bitmap.HandleAllocated());
        QVERIFY(bitmap.Palette().isEmpty());
        FreeDib(block);
        FreeDib(wide);
    }

    void blockToBitmapRefusals()
    {
        TBitmap bitmap(QImage(3, 3, QImage::Format_RGB32));
        HGLOBAL tiny = GlobalAlloc(GHND, 5);
        QVERIFY(!DibToBitmap(tiny, bitmap));
        QVERIFY(bitmap.HandleAllocated());
        QVERIFY(!DibToBitmap(nullptr, 24, 0, nullptr, nullptr, bitmap));
        QVERIFY(bitmap.HandleAllocated());

        // More pixel bytes claimed than the block holds.
        HGLOBAL truncated = Make(100, 100, 24, {}, QByteArray(16, '\0'), 0, 30000);
        DLL96V1::SetErrorText(QString());
        QVERIFY(!DibToBitmap(truncated, bitmap));
        QCOMPARE(DLL96V1::ErrorText(), QStringLiteral("HDibToDDBSection, Could not move Data"));
        QVERIFY(!bitmap.HandleAllocated());
        // An image size too small for the rows the header claims: refused before any allocation.
        HGLOBAL understated = Make(30000, 30000, 24, {}, QByteArray(16, '\0'), 0, 16);
        DLL96V1::SetErrorText(QString());
        QVERIFY(!DibToBitmap(understated, bitmap));
        QCOMPARE(DLL96V1::ErrorText(), QStringLiteral("HDibToDDBSection, Could not move Data"));
        for (HGLOBAL h : {tiny, truncated, understated})
            FreeDib(h);
    }

    void sharedPaletteGoesToTheBitmap()
    {
        const QList<QRgb> shared{qRgb(1, 1, 1), qRgb(2, 2, 2)};
        DLL96V1::SetSharedPalette(shared);
        HGLOBAL block = Make(2, 1, 8, kFour, Stored({Bytes({0, 1})}, 4));
        TBitmap bitmap;
        QVERIFY(DibToBitmap(block, bitmap));
        QCOMPARE(bitmap.Palette(), shared);
        QCOMPARE(bitmap.Handle().pixel(1, 0), kFour[1]);
        DLL96V1::SetSharedPalette({});
        FreeDib(block);
    }

    // Run-length blocks, hand-encoded; hostile runs are clipped to the picture.
    void runLength_data()
    {
        QTest::addColumn<int>("depth");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<QByteArray>("encoded");
        QTest::addColumn<QByteArray>("stored");  // expected rows, bottom first, padded
        QTest::newRow("RLE8 runs, absolute, delta, end")
            << 8 << 4 << 3
            << Bytes({3, 7, 0, 0,              // bottom: 7 7 7 0
                      0, 3, 1, 2, 3, 0, 0, 0,  // middle: 1 2 3 0 (absolute, padded)
                      0, 2, 2, 0,              // delta: x + 2, same line
                      2, 9, 0, 1})             // top: 0 0 9 9
            << Bytes({7, 7, 7, 0, 1, 2, 3, 0, 0, 0, 9, 9});
        QTest::newRow("RLE8 run past the width and lines past the top")
            << 8 << 4 << 2
            << Bytes({255, 5, 0, 0, 3, 6, 0, 2, 0, 9, 200, 8})
            << Bytes({5, 5, 5, 5, 6, 6, 6, 0});
        QTest::newRow("RLE8 absolute run longer than the data")
            << 8 << 4 << 1 << Bytes({0, 200, 4, 5}) << Bytes({4, 5, 0, 0});
        QTest::newRow("RLE8 without an end") << 8 << 4 << 2 << Bytes({2, 1, 0}) << Bytes({1, 1, 0, 0, 0, 0, 0, 0});
        QTest::newRow("RLE4 runs and absolute")
            << 4 << 5 << 2
            << Bytes({5, 0x12, 0, 0,           // bottom: 1 2 1 2 1
                      0, 3, 0x34, 0x50, 0, 1}) // top: 3 4 5
            << Bytes({0x12, 0x12, 0x10, 0, 0x34, 0x50, 0, 0});
        QTest::newRow("RLE4 delta past the width")
            << 4 << 2 << 2 << Bytes({0, 2, 250, 0, 2, 0xFF, 0, 0, 1, 0x70, 0, 1})
            << Bytes({0, 0, 0, 0, 0x70, 0, 0, 0});
    }

    void runLength()
    {
        QFETCH(int, depth);
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(QByteArray, encoded);
        QFETCH(QByteArray, stored);
        QList<QRgb> palette;
        for (int i = 0; i < (1 << depth); ++i)
            palette << qRgb(i, 255 - i, i / 2);
        HGLOBAL block = Make(width, height, depth, palette, encoded, depth == 8 ? kBiRle8 : kBiRle4);
        HGLOBAL unpacked = DLL96V1::DibtoDdb(block);
        QVERIFY(unpacked);
        const BITMAPINFOHEADER header = HeaderOf(unpacked);
        QCOMPARE(header.biCompression, 0u);
        QCOMPARE(int{header.biBitCount}, depth);
        QCOMPARE(header.biWidth, width);
        QCOMPARE(header.biHeight, height);
        QCOMPARE(TableOf(unpacked), palette);
        QCOMPARE(PixelsOf(unpacked), stored);

        TBitmap bitmap;
        QVERIFY(DibToBitmap(block, bitmap));
        QCOMPARE(bitmap.Handle().size(), QSize(width, height));
        const int stride = static_cast<int>(DibStride(width, depth));
        const auto index = [&](int x, int y) {
            const auto byte = static_cast<uint8_t>(stored[(height - 1 - y) * stride + (depth == 8 ? x : x / 2)]);
            return depth == 8 ? byte : ((x & 1) ? byte & 0x0F : byte >> 4);
        };
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                QCOMPARE(bitmap.Handle().pixel(x, y), palette[index(x, y)]);
        FreeDib(block);
        FreeDib(unpacked);
    }

    void runLengthRefusals()
    {
        QList<QRgb> palette(16, qRgb(0, 0, 0));
        // RLE4 on an 8-bit block, a top-down run-length block, an uncompressed block.
        HGLOBAL mismatched = Make(2, 1, 8, palette, Bytes({2, 1, 0, 1}), kBiRle4);
        HGLOBAL topDown = Make(2, -1, 8, palette, Bytes({2, 1, 0, 1}), kBiRle8);
        HGLOBAL plain = Make(2, 1, 8, palette, Bytes({1, 1, 0, 0}));
        for (HGLOBAL block : {mismatched, topDown, plain}) {
            QVERIFY(!DLL96V1::DibtoDdb(block));
            FreeDib(block);
        }
        QVERIFY(!DLL96V1::DibtoDdb(nullptr));
    }

    // Small blocks are malloc'd, pictures are mapped pages: both kinds must
    // come zeroed when asked, hold every byte, keep the data 16-byte aligned,
    // and free without touching anything else.
    void blocksOfEverySize()
    {
        const size_t megabyte = size_t(1) << 20;
        for (const size_t bytes : {size_t(0), size_t(5), GLOBALMEM_MAP_FROM - 1, GLOBALMEM_MAP_FROM,
                                   2 * megabyte - 32, 3 * megabyte + 7, 9 * megabyte}) {
            for (const unsigned flags : {unsigned(GHND), unsigned(GMEM_MOVEABLE)}) {
                const QString label = QStringLiteral("%1 bytes, flags %2").arg(bytes).arg(flags);
                HGLOBAL block = GlobalAlloc(flags, bytes);
                QVERIFY2(block, qPrintable(label));
                QCOMPARE(GlobalSize(block), bytes);
                auto* data = static_cast<uint8_t*>(GlobalLock(block));
                QCOMPARE(GlobalFlags(block) & GMEM_LOCKCOUNT, 1u);
                QCOMPARE(reinterpret_cast<uintptr_t>(data) % 16, uintptr_t(0));
                QCOMPARE(GlobalHandle(data), block);
                if (flags & GMEM_ZEROINIT)
                    QVERIFY2(std::all_of(data, data + bytes, [](uint8_t b) { return b == 0; }), qPrintable(label));
                for (size_t i = 0; i < bytes; ++i)
                    data[i] = uint8_t(i * 7);
                bool kept = true;
                for (size_t i = 0; i < bytes; ++i)
                    kept = kept && data[i] == uint8_t(i * 7);
                QVERIFY2(kept, qPrintable(label));
                if (bytes >= GLOBALMEM_MAP_FROM) {
                    // The mapping covers the header and the data, in whole pages,
                    // from a huge-page boundary once it fills one.
                    const size_t mapping = block->mapping;
                    QVERIFY2(mapping >= sizeof(GlobalBlock) + bytes && mapping % 4096 == 0, qPrintable(label));
                    if (mapping >= 2 * megabyte)
                        QCOMPARE(reinterpret_cast<uintptr_t>(block) % (2 * megabyte), uintptr_t(0));
                } else {
                    QCOMPARE(block->mapping, size_t(0));
                }
                QCOMPARE(GlobalUnlock(block), 0);
                QVERIFY(GlobalFree(block) == nullptr);
            }
        }
    }
};

QTEST_GUILESS_MAIN(DibTest)
#include "dib_test.moc"
