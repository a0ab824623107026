// The PNG, GIF and TIFF readers against pictures and expected pixels made by
// an independent encoder (tests/data/make-raster), and against damaged and
// hostile variants of those files made here.
#include "Ppm.h"
#include "TestFiles.h"
#include "Convert.h"
#include "Dib.h"
#include "Formats.h"
#include "OwnedBlock.h"
#include "Sanitizer.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <vector>

#include <sys/resource.h>

namespace {

QString DataPath(const QString& name)
{
    return QStringLiteral(SNIMKOREZ_TEST_DATA "/raster/") + name;
}

using testfiles::ReadAll;

struct Rgb {
    int width = 0;
    int height = 0;
    QByteArray pixels;  // red, green, blue, top row first
};

// A reference picture (binary PPM) as red, green, blue rows.
Rgb ReadPpm(const QString& path)
{
    const QImage picture = testfiles::ReadPpm(path);
    Rgb image;
    if (picture.isNull())
        return image;
    image.width = picture.width();
    image.height = picture.height();
    for (int y = 0; y < picture.height(); ++y)
        image.pixels.append(reinterpret_cast<const char*>(picture.constScanLine(y)), qsizetype{3} * picture.width());
    return image;
}

// Any uncompressed block as red, green, blue, through its colour table when
// indexed. An index past the table is reported as an empty result.
Rgb BlockPixels(HDIB dib)
{
    const imglib::DibView view(dib);
    Rgb image;
    if (!view.Valid())
        return image;
    const int bits = view.Bits();
    QByteArray pixels;
    for (int y = 0; y < view.Height(); ++y) {
        const uint8_t* row = view.Row(y);
        for (int x = 0; x < view.Width(); ++x) {
            if (bits == 24) {
                pixels.append(static_cast<char>(row[3 * x + 2]));
                pixels.append(static_cast<char>(row[3 * x + 1]));
                pixels.append(static_cast<char>(row[3 * x]));
                continue;
            }
            const int perByte = 8 / bits;
            const int shift = 8 - bits * (1 + x % perByte);
            const int index = (row[x / perByte] >> shift) & ((1 << bits) - 1);
            if (index >= view.Colours())
                return image;
            const imglib::RgbQuad colour = view.Palette()[index];
            pixels.append(static_cast<char>(colour.red));
            pixels.append(static_cast<char>(colour.green));
            pixels.append(static_cast<char>(colour.blue));
        }
    }
    image.width = view.Width();
    image.height = view.Height();
    image.pixels = pixels;
    return image;
}

// The first pixel that differs, or an empty string.
QString FirstDifference(const Rgb& got, const Rgb& expected)
{
    if (got.width != expected.width || got.height != expected.height)
        return QStringLiteral("size %1x%2, expected %3x%4")
            .arg(got.width).arg(got.height).arg(expected.width).arg(expected.height);
    for (qsizetype i = 0; i < expected.pixels.size(); ++i) {
        if (got.pixels[i] != expected.pixels[i]) {
            const qsizetype pixel = i / 3;
            return QStringLiteral("pixel %1,%2 channel %3: %4, expected %5")
                .arg(pixel % expected.width).arg(pixel / expected.width).arg(i % 3)
                .arg(static_cast<uchar>(got.pixels[i])).arg(static_cast<uchar>(expected.pixels[i]));
        }
    }
    return {};
}

const uint8_t* Bytes(const QByteArray& data)
{
    return reinterpret_cast<const uint8_t*>(data.constData());
}

// The reader for a format, as the entries call it.
int16_t Decode(const QByteArray& data, const QString& format, int page, const crde::Progress& progress,
               HDIB* dib)
{
    const auto size = static_cast<size_t>(data.size());
    if (format == QLatin1String("PNG"))
        return crde::ReadPng(Bytes(data), size, progress, dib);
    if (format == QLatin1String("GIF"))
        return crde::ReadGif(Bytes(data), size, progress, dib);
    return crde::ReadTiff(Bytes(data), size, page, progress, dib);
}

int16_t Info(const QByteArray& data, const QString& format, int page, crde::ImageInfo& info)
{
    const auto size = static_cast<size_t>(data.size());
    if (format == QLatin1String("PNG"))
        return crde::InfoPng(Bytes(data), size, info);
    if (format == QLatin1String("GIF"))
        return crde::InfoGif(Bytes(data), size, info);
    return crde::InfoTiff(Bytes(data), size, page, info);
}

uint32_t Crc32(const char* data, qsizetype size)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (qsizetype i = 0; i < size; ++i) {
        crc ^= static_cast<uint8_t>(data[i]);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void PutBigEndian32(QByteArray& data, qsizetype at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        data[at + i] = static_cast<char>(value >> (24 - 8 * i));
}

void PutLittle(QByteArray& data, qsizetype at, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        data[at + i] = static_cast<char>(value >> (8 * i));
}

uint32_t GetLittle(const QByteArray& data, qsizetype at, int bytes)
{
    uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = (value << 8) | static_cast<uint8_t>(data[at + i]);
    return value;
}

// A PNG with its IHDR size replaced and the chunk's CRC made right again.
QByteArray PngWithSize(QByteArray png, uint32_t width, uint32_t height)
{
    PutBigEndian32(png, 16, width);
    PutBigEndian32(png, 20, height);
    PutBigEndian32(png, 29, Crc32(png.constData() + 12, 17));
    return png;
}

// Offset of the first IDAT chunk's data.
qsizetype PngIdat(const QByteArray& png)
{
    return png.indexOf("IDAT") + 4;
}

// Offset of the LZW minimum code size byte of the first frame.
qsizetype GifFirstCodeSize(const QByteArray& gif)
{
    qsizetype at = 13;
    const auto flags = static_cast<uint8_t>(gif[10]);
    if (flags & 0x80)
        at += 3 * (2 << (flags & 7));
    while (at < gif.size()) {
        const auto type = static_cast<uint8_t>(gif[at]);
        if (type == 0x21) {
            at += 2;
            while (at < gif.size() && gif[at] != 0)
                at += 1 + static_cast<uint8_t>(gif[at]);
            ++at;
        } else if (type == 0x2C) {
            const auto local = static_cast<uint8_t>(gif[at + 9]);
            at += 10;
            if (local & 0x80)
                at += 3 * (2 << (local & 7));
            return at;
        } else {
            return -1;
        }
    }
    return -1;
}

// Little-endian classic TIFF: the offset of each directory, and of a tag's
// entry in one.
std::vector<qsizetype> TiffDirectories(const QByteArray& tiff)
{
    std::vector<qsizetype> directories;
    qsizetype at = GetLittle(tiff, 4, 4);
    while (at != 0 && directories.size() < 16) {
        directories.push_back(at);
        const qsizetype entries = GetLittle(tiff, at, 2);
        at = GetLittle(tiff, at + 2 + 12 * entries, 4);
    }
    return directories;
}

qsizetype TiffEntry(const QByteArray& tiff, qsizetype directory, uint16_t tag)
{
    const qsizetype entries = GetLittle(tiff, directory, 2);
    for (qsizetype i = 0; i < entries; ++i) {
        const qsizetype entry = directory + 2 + 12 * i;
        if (GetLittle(tiff, entry, 2) == tag)
            return entry;
    }
    return -1;
}

void SetTiffValue(QByteArray& tiff, qsizetype entry, uint32_t value)
{
    const int bytes = GetLittle(tiff, entry + 2, 2) == 3 ? 2 : 4;  // SHORT or LONG
    PutLittle(tiff, entry + 8, value, bytes);
}

// Small files that describe an 18000 × 18000 picture (972 MB at 24 bits).
constexpr uint32_t kHuge = 18000;

QByteArray Little(uint32_t value, int bytes)
{
    QByteArray out(bytes, '\0');
    PutLittle(out, 0, value, bytes);
    return out;
}

QByteArray PngChunk(const char* type, const QByteArray& data)
{
    QByteArray chunk(4, '\0');
    PutBigEndian32(chunk, 0, static_cast<uint32_t>(data.size()));
    chunk += QByteArray(type, 4) + data;
    QByteArray crc(4, '\0');
    PutBigEndian32(crc, 0, Crc32(chunk.constData() + 4, chunk.size() - 4));
    return chunk + crc;
}

// An RGB PNG of zeros whose IDAT holds `rawBytes` of filtered rows.
QByteArray ZeroPng(uint32_t width, uint32_t height, bool interlaced, qsizetype rawBytes)
{
    QByteArray header(13, '\0');
    PutBigEndian32(header, 0, width);
    PutBigEndian32(header, 4, height);
    header[8] = 8;
    header[9] = 2;
    header[12] = interlaced ? 1 : 0;
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + PngChunk("IHDR", header) +
           PngChunk("IDAT", qCompress(QByteArray(rawBytes, '\0'), 9).mid(4)) + PngChunk("IEND", {});
}

QByteArray HugeBmp(uint32_t compression, int bits, const QByteArray& pixels)
{
    const QByteArray palette = bits == 8 ? QByteArray(4, '\0') : QByteArray();
    QByteArray info = Little(40, 4) + Little(kHuge, 4) + Little(kHuge, 4) + Little(1, 2) + Little(bits, 2) +
                      Little(compression, 4) + QByteArray(12, '\0') + Little(bits == 8 ? 1 : 0, 4) + Little(0, 4);
    const QByteArray body = info + palette + pixels;
    return "BM" + Little(14 + body.size(), 4) + Little(0, 4) + Little(14 + 40 + palette.size(), 4) + body;
}

QByteArray HugeTga(int type, const QByteArray& pixels)
{
    return QByteArray(2, '\0') + char(type) + QByteArray(9, '\0') + Little(kHuge, 2) + Little(kHuge, 2) +
           char(24) + char(0) + pixels;
}

QByteArray HugePcx()
{
    QByteArray header(128, '\0');
    header[0] = 10;
    header[1] = 5;
    header[2] = 1;
    header[3] = 8;
    PutLittle(header, 8, kHuge - 1, 2);
    PutLittle(header, 10, kHuge - 1, 2);
    header[65] = 1;
    PutLittle(header, 66, kHuge, 2);
    return header + QByteArray("\xc1\0", 2);
}

QByteArray HugeGif()
{
    return "GIF89a" + Little(kHuge, 2) + Little(kHuge, 2) + QByteArray("\x80\0\0\0\0\0\xff\xff\xff,", 10) +
           QByteArray(4, '\0') + Little(kHuge, 2) + Little(kHuge, 2) + QByteArray("\0\x02\x02\x4c\x01\0;", 8);
}

// One strip of 16 bytes for the whole picture.
QByteArray HugeTiff(uint32_t compression)
{
    const uint32_t entries[][4] = {{256, 4, 1, kHuge}, {257, 4, 1, kHuge}, {258, 3, 1, 8}, {259, 3, 1, compression},
                                   {262, 3, 1, 2},     {273, 4, 1, 122},   {277, 3, 1, 3}, {278, 4, 1, kHuge},
                                   {279, 4, 1, 16}};
    QByteArray tiff = QByteArray("II*\0", 4) + Little(8, 4) + Little(9, 2);
    for (const auto& e : entries)
        tiff += Little(e[0], 2) + Little(e[1], 2) + Little(e[2], 4) + Little(e[3], e[1] == 3 ? 2 : 4) +
                QByteArray(e[1] == 3 ? 2 : 0, '\0');
    tiff += Little(0, 4);
    return tiff + qCompress(QByteArray(64, '\0')).mid(4).leftJustified(16, '\0', true);
}

QByteArray JpegSegment(uint8_t marker, const QByteArray& data)
{
    QByteArray length(2, '\0');
    length[0] = static_cast<char>((data.size() + 2) >> 8);
    length[1] = static_cast<char>(data.size() + 2);
    return QByteArray(1, '\xff') + char(marker) + length + data;
}

// A grey baseline frame whose scan has a few bytes for 5 million blocks.
QByteArray HugeJpeg()
{
    QByteArray frame("\x08", 1);
    frame += QByteArray(4, '\0');
    frame[1] = static_cast<char>(kHuge >> 8);
    frame[2] = static_cast<char>(kHuge);
    frame[3] = static_cast<char>(kHuge >> 8);
    frame[4] = static_cast<char>(kHuge);
    frame += QByteArray("\x01\x01\x11\x00", 4);
    const QByteArray one = QByteArray(1, '\1') + QByteArray(15, '\0');
    return QByteArray("\xff\xd8", 2) + JpegSegment(0xDB, QByteArray(1, '\0') + QByteArray(64, '\1')) +
           JpegSegment(0xC0, frame) +
           JpegSegment(0xC4, QByteArray(1, '\0') + one + QByteArray(1, '\0') + QByteArray(1, '\x10') + one +
                                 QByteArray(1, '\0')) +
           JpegSegment(0xDA, QByteArray("\x01\x01\x00\x00\x3f\x00", 6)) + QByteArray(64, '\0') +
           QByteArray("\xff\xd9", 2);
}

// The process's peak resident memory so far, in MiB.
long PeakMiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

}  // namespace

class RasterTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // First: it measures the process's peak memory, which earlier cases would raise.
    void hostileFilesStayWithinMemory();
    void decodesLikeReference_data();
    void decodesLikeReference();
    void entriesGive24Bits_data() { decodesLikeReference_data(); }
    void entriesGive24Bits();
    void tiffPages();
    void cancelStops_data();
    void cancelStops();
    void truncatedFails_data();
    void truncatedFails();
    void hostileFails_data();
    void hostileFails();
    void tiffDirectoryLoopEnds();
    void gifFramesCounted();
    void entriesDeliverTheAskedDepth_data();
    void entriesDeliverTheAskedDepth();
};

// Files of a few bytes describing a 972 MB picture are refused before it is
// allocated, and an interlaced PNG fills in inside its picture with no second
// copy of it.
void RasterTest::hostileFilesStayWithinMemory()
{
    // 4000 × 4000: a 48 MB picture, read with at most a row of libpng's
    // besides; making the file has already taken as much as the picture.
    constexpr uint32_t side = 4000;
    qsizetype raw = 0;
    const int passes[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4}, {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    for (const auto& p : passes)
        raw += qsizetype{(side - p[1] + p[3] - 1) / p[3]} * (1 + 3 * ((side - p[0] + p[2] - 1) / p[2]));
    const QByteArray png = ZeroPng(side, side, true, raw);
    const long start = PeakMiB();
    OwnedBlock dib;
    QCOMPARE(crde::ReadPng(reinterpret_cast<const uint8_t*>(png.constData()), static_cast<size_t>(png.size()), {},
                           dib.Receive()),
             int16_t{1});
    const long grown = PeakMiB() - start;
    {
        const imglib::DibView view(dib.Get());
        QVERIFY(view.Valid() && view.Bits() == 24 && view.Width() == int(side));
        const uint8_t* last = view.Row(side - 1);
        QVERIFY(std::all_of(last, last + 3 * side, [](uint8_t b) { return b == 0; }));
    }
    dib.Reset();
    // The sanitizer's allocator keeps freed blocks and shadows used ones, so
    // a difference this fine is only measured in the regular build.
    if (!imglib::kAddressSanitizer)
        QVERIFY2(grown < 24, qPrintable(QStringLiteral("interlaced png: %1 MiB").arg(grown)));

    using Reader = std::function<int16_t(const uint8_t*, size_t, const crde::Progress&, HDIB*)>;
    const auto tiff = [](const uint8_t* data, size_t size, const crde::Progress& progress, HDIB* dib) {
        return crde::ReadTiff(data, size, 0, progress, dib);
    };
    const auto jpeg = [](const uint8_t* data, size_t size, const crde::Progress& progress, HDIB* dib) {
        return crde::ReadJpeg(data, size, progress, dib);
    };
    const struct {
        const char* name;
        Reader read;
        QByteArray file;
        int expected;
    } cases[] = {
        {"bmp rle8 that ends at once", crde::ReadBmp, HugeBmp(1, 8, QByteArray("\0\1", 2)), IL_ERR_TOO_LARGE},
        {"bmp with no pixels", crde::ReadBmp, HugeBmp(0, 24, QByteArray(2, '\0')), IL_ERR_CORRUPT},
        {"tga with no pixels", crde::ReadTga, HugeTga(2, QByteArray(1, '\0')), IL_ERR_CORRUPT},
        {"tga with four packets", crde::ReadTga, HugeTga(10, QByteArray("\xff\0\0\0", 4).repeated(4)),
         IL_ERR_CORRUPT},
        {"pcx with one run", crde::ReadPcx, HugePcx(), IL_ERR_CORRUPT},
        {"gif with no pixels", crde::ReadGif, HugeGif(), IL_ERR_CORRUPT},
        {"png with 64 bytes of rows", crde::ReadPng, ZeroPng(kHuge, kHuge, false, 64), IL_ERR_CORRUPT},
        {"tiff of one short deflate strip", tiff, HugeTiff(8), IL_ERR_CORRUPT},
        // JPEG's density is not bounded: a whole-picture strip is refused
        // for the memory decoding it would take.
        {"tiff of one jpeg strip", tiff, HugeTiff(7), IL_ERR_TOO_LARGE},
        {"jpeg with a short scan", jpeg, HugeJpeg(), IL_ERR_CORRUPT},
    };
    const long before = PeakMiB();
    for (const auto& c : cases) {
        HDIB dib = nullptr;
        const int16_t result = c.read(reinterpret_cast<const uint8_t*>(c.file.constData()),
                                      static_cast<size_t>(c.file.size()), {}, &dib);
        GlobalFree(dib);
        QVERIFY2(result == c.expected, qPrintable(QStringLiteral("%1: %2").arg(c.name).arg(result)));
        QVERIFY2(dib == nullptr, c.name);
        QVERIFY2(PeakMiB() - before < 64, qPrintable(QStringLiteral("%1: %2 MiB").arg(c.name).arg(PeakMiB() - before)));
    }

}

void RasterTest::entriesDeliverTheAskedDepth_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("asked");
    QTest::addColumn<int>("dither");
    QTest::addColumn<int>("bits");
    QTest::newRow("colour photo to 256 colours") << "png-rgb8.png" << 8 << 0 << 8;
    QTest::newRow("colour photo to 256, dithered") << "png-rgb8.png" << 8 << 1 << 8;
    QTest::newRow("colour photo to 16") << "png-rgb8.png" << 4 << 0 << 4;
    QTest::newRow("0 means the sixteen VGA colours") << "png-rgb8.png" << 0 << 0 << 4;
    QTest::newRow("colour photo to black and white") << "png-rgb8.png" << 1 << 1 << 1;
    QTest::newRow("palette to true colour") << "png-palette8.png" << 24 << 0 << 24;
    QTest::newRow("any other number means true colour") << "png-palette8.png" << 16 << 0 << 24;
    QTest::newRow("two colours to 8 bits") << "png-palette2.png" << 8 << 0 << 8;
}

// The reader entries hand over the depth the caller asked for, whatever the
// file holds, and the colours survive where the depth has room for them.
void RasterTest::entriesDeliverTheAskedDepth()
{
    QFETCH(QString, file);
    QFETCH(int, asked);
    QFETCH(int, dither);
    QFETCH(int, bits);
    const QByteArray name = QFile::encodeName(DataPath(file));
    OwnedBlock dib;
    QCOMPARE(rdpngfiledib(name.constData(), static_cast<int16_t>(asked), static_cast<int16_t>(dither),
                          dib.Receive(), nullptr, nullptr, nullptr, 0),
             int16_t{1});
    const OwnedBlock wide(imglib::ExpandTo24(dib.Get()));
    {
        const imglib::DibView view(dib.Get());
        QVERIFY(view.Valid());
        QCOMPARE(view.Bits(), bits);
        if (bits <= 8)
            QVERIFY(view.Colours() > 0 && view.Colours() <= 1 << bits);
        else
            QCOMPARE(view.Colours(), 0);
    }
    QVERIFY(wide);
    // Back at 24 bits, the picture still resembles the file's.
    {
        const imglib::DibView view(wide.Get());
        const Rgb reference = ReadPpm(DataPath(file.left(file.size() - 4) + QStringLiteral(".ppm")));
        QCOMPARE(reference.width, view.Width());
        int64_t difference = 0;
        for (int y = 0; y < view.Height(); ++y) {
            const uint8_t* row = view.Row(y);
            for (int x = 0; x < view.Width(); ++x) {
                for (int c = 0; c < 3; ++c)
                    difference += std::abs(int{row[3 * x + 2 - c]} -
                                           int{static_cast<uint8_t>(reference.pixels[3 * (y * reference.width + x) + c])});
            }
        }
        const double mean = double(difference) / (3.0 * view.Width() * view.Height());
        QVERIFY2(mean < (bits == 1 ? 128.0 : bits == 4 ? 64.0 : 12.0), qPrintable(QString::number(mean)));
        if (bits >= 8 && file.contains(QLatin1String("palette")))
            QCOMPARE(mean, 0.0);
    }
}

void RasterTest::decodesLikeReference_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("naturalBits");  // of the block the decoder makes
    QTest::addColumn<int>("fileBits");     // as the information reports it
    QTest::addColumn<int>("pages");
    QTest::addColumn<QString>("compression");

    const auto png = [](const char* name, int natural, int bits) {
        QTest::newRow(name) << QString::fromLatin1(name) + ".png" << "PNG" << 0
                            << QString::fromLatin1(name) + ".ppm" << natural << bits << 1 << "Deflate";
    };
    png("png-rgb8", 24, 24);
    png("png-rgba8", 24, 32);
    png("png-rgb16", 24, 48);
    png("png-palette8", 8, 8);
    png("png-palette2", 4, 2);
    png("png-palette-trns", 4, 8);
    png("png-grey8", 8, 8);
    png("png-grey1", 8, 1);
    png("png-grey-alpha", 8, 16);
    png("png-interlaced", 24, 32);
    png("png-interlaced-palette", 8, 8);

    const auto gif = [](const char* name, int natural, int bits, int pages) {
        QTest::newRow(name) << QString::fromLatin1(name) + ".gif" << "GIF" << 0
                            << QString::fromLatin1(name) + ".ppm" << natural << bits << pages << "LZW";
    };
    gif("gif-global", 8, 6, 1);
    gif("gif-interlaced", 4, 4, 1);
    gif("gif-transparent", 4, 4, 1);
    gif("gif-four-colours", 4, 2, 1);
    gif("gif-animation", 8, 5, 2);
    gif("gif-small-frame", 4, 3, 1);     // 8 colours and white for the uncovered screen
    gif("gif-full-map-frame", 24, 8, 1);  // no room for that white in 256 entries

    const auto tiff = [](const char* row, const char* name, int page, const char* expected, int bits,
                         int pages, const char* compression) {
        QTest::newRow(row) << QString::fromLatin1(name) << "TIFF" << page << QString::fromLatin1(expected)
                           << 24 << bits << pages << compression;
    };
    tiff("tiff-pages 0", "tiff-pages.tif", 0, "tiff-pages-0.ppm", 24, 3, "None");
    tiff("tiff-pages 1", "tiff-pages.tif", 1, "tiff-pages-1.ppm", 24, 3, "LZW");
    tiff("tiff-pages 2", "tiff-pages.tif", 2, "tiff-pages-2.ppm", 24, 3, "Deflate");
    tiff("tiff-strips", "tiff-strips.tif", 0, "tiff-strips.ppm", 24, 1, "LZW");
    tiff("tiff-tiled", "tiff-tiled.tif", 0, "tiff-tiled.ppm", 24, 1, "Deflate");
    tiff("tiff-bottom-up", "tiff-bottom-up.tif", 0, "tiff-bottom-up.ppm", 24, 1, "None");
    tiff("tiff-bilevel", "tiff-bilevel.tif", 0, "tiff-bilevel.ppm", 1, 1, "CCITT G4");
    tiff("tiff-rgba", "tiff-rgba.tif", 0, "tiff-rgba.ppm", 32, 1, "Deflate");
    tiff("tiff-grey", "tiff-grey.tif", 0, "tiff-grey.ppm", 8, 1, "PackBits");
}

void RasterTest::decodesLikeReference()
{
    QFETCH(QString, file);
    QFETCH(QString, format);
    QFETCH(int, page);
    QFETCH(QString, expected);
    QFETCH(int, naturalBits);
    QFETCH(int, fileBits);
    QFETCH(int, pages);
    QFETCH(QString, compression);

    const QByteArray data = ReadAll(DataPath(file));
    QVERIFY(!data.isEmpty());
    const Rgb reference = ReadPpm(DataPath(expected));
    QVERIFY(reference.width > 0);

    crde::ImageInfo info;
    QVERIFY(Info(data, format, page, info) > 0);
    QCOMPARE(QString::fromStdString(info.format), format);
    QCOMPARE(info.width, reference.width);
    QCOMPARE(info.height, reference.height);
    QCOMPARE(int(info.bits), fileBits);
    QCOMPARE(int(info.pages), pages);
    QCOMPARE(QString::fromStdString(info.compression), compression);

    OwnedBlock dib;
    QVERIFY(Decode(data, format, page, crde::Progress{}, dib.Receive()) > 0);
    QVERIFY(dib);
    {
        const imglib::DibView view(dib.Get());
        QVERIFY(view.Valid());
        QCOMPARE(view.Bits(), naturalBits);
    }
    const QString difference = FirstDifference(BlockPixels(dib.Get()), reference);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));

    // fileinfo tells the same of the first page, by content.
    if (page == 0) {
        char formatName[IL_FORMAT_NAME_SIZE] = {};
        char compressionName[IL_COMPRESSION_NAME_SIZE] = {};
        int32_t width = 0, height = 0;
        int16_t bits = 0, figure1 = 0, figure2 = -1;
        QVERIFY(fileinfo(QFile::encodeName(DataPath(file)).constData(), formatName, &width, &height,
                         &bits, &figure1, &figure2, compressionName, 0) > 0);
        QCOMPARE(QString::fromLatin1(formatName), format);
        QCOMPARE(width, reference.width);
        QCOMPARE(height, reference.height);
        QCOMPARE(int(bits), fileBits);
        QCOMPARE(int(figure1), pages);
        QCOMPARE(int(figure2), 0);
        QCOMPARE(QString::fromLatin1(compressionName), compression);
    }
}

void RasterTest::entriesGive24Bits()
{
    QFETCH(QString, file);
    QFETCH(QString, format);
    QFETCH(int, page);
    QFETCH(QString, expected);

    const QByteArray name = QFile::encodeName(DataPath(file));
    OwnedBlock dib;
    int16_t result = 0;
    if (format == QLatin1String("PNG"))
        result = rdpngfiledib(name.constData(), 24, 0, dib.Receive(), nullptr, nullptr, nullptr, 0);
    else if (format == QLatin1String("GIF"))
        result = rdgiffiledib(name.constData(), 24, 0, dib.Receive(), nullptr, nullptr, nullptr, 0);
    else
        result = readtiffiledib(name.constData(), 24, 0, static_cast<int16_t>(page), dib.Receive(), nullptr,
                                nullptr, 0);
    QVERIFY(result > 0);
    QVERIFY(dib);
    {
        const imglib::DibView view(dib.Get());
        QVERIFY(view.Valid());
        QCOMPARE(view.Bits(), 24);
    }
    const QString difference = FirstDifference(BlockPixels(dib.Get()), ReadPpm(DataPath(expected)));
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

void RasterTest::tiffPages()
{
    const QByteArray name = QFile::encodeName(DataPath(QStringLiteral("tiff-pages.tif")));
    struct Page {
        int width, height;
        const char* compression;
    };
    const Page expected[] = {{37, 23, "None"}, {29, 17, "LZW"}, {41, 13, "Deflate"}};
    for (int page = 0; page < 3; ++page) {
        int32_t width = 0, height = 0;
        int16_t bits = 0, count = 0;
        char compression[IL_COMPRESSION_NAME_SIZE] = {};
        QCOMPARE(getinfo(name.constData(), static_cast<int16_t>(page), &width, &height, &bits, &count,
                         compression, 0), int16_t{0});
        QCOMPARE(width, expected[page].width);
        QCOMPARE(height, expected[page].height);
        QCOMPARE(int(bits), 24);
        QCOMPARE(int(count), 3);
        QCOMPARE(QByteArray(compression), QByteArray(expected[page].compression));
    }

    int32_t width = 0, height = 0;
    int16_t bits = 0, count = 0;
    QCOMPARE(getinfo(name.constData(), 3, &width, &height, &bits, &count, nullptr, 0), int16_t(IL_ERR_PAGE));
    QCOMPARE(getinfo(name.constData(), -1, &width, &height, &bits, &count, nullptr, 0), int16_t(IL_ERR_PAGE));
    HDIB dib = reinterpret_cast<HDIB>(&width);  // must be cleared
    QCOMPARE(readtiffiledib(name.constData(), 24, 0, 3, &dib, nullptr, nullptr, 0), int16_t(IL_ERR_PAGE));
    QVERIFY(!dib);
    const QByteArray data = ReadAll(DataPath(QStringLiteral("tiff-pages.tif")));
    QCOMPARE(crde::ReadTiff(Bytes(data), data.size(), 3, crde::Progress{}, &dib), int16_t(IL_ERR_PAGE));
    QVERIFY(!dib);
}

void RasterTest::cancelStops_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("page");
    QTest::addColumn<int>("allowedCalls");
    for (int allowed : {0, 1}) {
        const QByteArray suffix = allowed == 0 ? " at once" : " later";
        QTest::newRow("png" + suffix) << "png-interlaced.png" << "PNG" << 0 << allowed;
        QTest::newRow("gif" + suffix) << "gif-interlaced.gif" << "GIF" << 0 << allowed;
        QTest::newRow("tiff" + suffix) << "tiff-strips.tif" << "TIFF" << 0 << allowed;
    }
}

void RasterTest::cancelStops()
{
    QFETCH(QString, file);
    QFETCH(QString, format);
    QFETCH(int, page);
    QFETCH(int, allowedCalls);

    struct Calls {
        int allowed = 0;
        std::vector<int> percents;
    } calls{allowedCalls, {}};
    const ILProgress callback = [](int percent, void* control) -> int {
        auto* c = static_cast<Calls*>(control);
        c->percents.push_back(percent);
        return static_cast<int>(c->percents.size()) <= c->allowed;
    };
    const QByteArray data = ReadAll(DataPath(file));
    HDIB dib = nullptr;
    QCOMPARE(Decode(data, format, page, crde::Progress{&calls, callback}, &dib), int16_t(IL_ERR_CANCELLED));
    QVERIFY(!dib);
    QCOMPARE(static_cast<int>(calls.percents.size()), allowedCalls + 1);

    // Left alone, the same reader tells its progress more than once on the way to 100.
    calls = Calls{1 << 20, {}};
    QVERIFY(Decode(data, format, page, crde::Progress{&calls, callback}, &dib) > 0);
    GlobalFree(dib);
    QVERIFY(calls.percents.size() > 2);
    QCOMPARE(calls.percents.back(), 100);
    QVERIFY(std::is_sorted(calls.percents.begin(), calls.percents.end()));
    QVERIFY(calls.percents.front() >= 0);
}

void RasterTest::truncatedFails_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("page");
    struct File {
        const char* name;
        const char* format;
        int page;
    };
    // The last page of a file: a cut anywhere damages it.
    const File files[] = {{"png-rgb8.png", "PNG", 0},       {"png-interlaced.png", "PNG", 0},
                          {"png-palette8.png", "PNG", 0},   {"gif-global.gif", "GIF", 0},
                          {"gif-interlaced.gif", "GIF", 0}, {"tiff-pages.tif", "TIFF", 2},
                          {"tiff-rgba.tif", "TIFF", 0},     {"tiff-strips.tif", "TIFF", 0},
                          {"tiff-bilevel.tif", "TIFF", 0}};
    for (const auto& [name, format, page] : files)
        QTest::newRow(name) << name << format << page;
}

void RasterTest::truncatedFails()
{
    QFETCH(QString, file);
    QFETCH(QString, format);
    QFETCH(int, page);
    const QByteArray whole = ReadAll(DataPath(file));
    QVERIFY(whole.size() > 64);
    // Inside the signature, the header and the pixel data.
    for (const qsizetype length : {qsizetype{0}, qsizetype{3}, qsizetype{20}, whole.size() / 3,
                                   whole.size() / 2, whole.size() * 3 / 4}) {
        const QByteArray cut = whole.left(length);
        HDIB dib = nullptr;
        const int16_t result = Decode(cut, format, page, crde::Progress{}, &dib);
        QVERIFY2(result < 0, qPrintable(QStringLiteral("length %1 gave %2").arg(length).arg(result)));
        QVERIFY(!dib);
    }
}

void RasterTest::hostileFails_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("page");
    QTest::addColumn<int>("failure");  // 0: any failure number

    const QByteArray png = ReadAll(DataPath(QStringLiteral("png-rgb8.png")));
    const QByteArray gif = ReadAll(DataPath(QStringLiteral("gif-global.gif")));
    const QByteArray tiff = ReadAll(DataPath(QStringLiteral("tiff-pages.tif")));
    const QByteArray palette = ReadAll(DataPath(QStringLiteral("png-palette8.png")));

    QTest::newRow("png 100000x100000") << "PNG" << PngWithSize(png, 100000, 100000) << 0 << int(IL_ERR_TOO_LARGE);
    QTest::newRow("png over the row limit") << "PNG" << PngWithSize(png, 0x7FFFFFFF, 1) << 0 << int(IL_ERR_TOO_LARGE);
    QTest::newRow("png zero width") << "PNG" << PngWithSize(png, 0, 23) << 0 << int(IL_ERR_CORRUPT);
    QTest::newRow("png taller than its data") << "PNG" << PngWithSize(png, 37, 2300) << 0 << int(IL_ERR_CORRUPT);
    {
        QByteArray bad = png;
        bad[PngIdat(bad) + 20] = static_cast<char>(bad[PngIdat(bad) + 20] ^ 0x55);
        QTest::newRow("png crc") << "PNG" << bad << 0 << int(IL_ERR_CORRUPT);
    }
    {
        QByteArray bad = palette;  // a palette of 1/3 entry
        const qsizetype plte = bad.indexOf("PLTE");
        PutBigEndian32(bad, plte - 4, 4);
        PutBigEndian32(bad, plte + 8, Crc32(bad.constData() + plte, 8));
        QTest::newRow("png bad palette length") << "PNG" << bad << 0 << 0;
    }
    QTest::newRow("png not png") << "PNG" << gif << 0 << int(IL_ERR_FORMAT);

    {
        QByteArray bad = gif;
        PutLittle(bad, 6, 65535, 2);
        PutLittle(bad, 8, 65535, 2);
        QTest::newRow("gif 65535x65535") << "GIF" << bad << 0 << int(IL_ERR_TOO_LARGE);
    }
    {
        QByteArray bad = gif;
        const qsizetype codeSize = GifFirstCodeSize(bad);
        bad[codeSize] = 12;
        QTest::newRow("gif code size 12") << "GIF" << bad << 0 << int(IL_ERR_CORRUPT);
        bad[codeSize] = 0;
        QTest::newRow("gif code size 0") << "GIF" << bad << 0 << int(IL_ERR_CORRUPT);
    }
    {
        QByteArray bad = gif;
        const qsizetype codeSize = GifFirstCodeSize(bad);
        for (qsizetype i = codeSize + 2; i < codeSize + 40; ++i)
            bad[i] = static_cast<char>(0xFF);
        QTest::newRow("gif codes out of range") << "GIF" << bad << 0 << int(IL_ERR_CORRUPT);
    }
    {
        QByteArray bad = gif;
        const qsizetype codeSize = GifFirstCodeSize(bad);
        PutLittle(bad, codeSize - 10 + 5, 0, 2);  // frame width 0
        QTest::newRow("gif empty frame") << "GIF" << bad << 0 << int(IL_ERR_CORRUPT);
    }
    {
        QByteArray bad = gif;
        bad[10] = static_cast<char>(bad[10] & 0x7F);  // no colour map anywhere
        QTest::newRow("gif without colours") << "GIF" << bad << 0 << 0;
    }
    QTest::newRow("gif not gif") << "GIF" << png << 0 << int(IL_ERR_FORMAT);

    const std::vector<qsizetype> directories = TiffDirectories(tiff);
    QCOMPARE(directories.size(), size_t{3});
    {
        QByteArray bad = tiff;
        SetTiffValue(bad, TiffEntry(bad, directories[0], 256), 100000);
        SetTiffValue(bad, TiffEntry(bad, directories[0], 257), 100000);
        QTest::newRow("tiff 100000x100000") << "TIFF" << bad << 0 << int(IL_ERR_TOO_LARGE);

        bad = tiff;
        SetTiffValue(bad, TiffEntry(bad, directories[1], 273), static_cast<uint32_t>(tiff.size() + 100));
        QTest::newRow("tiff strip past the end") << "TIFF" << bad << 1 << 0;


        bad = tiff;
        SetTiffValue(bad, TiffEntry(bad, directories[0], 258), 3);
        QTest::newRow("tiff 3 bits per sample") << "TIFF" << bad << 0 << 0;
    }
    const QByteArray strips = ReadAll(DataPath(QStringLiteral("tiff-strips.tif")));
    const std::vector<qsizetype> stripsDirectory = TiffDirectories(strips);
    {
        // The second strip holds nothing (an empty row when the file is not
        // laid out as expected, which the test reports).
        QByteArray bad;
        const qsizetype counts = stripsDirectory.empty() ? -1 : TiffEntry(strips, stripsDirectory[0], 279);
        if (counts > 0 && GetLittle(strips, counts + 4, 4) > 2) {
            bad = strips;
            const int bytes = GetLittle(bad, counts + 2, 2) == 3 ? 2 : 4;
            PutLittle(bad, GetLittle(bad, counts + 8, 4) + bytes, 0, bytes);
        }
        QTest::newRow("tiff zero-length strip") << "TIFF" << bad << 0 << 0;
    }
    QTest::newRow("tiff not tiff") << "TIFF" << png << 0 << 0;
}

void RasterTest::hostileFails()
{
    QFETCH(QString, format);
    QFETCH(QByteArray, data);
    QFETCH(int, page);
    QFETCH(int, failure);
    QVERIFY(!data.isEmpty());
    HDIB dib = nullptr;
    const int16_t result = Decode(data, format, page, crde::Progress{}, &dib);
    QVERIFY(!dib);
    if (failure != 0)
        QCOMPARE(int(result), failure);
    else
        QVERIFY2(result < 0, qPrintable(QString::number(result)));
}

void RasterTest::tiffDirectoryLoopEnds()
{
    const QByteArray tiff = ReadAll(DataPath(QStringLiteral("tiff-pages.tif")));
    const std::vector<qsizetype> directories = TiffDirectories(tiff);
    QCOMPARE(directories.size(), size_t{3});

    // The last directory points back at the first, and the first at itself.
    for (const int from : {2, 0}) {
        QByteArray looped = tiff;
        const qsizetype entries = GetLittle(looped, directories[from], 2);
        PutLittle(looped, directories[from] + 2 + 12 * entries, static_cast<uint32_t>(directories[0]), 4);
        crde::ImageInfo info;
        QVERIFY(crde::InfoTiff(Bytes(looped), looped.size(), 0, info) > 0);
        QCOMPARE(int(info.pages), from + 1);
        HDIB dib = nullptr;
        QCOMPARE(crde::ReadTiff(Bytes(looped), looped.size(), from + 1, crde::Progress{}, &dib),
                 int16_t(IL_ERR_PAGE));
        QVERIFY(!dib);
        QVERIFY(crde::ReadTiff(Bytes(looped), looped.size(), from, crde::Progress{}, &dib) > 0);
        GlobalFree(dib);
    }
}

void RasterTest::gifFramesCounted()
{
    const QByteArray gif = ReadAll(DataPath(QStringLiteral("gif-global.gif")));
    QVERIFY(gif.endsWith(';'));
    // A 1 x 1 frame: descriptor, code size 2, one sub-block, terminator.
    const QByteArray frame = QByteArray::fromHex("2c0000000001000100000202440100");
    struct Case {
        int added;
        int pages;
    };
    for (const Case c : {Case{1, 2}, Case{40, 41}, Case{40000, 32767}}) {
        const QByteArray many = gif.left(gif.size() - 1) + frame.repeated(c.added) + ';';
        crde::ImageInfo info;
        QVERIFY(crde::InfoGif(Bytes(many), many.size(), info) > 0);
        QCOMPARE(int(info.pages), c.pages);
    }
    // A damaged tail ends the count; the first frame still reads.
    const QByteArray damaged = gif.left(gif.size() - 1) + frame + frame.left(12);
    crde::ImageInfo info;
    QVERIFY(crde::InfoGif(Bytes(damaged), damaged.size(), info) > 0);
    QCOMPARE(int(info.pages), 2);
    HDIB dib = nullptr;
    QVERIFY(crde::ReadGif(Bytes(damaged), damaged.size(), crde::Progress{}, &dib) > 0);
    GlobalFree(dib);
}

QTEST_GUILESS_MAIN(RasterTest)
#include "raster_test.moc"
