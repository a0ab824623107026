// The BMP, TGA and PCX decoders of CRDE2001 against pictures and expected
// pixels written by an independent tool (tests/data/make-parsers), against
// variants written byte by byte here, and against damaged and hostile files.
#include "OwnedBlock.h"
#include "Convert.h"
#include "Dib.h"
#include "Formats.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using Decoder = int16_t (*)(const uint8_t*, size_t, const crde::Progress&, HDIB*);
using InfoReader = int16_t (*)(const uint8_t*, size_t, crde::ImageInfo&);

QString DataPath(const QString& name)
{
    return QStringLiteral(SNIMKOREZ_TEST_DATA "/parsers/") + name;
}

Bytes ReadAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    return Bytes(bytes.begin(), bytes.end());
}


struct Picture {
    int width = 0;
    int height = 0;
    QByteArray rgb;  // rows from the top, red, green, blue
};

// Binary PPM as make-parsers writes it: maxval 255, or 65535 for pictures
// laid on white, rounded here to 8 bits.
Picture ReadPpm(const QString& path)
{
    QFile file(path);
    Picture picture;
    if (!file.open(QIODevice::ReadOnly))
        return picture;
    const QByteArray all = file.readAll();
    QList<QByteArray> fields;
    qsizetype pos = 0;
    while (fields.size() < 4 && pos < all.size()) {
        while (pos < all.size() && QChar::isSpace(all[pos]))
            ++pos;
        const qsizetype start = pos;
        while (pos < all.size() && !QChar::isSpace(all[pos]))
            ++pos;
        fields.append(all.mid(start, pos - start));
    }
    if (fields.size() < 4 || fields[0] != "P6" || (fields[3] != "255" && fields[3] != "65535"))
        return picture;
    picture.width = fields[1].toInt();
    picture.height = fields[2].toInt();
    const QByteArray samples = all.mid(pos + 1);
    if (fields[3] == "255") {
        picture.rgb = samples;
        return picture;
    }
    for (qsizetype i = 0; i + 1 < samples.size(); i += 2) {
        const uint32_t wide = static_cast<uint8_t>(samples[i]) << 8 | static_cast<uint8_t>(samples[i + 1]);
        picture.rgb.append(static_cast<char>((wide * 255 + 32767) / 65535));
    }
    return picture;
}

// The block's pixels as red, green, blue rows from the top, indexed depths
// looked up in the block's table here rather than through the module.
Picture FromDib(HDIB dib)
{
    Picture picture;
    const imglib::DibView view(dib);
    if (!view.Valid())
        return picture;
    picture.width = view.Width();
    picture.height = view.Height();
    picture.rgb.reserve(picture.width * picture.height * 3);
    const imglib::RgbQuad* table = view.Palette();
    for (int y = 0; y < picture.height; ++y) {
        const uint8_t* row = view.Row(y);
        for (int x = 0; x < picture.width; ++x) {
            uint8_t b = 0, g = 0, r = 0;
            if (view.Bits() == 24) {
                b = row[3 * x];
                g = row[3 * x + 1];
                r = row[3 * x + 2];
            } else {
                int index = 0;
                switch (view.Bits()) {
                case 1:
                    index = (row[x / 8] >> (7 - x % 8)) & 1;
                    break;
                case 4:
                    index = (row[x / 2] >> (x % 2 == 0 ? 4 : 0)) & 15;
                    break;
                default:
                    index = row[x];
                    break;
                }
                if (index < view.Colours()) {
                    b = table[index].blue;
                    g = table[index].green;
                    r = table[index].red;
                }
            }
            picture.rgb.append(static_cast<char>(r));
            picture.rgb.append(static_cast<char>(g));
            picture.rgb.append(static_cast<char>(b));
        }
    }
    return picture;
}

int BitsOf(HDIB dib)
{
    const imglib::DibView view(dib);
    return view.Valid() ? view.Bits() : -1;
}

// The first differing pixel, or an empty string when the pictures agree.
QString Difference(const Picture& got, const Picture& want)
{
    if (got.width != want.width || got.height != want.height)
        return QStringLiteral("size %1x%2, expected %3x%4").arg(got.width).arg(got.height).arg(want.width).arg(want.height);
    for (int i = 0; i + 2 < want.rgb.size(); i += 3) {
        if (got.rgb.mid(i, 3) != want.rgb.mid(i, 3)) {
            const int pixel = i / 3;
            return QStringLiteral("pixel (%1,%2) is %3, expected %4")
                .arg(pixel % want.width)
                .arg(pixel / want.width)
                .arg(QString::fromLatin1(got.rgb.mid(i, 3).toHex()), QString::fromLatin1(want.rgb.mid(i, 3).toHex()));
        }
    }
    return {};
}

Picture Solid(int width, int height, const std::function<uint32_t(int x, int y)>& rgbAt)
{
    Picture picture{width, height, {}};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const uint32_t c = rgbAt(x, y);
            picture.rgb.append(static_cast<char>(c >> 16));
            picture.rgb.append(static_cast<char>(c >> 8));
            picture.rgb.append(static_cast<char>(c));
        }
    }
    return picture;
}

// Little-endian byte writer for the hand-made files.
struct Writer {
    Bytes bytes;
    Writer& u8(int v)
    {
        bytes.push_back(static_cast<uint8_t>(v));
        return *this;
    }
    Writer& u16(int v) { return u8(v & 255).u8((v >> 8) & 255); }
    Writer& u32(uint32_t v) { return u16(static_cast<int>(v & 0xFFFF)).u16(static_cast<int>(v >> 16)); }
    Writer& raw(std::initializer_list<int> values)
    {
        for (const int v : values)
            u8(v);
        return *this;
    }
    Writer& fill(size_t count, int v)
    {
        bytes.insert(bytes.end(), count, static_cast<uint8_t>(v));
        return *this;
    }
};

void Poke32(Bytes& bytes, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A BMP with a 40-byte header; `extra` (masks) sits between header and table.
Bytes BmpFile(int width, int height, int bits, uint32_t compression, const Bytes& extra,
              const std::vector<uint32_t>& table, const Bytes& pixels)
{
    const uint32_t offset = static_cast<uint32_t>(14 + 40 + extra.size() + 4 * table.size());
    Writer w;
    w.raw({'B', 'M'}).u32(offset + static_cast<uint32_t>(pixels.size())).u32(0).u32(offset);
    w.u32(40).u32(static_cast<uint32_t>(width)).u32(static_cast<uint32_t>(height)).u16(1).u16(bits);
    w.u32(compression).u32(static_cast<uint32_t>(pixels.size())).u32(2835).u32(2835);
    w.u32(static_cast<uint32_t>(table.size())).u32(0);
    w.bytes.insert(w.bytes.end(), extra.begin(), extra.end());
    for (const uint32_t rgb : table)
        w.u32(rgb);  // blue, green, red, 0 in file order
    w.bytes.insert(w.bytes.end(), pixels.begin(), pixels.end());
    return w.bytes;
}

std::vector<uint32_t> RampTable(int count)
{
    std::vector<uint32_t> table;
    for (int i = 0; i < count; ++i)
        table.push_back(static_cast<uint32_t>((i * 16) << 16 | (255 - i * 16) << 8 | (i * 5)));
    return table;
}

// A TGA header: 18 bytes.
Writer TgaHeader(int idLength, int mapType, int type, int mapFirst, int mapLength, int mapBits,
                 int width, int height, int depth, int descriptor)
{
    Writer w;
    w.u8(idLength).u8(mapType).u8(type).u16(mapFirst).u16(mapLength).u8(mapBits);
    w.u16(0).u16(0).u16(width).u16(height).u8(depth).u8(descriptor);
    return w;
}

// A PCX header: 128 bytes.
Writer PcxHeader(int bits, int planes, int xmin, int ymin, int xmax, int ymax, int bytesPerLine,
                 const std::vector<uint32_t>& headerPalette, int version = 5)
{
    Writer w;
    w.u8(0x0A).u8(version).u8(1).u8(bits).u16(xmin).u16(ymin).u16(xmax).u16(ymax).u16(72).u16(72);
    for (int i = 0; i < 16; ++i) {
        const uint32_t c = i < static_cast<int>(headerPalette.size()) ? headerPalette[i] : 0;
        w.u8(static_cast<int>(c >> 16) & 255).u8(static_cast<int>(c >> 8) & 255).u8(static_cast<int>(c) & 255);
    }
    w.u8(0).u8(planes).u16(bytesPerLine).u16(1).fill(58, 0);
    return w;
}

// Run-length encodes the whole stream at once, so runs cross planes and rows.
Bytes PcxRle(const Bytes& plain)
{
    Bytes out;
    for (size_t i = 0; i < plain.size();) {
        size_t run = 1;
        while (i + run < plain.size() && plain[i + run] == plain[i] && run < 63)
            ++run;
        if (run > 1 || plain[i] >= 0xC0)
            out.push_back(static_cast<uint8_t>(0xC0 | run));
        out.push_back(plain[i]);
        i += run;
    }
    return out;
}

int Stop(int, void*)
{
    return 0;
}

struct Decoded {
    int16_t result = 0;
    OwnedBlock block;
};

void Decode(Decoder decoder, const Bytes& bytes, Decoded& out, ILProgress callback = nullptr)
{
    out.result = decoder(bytes.data(), bytes.size(), crde::Progress{nullptr, callback}, out.block.Receive());
}

Decoder DecoderFor(const QString& file)
{
    if (file.endsWith(QLatin1String(".bmp")))
        return crde::ReadBmp;
    if (file.endsWith(QLatin1String(".tga")))
        return crde::ReadTga;
    return crde::ReadPcx;
}

InfoReader InfoFor(const QString& file)
{
    if (file.endsWith(QLatin1String(".bmp")))
        return crde::InfoBmp;
    if (file.endsWith(QLatin1String(".tga")))
        return crde::InfoTga;
    return crde::InfoPcx;
}

QString Ppm(const QString& file)
{
    return DataPath(file.left(file.lastIndexOf(u'.')) + QStringLiteral(".ppm"));
}

}  // namespace

class ParsersTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void decodesAsReference_data();
    void decodesAsReference();
    void entriesDeliver24Bits_data();
    void entriesDeliver24Bits();
    void fileInfo_data();
    void fileInfo();
    void cancelStops_data();
    void cancelStops();
    void truncatedHeaderFails_data();
    void truncatedHeaderFails();
    void truncatedPixelsGiveNoBlock_data();
    void truncatedPixelsGiveNoBlock();
    void hostileHeaders_data();
    void hostileHeaders();
    void bmpRle4Written();
    void bmpRleClipsRunsAndMoves_data();
    void bmpRleClipsRunsAndMoves();
    void bmpBitfieldsAfterHeader();
    void bmpAlphaMaskAfterShortHeader();
    void bmpHugePaletteCountIsClamped();
    void tgaMapStartsPastZero_data();
    void tgaMapStartsPastZero();
    void tga16BitPacketsCrossRows();
    void pcxPlanesAndWindows_data();
    void pcxPlanesAndWindows();
};

void ParsersTest::decodesAsReference_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("naturalBits");
    const std::pair<const char*, int> files[] = {
        {"bmp1.bmp", 1},       {"bmp4.bmp", 4},          {"bmp8.bmp", 8},          {"bmp8_rle.bmp", 8},
        {"bmp_os2.bmp", 4},    {"bmp16_555.bmp", 24},    {"bmp16_565.bmp", 24},    {"bmp24.bmp", 24},
        {"bmp_topdown.bmp", 24}, {"bmp32.bmp", 24},      {"bmp32_alpha.bmp", 24},  {"tga24.tga", 24},
        {"tga24_rle.tga", 24}, {"tga_mapped.tga", 8},    {"tga_mapped_rle.tga", 8}, {"tga_grey.tga", 8},
        {"tga_topleft.tga", 24}, {"tga_topright.tga", 24}, {"tga32_alpha.tga", 24}, {"pcx1.pcx", 1},
        {"pcx8.pcx", 8},       {"pcx24.pcx", 24},
    };
    for (const auto& [file, bits] : files)
        QTest::newRow(file) << QString::fromLatin1(file) << bits;
}

void ParsersTest::decodesAsReference()
{
    QFETCH(QString, file);
    QFETCH(int, naturalBits);
    const Bytes bytes = ReadAll(DataPath(file));
    QVERIFY(!bytes.empty());
    const Picture want = ReadPpm(Ppm(file));
    QVERIFY(want.width > 0);
    Decoded decoded;
    Decode(DecoderFor(file), bytes, decoded);
    QCOMPARE(decoded.result, int16_t{1});
    QCOMPARE(BitsOf(decoded.block.Get()), naturalBits);
    const QString difference = Difference(FromDib(decoded.block.Get()), want);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

void ParsersTest::entriesDeliver24Bits_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("indexed");
    const std::pair<const char*, bool> files[] = {
        {"bmp24.bmp", false},     {"bmp16_565.bmp", false}, {"bmp32_alpha.bmp", false}, {"bmp_topdown.bmp", false},
        {"tga24_rle.tga", false}, {"tga_topright.tga", false}, {"tga32_alpha.tga", false}, {"pcx24.pcx", false},
        {"bmp8_rle.bmp", true},   {"bmp1.bmp", true},       {"tga_mapped.tga", true},   {"tga_grey.tga", true},
        {"pcx8.pcx", true},       {"pcx1.pcx", true},
    };
    for (const auto& [file, indexed] : files)
        QTest::newRow(file) << QString::fromLatin1(file) << indexed;
}

void ParsersTest::entriesDeliver24Bits()
{
    QFETCH(QString, file);
    const QByteArray name = DataPath(file).toLocal8Bit();
    OwnedBlock block;
    int16_t result = 0;
    if (file.endsWith(QLatin1String(".bmp")))
        result = rdbmpfiledib(name.constData(), 24, 0, block.Receive(), nullptr, nullptr, nullptr, 0);
    else if (file.endsWith(QLatin1String(".tga")))
        result = readtgafiledib(name.constData(), 24, 0, block.Receive(), nullptr, nullptr, 0);
    else
        result = rdpcxfiledib(name.constData(), 24, 0, block.Receive(), nullptr, nullptr, nullptr, 0);
    QCOMPARE(result, int16_t{1});
    QCOMPARE(BitsOf(block.Get()), 24);
    const QString difference = Difference(FromDib(block.Get()), ReadPpm(Ppm(file)));
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

void ParsersTest::fileInfo_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("bits");
    QTest::addColumn<QString>("compression");
    struct Row {
        const char* file;
        const char* format;
        int bits;
        const char* compression;
    };
    const Row rows[] = {
        {"bmp1.bmp", "BMP", 1, "None"},           {"bmp4.bmp", "BMP", 4, "None"},
        {"bmp8.bmp", "BMP", 8, "None"},           {"bmp8_rle.bmp", "BMP", 8, "RLE8"},
        {"bmp_os2.bmp", "BMP", 4, "None"},        {"bmp16_555.bmp", "BMP", 16, "None"},
        {"bmp16_565.bmp", "BMP", 16, "Bitfields"}, {"bmp24.bmp", "BMP", 24, "None"},
        {"bmp_topdown.bmp", "BMP", 24, "None"},   {"bmp32.bmp", "BMP", 32, "None"},
        {"bmp32_alpha.bmp", "BMP", 32, "Bitfields"}, {"tga24.tga", "TGA", 24, "None"},
        {"tga24_rle.tga", "TGA", 24, "RLE"},      {"tga_mapped.tga", "TGA", 8, "None"},
        {"tga_mapped_rle.tga", "TGA", 8, "RLE"},  {"tga_grey.tga", "TGA", 8, "None"},
        {"tga32_alpha.tga", "TGA", 32, "None"},   {"pcx1.pcx", "PCX", 1, "RLE"},
        {"pcx8.pcx", "PCX", 8, "RLE"},            {"pcx24.pcx", "PCX", 24, "RLE"},
    };
    for (const Row& row : rows)
        QTest::newRow(row.file) << QString::fromLatin1(row.file) << QString::fromLatin1(row.format) << row.bits
                                << QString::fromLatin1(row.compression);
}

void ParsersTest::fileInfo()
{
    QFETCH(QString, file);
    QFETCH(QString, format);
    QFETCH(int, bits);
    QFETCH(QString, compression);
    char formatName[IL_FORMAT_NAME_SIZE] = {};
    char compressionName[IL_COMPRESSION_NAME_SIZE] = {};
    int32_t width = 0, height = 0;
    int16_t depth = 0, figure1 = 0, figure2 = -1;
    const QByteArray name = DataPath(file).toLocal8Bit();
    QCOMPARE(fileinfo(name.constData(), formatName, &width, &height, &depth, &figure1, &figure2, compressionName, 0),
             int16_t{1});
    QCOMPARE(QString::fromLatin1(formatName), format);
    QCOMPARE(width, 37);
    QCOMPARE(height, 23);
    QCOMPARE(int{depth}, bits);
    QCOMPARE(int{figure1}, 1);
    QCOMPARE(int{figure2}, 0);
    QCOMPARE(QString::fromLatin1(compressionName), compression);
}

void ParsersTest::cancelStops_data()
{
    QTest::addColumn<QString>("file");
    for (const char* file : {"bmp24.bmp", "bmp8_rle.bmp", "tga24_rle.tga", "tga_grey.tga", "pcx24.pcx", "pcx1.pcx"})
        QTest::newRow(file) << QString::fromLatin1(file);
}

void ParsersTest::cancelStops()
{
    QFETCH(QString, file);
    Decoded decoded;
    Decode(DecoderFor(file), ReadAll(DataPath(file)), decoded, Stop);
    QCOMPARE(decoded.result, int16_t{IL_ERR_CANCELLED});
    QVERIFY(!decoded.block);

    // The entry passes the request on and hands back no block.
    const QByteArray name = DataPath(file).toLocal8Bit();
    OwnedBlock block;
    int16_t result = 0;
    if (file.endsWith(QLatin1String(".bmp")))
        result = rdbmpfiledib(name.constData(), 24, 0, block.Receive(), nullptr, nullptr, Stop, 0);
    else if (file.endsWith(QLatin1String(".tga")))
        result = readtgafiledib(name.constData(), 24, 0, block.Receive(), nullptr, Stop, 0);
    else
        result = rdpcxfiledib(name.constData(), 24, 0, block.Receive(), nullptr, nullptr, Stop, 0);
    QCOMPARE(result, int16_t{IL_ERR_CANCELLED});
    QVERIFY(!block);

    // A callback that lets it run sees the whole range.
    std::vector<int> seen;
    const ILProgress record = [](int percent, void* control) {
        static_cast<std::vector<int>*>(control)->push_back(percent);
        return 1;
    };
    const Bytes bytes = ReadAll(DataPath(file));
    OwnedBlock whole;
    QCOMPARE(DecoderFor(file)(bytes.data(), bytes.size(), crde::Progress{&seen, record}, whole.Receive()), int16_t{1});
    QVERIFY(seen.size() >= 2);
    QCOMPARE(seen.front(), 0);
    QCOMPARE(seen.back(), 100);
    QVERIFY(std::is_sorted(seen.begin(), seen.end()));
}

void ParsersTest::truncatedHeaderFails_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("headerLength");
    // Up to where the pixels start: file and info header, masks, table or map.
    QTest::newRow("bmp1") << "bmp1.bmp" << 62;
    QTest::newRow("bmp8") << "bmp8.bmp" << 1078;
    QTest::newRow("bmp_os2") << "bmp_os2.bmp" << 74;
    QTest::newRow("bmp16_565") << "bmp16_565.bmp" << 138;
    QTest::newRow("tga24") << "tga24.tga" << 18;
    QTest::newRow("tga_mapped") << "tga_mapped.tga" << 18 + 60 * 3;
    QTest::newRow("pcx24") << "pcx24.pcx" << 128;
}

void ParsersTest::truncatedHeaderFails()
{
    QFETCH(QString, file);
    QFETCH(int, headerLength);
    const Bytes whole = ReadAll(DataPath(file));
    QVERIFY(whole.size() > static_cast<size_t>(headerLength));
    for (int length = 0; length <= headerLength; ++length) {
        // A copy of exactly this length, so the sanitizer sees any read past it.
        const Bytes cut(whole.begin(), whole.begin() + length);
        crde::ImageInfo info;
        const int16_t infoResult = InfoFor(file)(cut.data(), cut.size(), info);
        Decoded decoded;
        Decode(DecoderFor(file), cut, decoded);
        QVERIFY2(decoded.result <= 0, qPrintable(QStringLiteral("length %1").arg(length)));
        QVERIFY2(infoResult <= 0, qPrintable(QStringLiteral("length %1").arg(length)));
    }
}

void ParsersTest::truncatedPixelsGiveNoBlock_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("pixelStart");
    QTest::addColumn<int>("rowBytes");
    QTest::newRow("bmp24") << "bmp24.bmp" << 54 << 112;
    QTest::newRow("bmp_topdown") << "bmp_topdown.bmp" << 54 << 112;
    QTest::newRow("bmp8") << "bmp8.bmp" << 1078 << 40;
    QTest::newRow("tga24") << "tga24.tga" << 18 << 111;
    QTest::newRow("tga_topleft") << "tga_topleft.tga" << 18 << 111;
}

// Cut inside a row, with none, some or all but the last of the rows before
// it whole: a failure and no half-made block.
void ParsersTest::truncatedPixelsGiveNoBlock()
{
    QFETCH(QString, file);
    QFETCH(int, pixelStart);
    QFETCH(int, rowBytes);
    const Bytes whole = ReadAll(DataPath(file));
    for (const int rows : {0, 1, 7, 22}) {
        const Bytes cut(whole.begin(), whole.begin() + pixelStart + rows * rowBytes + 5);
        Decoded decoded;
        Decode(DecoderFor(file), cut, decoded);
        QCOMPARE(decoded.result, int16_t{IL_ERR_CORRUPT});
        QVERIFY2(!decoded.block, qPrintable(QStringLiteral("%1 rows").arg(rows)));
    }
    // PCX, cut halfway through its run-length stream.
    const Bytes pcx = ReadAll(DataPath(QStringLiteral("pcx24.pcx")));
    Decoded full;
    Decode(crde::ReadPcx, pcx, full);
    QCOMPARE(full.result, int16_t{1});
    QVERIFY(full.block);
    const Bytes cut(pcx.begin(), pcx.begin() + pcx.size() / 2);
    Decoded half;
    Decode(crde::ReadPcx, cut, half);
    QCOMPARE(half.result, int16_t{IL_ERR_CORRUPT});
    QVERIFY(!half.block);
}

void ParsersTest::hostileHeaders_data()
{
    // Fields overwritten in a good file: offset, byte count (1, 2 or 4), value.
    QTest::addColumn<QString>("file");
    QTest::addColumn<QList<qlonglong>>("pokes");
    QTest::addColumn<int>("expected");
    const auto row = [](const char* name, const char* file, QList<qlonglong> pokes, int expected) {
        QTest::newRow(name) << QString::fromLatin1(file) << pokes << expected;
    };
    // BMP: 14-byte file header, then the info header.
    row("bmp offset past the file", "bmp24.bmp", {10, 4, 0x10000}, IL_ERR_CORRUPT);
    row("bmp offset 2^32-1", "bmp24.bmp", {10, 4, 0xFFFFFFFF}, IL_ERR_CORRUPT);
    row("bmp offset into the header", "bmp24.bmp", {10, 4, 20}, IL_ERR_CORRUPT);
    // Pixels start where the file says; table entries past that point stay black.
    row("bmp offset into the table", "bmp8.bmp", {10, 4, 60}, 1);
    row("bmp header size 64", "bmp24.bmp", {14, 4, 64}, IL_ERR_UNSUPPORTED);
    row("bmp header size huge", "bmp24.bmp", {14, 4, 0x7FFFFFFF}, IL_ERR_UNSUPPORTED);
    row("bmp width 0x7fffffff", "bmp24.bmp", {18, 4, 0x7FFFFFFF}, IL_ERR_TOO_LARGE);
    row("bmp height 0x7fffffff", "bmp24.bmp", {22, 4, 0x7FFFFFFF}, IL_ERR_TOO_LARGE);
    row("bmp 0x7fffffff square", "bmp8_rle.bmp", {18, 4, 0x7FFFFFFF, 22, 4, 0x7FFFFFFF}, IL_ERR_TOO_LARGE);
    row("bmp width 0", "bmp24.bmp", {18, 4, 0}, IL_ERR_CORRUPT);
    row("bmp width negative", "bmp24.bmp", {18, 4, 0xFFFFFFF0}, IL_ERR_CORRUPT);
    row("bmp height 0", "bmp24.bmp", {22, 4, 0}, IL_ERR_CORRUPT);
    row("bmp height INT32_MIN", "bmp24.bmp", {22, 4, 0x80000000}, IL_ERR_CORRUPT);
    row("bmp height -0x7fffffff", "bmp24.bmp", {22, 4, 0x80000001}, IL_ERR_TOO_LARGE);
    row("bmp 10000 rows, few bytes", "bmp24.bmp", {22, 4, 10000}, IL_ERR_CORRUPT);
    row("bmp 0 bits", "bmp24.bmp", {28, 2, 0}, IL_ERR_UNSUPPORTED);
    row("bmp 7 bits", "bmp24.bmp", {28, 2, 7}, IL_ERR_UNSUPPORTED);
    row("bmp RLE8 of 24 bits", "bmp24.bmp", {30, 4, 1}, IL_ERR_CORRUPT);
    row("bmp RLE4 of 8 bits", "bmp8_rle.bmp", {30, 4, 2}, IL_ERR_CORRUPT);
    row("bmp bitfields of 24 bits", "bmp24.bmp", {30, 4, 3}, IL_ERR_CORRUPT);
    row("bmp JPEG inside", "bmp24.bmp", {30, 4, 4}, IL_ERR_UNSUPPORTED);
    row("bmp unknown compression", "bmp24.bmp", {30, 4, 0x12345678}, IL_ERR_UNSUPPORTED);
    row("bmp top-down RLE8", "bmp8_rle.bmp", {22, 4, 0xFFFFFFE9}, IL_ERR_CORRUPT);
    // Run-length data ending with its end mark before the last row is complete:
    // the rows above stay index 0.
    row("bmp RLE8 of 600 rows", "bmp8_rle.bmp", {22, 4, 600}, 1);
    row("bmp RLE8 of 600 rows, no end mark", "bmp8_rle.bmp", {22, 4, 600, 2612, 2, 0}, IL_ERR_CORRUPT);
    row("bmp core width 0", "bmp_os2.bmp", {18, 2, 0}, IL_ERR_CORRUPT);
    row("bmp core 24-bit with no pixels", "bmp_os2.bmp", {24, 2, 24}, IL_ERR_CORRUPT);
    // TGA: 18-byte header.
    row("tga id field pushes pixels off the end", "tga24.tga", {0, 1, 255}, IL_ERR_CORRUPT);
    row("tga map type 2", "tga24.tga", {1, 1, 2}, IL_ERR_FORMAT);
    row("tga type 0", "tga24.tga", {2, 1, 0}, IL_ERR_UNSUPPORTED);
    row("tga type 32", "tga24.tga", {2, 1, 32}, IL_ERR_UNSUPPORTED);
    row("tga mapped without a map", "tga_mapped.tga", {1, 1, 0}, IL_ERR_CORRUPT);
    row("tga map past the file", "tga_mapped.tga", {5, 2, 0xFFFF}, IL_ERR_CORRUPT);
    row("tga map of 7-bit entries", "tga_mapped.tga", {7, 1, 7}, IL_ERR_UNSUPPORTED);
    row("tga mapped 16-bit indices", "tga_mapped.tga", {16, 1, 16}, IL_ERR_UNSUPPORTED);
    row("tga width 0", "tga24.tga", {12, 2, 0}, IL_ERR_CORRUPT);
    row("tga 65535 x 65535", "tga24.tga", {12, 4, 0xFFFFFFFF}, IL_ERR_TOO_LARGE);
    row("tga 5000 rows, few bytes", "tga24.tga", {14, 2, 5000}, IL_ERR_CORRUPT);
    row("tga depth 12", "tga24.tga", {16, 1, 12}, IL_ERR_UNSUPPORTED);
    row("tga RLE 5000 rows", "tga24_rle.tga", {14, 2, 5000}, IL_ERR_CORRUPT);
    // PCX: 128-byte header.
    row("pcx version 9", "pcx24.pcx", {1, 1, 9}, IL_ERR_UNSUPPORTED);
    row("pcx not encoded", "pcx24.pcx", {2, 1, 0}, IL_ERR_UNSUPPORTED);
    row("pcx xmin above xmax", "pcx24.pcx", {4, 2, 50}, IL_ERR_CORRUPT);
    row("pcx ymin above ymax", "pcx24.pcx", {6, 2, 50}, IL_ERR_CORRUPT);
    row("pcx 65536 wide, short lines", "pcx24.pcx", {8, 2, 0xFFFF}, IL_ERR_CORRUPT);
    row("pcx 65535 x 65535", "pcx8.pcx", {8, 2, 0xFFFE, 10, 2, 0xFFFE, 66, 2, 0xFFFF}, IL_ERR_TOO_LARGE);
    row("pcx bytes per line 0", "pcx24.pcx", {66, 2, 0}, IL_ERR_CORRUPT);
    row("pcx bytes per line short", "pcx24.pcx", {66, 2, 36}, IL_ERR_CORRUPT);
    row("pcx 2 planes of 8 bits", "pcx24.pcx", {65, 1, 2}, IL_ERR_UNSUPPORTED);
    row("pcx 0 planes", "pcx24.pcx", {65, 1, 0}, IL_ERR_UNSUPPORTED);
    row("pcx 3 bits", "pcx8.pcx", {3, 1, 3}, IL_ERR_UNSUPPORTED);
    row("pcx 9000 rows, few bytes", "pcx24.pcx", {10, 2, 9000}, IL_ERR_CORRUPT);
    row("pcx 30000 lines of 65535 bytes", "pcx8.pcx", {10, 2, 30000, 66, 2, 0xFFFF}, IL_ERR_CORRUPT);
}

void ParsersTest::hostileHeaders()
{
    QFETCH(QString, file);
    QFETCH(QList<qlonglong>, pokes);
    QFETCH(int, expected);
    Bytes bytes = ReadAll(DataPath(file));
    QVERIFY(!bytes.empty());
    for (qsizetype i = 0; i + 2 < pokes.size(); i += 3) {
        const size_t at = static_cast<size_t>(pokes[i]);
        QVERIFY(at + pokes[i + 1] <= bytes.size());
        for (int b = 0; b < pokes[i + 1]; ++b)
            bytes[at + b] = static_cast<uint8_t>(static_cast<uint64_t>(pokes[i + 2]) >> (8 * b));
    }
    Decoded decoded;
    Decode(DecoderFor(file), bytes, decoded);
    QCOMPARE(int{decoded.result}, expected);
    QCOMPARE(static_cast<bool>(decoded.block), expected > 0);
    // Information agrees on what is wrong with the header.
    crde::ImageInfo info;
    const int16_t infoResult = InfoFor(file)(bytes.data(), bytes.size(), info);
    if (expected == IL_ERR_FORMAT || expected == IL_ERR_UNSUPPORTED)
        QCOMPARE(int{infoResult}, expected);
}

void ParsersTest::bmpRle4Written()
{
    // 7 × 3, bottom row first: a run, then an absolute run and a run, then a
    // move right and a run; pixels never reached stay index 0.
    const Bytes rle = {
        7, 0x12, 0, 0,                          // bottom: 1 2 1 2 1 2 1
        0, 5, 0x34, 0x56, 0x70, 0, 2, 0xAB, 0, 0,  // middle: 3 4 5 6 7 A B
        0, 2, 2, 0, 3, 0xCC, 0, 1,              // top: 0 0 C C C 0 0
    };
    const Bytes file = BmpFile(7, 3, 4, 2, {}, RampTable(16), rle);
    Decoded decoded;
    Decode(crde::ReadBmp, file, decoded);
    QCOMPARE(decoded.result, int16_t{1});
    QCOMPARE(BitsOf(decoded.block.Get()), 4);
    const int indices[3][7] = {{0, 0, 12, 12, 12, 0, 0}, {3, 4, 5, 6, 7, 10, 11}, {1, 2, 1, 2, 1, 2, 1}};
    const auto table = RampTable(16);
    const Picture want = Solid(7, 3, [&](int x, int y) { return table[indices[y][x]]; });
    const QString difference = Difference(FromDib(decoded.block.Get()), want);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));

    crde::ImageInfo info;
    QCOMPARE(crde::InfoBmp(file.data(), file.size(), info), int16_t{1});
    QCOMPARE(info.bits, int16_t{4});
    QCOMPARE(QString::fromStdString(info.compression), QStringLiteral("RLE4"));
}

void ParsersTest::bmpRleClipsRunsAndMoves_data()
{
    // 4 × 2 RLE8; the expected indices from the top row, none when it fails.
    QTest::addColumn<QByteArray>("rle");
    QTest::addColumn<int>("expected");
    QTest::addColumn<QByteArray>("indices");
    const auto bytes = [](std::initializer_list<int> values) {
        QByteArray out;
        for (const int v : values)
            out.append(static_cast<char>(v));
        return out;
    };
    QTest::newRow("run past the row") << bytes({200, 5, 0, 0, 2, 6, 0, 1}) << 1 << bytes({6, 6, 0, 0, 5, 5, 5, 5});
    QTest::newRow("absolute past the row")
        << bytes({0, 6, 1, 2, 3, 4, 5, 6, 0, 0, 1, 9, 0, 1}) << 1 << bytes({9, 0, 0, 0, 1, 2, 3, 4});
    QTest::newRow("run past the last row") << bytes({4, 1, 0, 0, 4, 2, 0, 0, 255, 3, 0, 0, 4, 4}) << 1
                                           << bytes({2, 2, 2, 2, 1, 1, 1, 1});
    QTest::newRow("move above the picture") << bytes({1, 7, 0, 2, 0, 200, 3, 3, 0, 1}) << 1
                                            << bytes({0, 0, 0, 0, 7, 0, 0, 0});
    QTest::newRow("move right out of the row") << bytes({0, 2, 255, 0, 2, 8, 0, 0, 1, 9, 0, 1}) << 1
                                               << bytes({9, 0, 0, 0, 0, 0, 0, 0});
    QTest::newRow("ends without end of bitmap") << bytes({4, 1, 0, 0}) << int{IL_ERR_CORRUPT} << QByteArray();
    QTest::newRow("absolute run cut short") << bytes({4, 1, 0, 0, 0, 4, 1}) << int{IL_ERR_CORRUPT} << QByteArray();
    QTest::newRow("move cut short") << bytes({0, 2, 1}) << int{IL_ERR_CORRUPT} << QByteArray();
    QTest::newRow("last row without end of line") << bytes({4, 1, 0, 0, 4, 2}) << int{IL_ERR_CORRUPT} << QByteArray();
    QTest::newRow("last row ends the data") << bytes({4, 1, 0, 0, 4, 2, 0, 0}) << 1
                                            << bytes({2, 2, 2, 2, 1, 1, 1, 1});
}

void ParsersTest::bmpRleClipsRunsAndMoves()
{
    QFETCH(QByteArray, rle);
    QFETCH(int, expected);
    QFETCH(QByteArray, indices);
    const Bytes file = BmpFile(4, 2, 8, 1, {}, RampTable(10), Bytes(rle.begin(), rle.end()));
    Decoded decoded;
    Decode(crde::ReadBmp, file, decoded);
    QCOMPARE(int{decoded.result}, expected);
    if (expected <= 0) {
        QVERIFY(!decoded.block);
        return;
    }
    const imglib::DibView view(decoded.block.Get());
    QVERIFY(view.Valid());
    QByteArray got;
    for (int y = 0; y < 2; ++y)
        got.append(reinterpret_cast<const char*>(view.Row(y)), 4);
    QCOMPARE(got.toHex(' '), indices.toHex(' '));
}

void ParsersTest::bmpBitfieldsAfterHeader()
{
    // 5-6-5 masks after a 40-byte header; rows bottom first, padded to 4 bytes.
    Writer masks;
    masks.u32(0xF800).u32(0x07E0).u32(0x001F);
    Writer pixels;
    pixels.u16(0xF800).u16(0x07E0).u16(0x001F).u16(0);       // bottom: red, green, blue
    pixels.u16(0xFFFF).u16(0x0000).u16(0x8410).u16(0);       // top: white, black, middle grey
    const Bytes file = BmpFile(3, 2, 16, 3, masks.bytes, {}, pixels.bytes);
    Decoded decoded;
    Decode(crde::ReadBmp, file, decoded);
    QCOMPARE(decoded.result, int16_t{1});
    const uint32_t want[2][3] = {{0xFFFFFF, 0x000000, 0x848284}, {0xFF0000, 0x00FF00, 0x0000FF}};
    const QString difference = Difference(FromDib(decoded.block.Get()), Solid(3, 2, [&](int x, int y) { return want[y][x]; }));
    QVERIFY2(difference.isEmpty(), qPrintable(difference));

    // The masks cut off by the end of the file.
    const Bytes cut(file.begin(), file.begin() + 14 + 40 + 6);
    Decoded cutDecoded;
    Decode(crde::ReadBmp, cut, cutDecoded);
    QCOMPARE(cutDecoded.result, int16_t{IL_ERR_CORRUPT});
}

// A 52-byte header has room for three masks: with alpha bit fields the
// fourth follows it. A file that ends with the header is refused without a
// read past its end (which the sanitizer build would report).
void ParsersTest::bmpAlphaMaskAfterShortHeader()
{
    Writer w;
    w.raw({'B', 'M'}).u32(74).u32(0).u32(70);
    w.u32(52).u32(1).u32(1).u16(1).u16(32).u32(6).u32(4).u32(2835).u32(2835).u32(0).u32(0);
    w.u32(0x00FF0000).u32(0x0000FF00).u32(0x000000FF);
    QCOMPARE(w.bytes.size(), size_t{66});
    const Bytes header = w.bytes;
    w.u32(0xFF000000).u32(0x800000FF);  // alpha mask; half-transparent blue
    Decoded decoded;
    Decode(crde::ReadBmp, w.bytes, decoded);
    QCOMPARE(decoded.result, int16_t{1});
    const QString difference = Difference(FromDib(decoded.block.Get()), Solid(1, 1, [](int, int) { return 0x7F7FFFu; }));
    QVERIFY2(difference.isEmpty(), qPrintable(difference));

    // Exactly the header's bytes, on the heap, so a read past them is caught.
    const auto alone = std::make_unique<uint8_t[]>(header.size());
    std::copy(header.begin(), header.end(), alone.get());
    HDIB dib = nullptr;
    QCOMPARE(crde::ReadBmp(alone.get(), header.size(), {}, &dib), int16_t{IL_ERR_CORRUPT});
    QVERIFY(dib == nullptr);
    crde::ImageInfo info;
    QCOMPARE(crde::InfoBmp(alone.get(), header.size(), info), int16_t{IL_ERR_CORRUPT});
}

void ParsersTest::bmpHugePaletteCountIsClamped()
{
    const Picture want = ReadPpm(DataPath(QStringLiteral("bmp8.ppm")));
    for (const uint32_t count : {0x80000000u, 0xFFFFFFFFu, 257u}) {
        Bytes bytes = ReadAll(DataPath(QStringLiteral("bmp8.bmp")));
        Poke32(bytes, 14 + 32, count);
        Decoded decoded;
        Decode(crde::ReadBmp, bytes, decoded);
        QCOMPARE(decoded.result, int16_t{1});
        QVERIFY(Difference(FromDib(decoded.block.Get()), want).isEmpty());
    }
    // A count below the table's size: the entries past it stay black.
    Bytes bytes = ReadAll(DataPath(QStringLiteral("bmp4.bmp")));
    Poke32(bytes, 14 + 32, 3);
    Decoded decoded;
    Decode(crde::ReadBmp, bytes, decoded);
    QCOMPARE(decoded.result, int16_t{1});
    const imglib::DibView view(decoded.block.Get());
    QCOMPARE(view.Colours(), 16);
    QCOMPARE(view.Palette()[2].red, bytes[14 + 40 + 2 * 4 + 2]);
    for (int i = 3; i < 16; ++i)
        QVERIFY(view.Palette()[i].red == 0 && view.Palette()[i].green == 0 && view.Palette()[i].blue == 0);
}

void ParsersTest::tgaMapStartsPastZero_data()
{
    QTest::addColumn<int>("entryBits");
    QTest::addColumn<bool>("rle");
    QTest::newRow("24-bit entries") << 24 << false;
    QTest::newRow("32-bit entries") << 32 << false;
    QTest::newRow("16-bit entries, run-length") << 16 << true;
    QTest::newRow("15-bit entries") << 15 << false;
}

void ParsersTest::tgaMapStartsPastZero()
{
    // Map entries 10..12 (red, green, blue); indices 9 and 13 fall outside
    // the map and show black. Two rows, top first, with an ID field to skip.
    QFETCH(int, entryBits);
    QFETCH(bool, rle);
    Writer w = TgaHeader(3, 1, rle ? 9 : 1, 10, 3, entryBits, 4, 2, 8, 0x20);
    w.raw({'i', 'd', '!'});
    const uint32_t map[3] = {0xFF0000, 0x00FF00, 0x0000FF};
    for (const uint32_t c : map) {
        if (entryBits <= 16)
            w.u16(static_cast<int>((c >> 16 & 0xF8) << 7 | (c >> 8 & 0xF8) << 2 | (c & 0xF8) >> 3));
        else
            w.u8(c & 255).u8(c >> 8 & 255).u8(c >> 16 & 255);
        if (entryBits == 32)
            w.u8(0);  // alpha of a map entry is not used
    }
    if (rle)
        w.raw({0x83, 10, 0x03, 11, 12, 9, 13});  // a run of four crosses into the second row
    else
        w.raw({10, 10, 10, 10, 11, 12, 9, 13});
    Decoded decoded;
    Decode(crde::ReadTga, w.bytes, decoded);
    QCOMPARE(decoded.result, int16_t{1});
    QCOMPARE(BitsOf(decoded.block.Get()), 8);
    const uint32_t want[2][4] = {{0xFF0000, 0xFF0000, 0xFF0000, 0xFF0000}, {0x00FF00, 0x0000FF, 0, 0}};
    const QString difference = Difference(FromDib(decoded.block.Get()), Solid(4, 2, [&](int x, int y) { return want[y][x]; }));
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

void ParsersTest::tga16BitPacketsCrossRows()
{
    // 3 × 2, bottom-left origin, right to left: one run of four and a raw
    // packet of two; a last packet running past the picture is ignored.
    Writer w = TgaHeader(0, 0, 10, 0, 0, 0, 3, 2, 16, 0x10);
    w.u8(0x83).u16(0x7C00);           // red × 4
    w.u8(0x01).u16(0x03E0).u16(0x4210);  // green, grey 16
    w.u8(0x85).u16(0x001F);           // blue × 6, beyond the last pixel
    Decoded decoded;
    Decode(crde::ReadTga, w.bytes, decoded);
    QCOMPARE(decoded.result, int16_t{1});
    // Stored bottom row first, each row from the right.
    const uint32_t want[2][3] = {{0x848484, 0x00FF00, 0xFF0000}, {0xFF0000, 0xFF0000, 0xFF0000}};
    const QString difference = Difference(FromDib(decoded.block.Get()), Solid(3, 2, [&](int x, int y) { return want[y][x]; }));
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

void ParsersTest::pcxPlanesAndWindows_data()
{
    QTest::addColumn<int>("bits");
    QTest::addColumn<int>("planes");
    QTest::addColumn<int>("version");
    QTest::addColumn<bool>("vgaPalette");
    QTest::addColumn<int>("naturalBits");
    QTest::newRow("4 planes of 1 bit") << 1 << 4 << 5 << false << 4;
    QTest::newRow("3 planes of 1 bit") << 1 << 3 << 5 << false << 4;
    QTest::newRow("1 plane of 2 bits") << 2 << 1 << 5 << false << 4;
    QTest::newRow("1 plane of 4 bits") << 4 << 1 << 5 << false << 4;
    QTest::newRow("4 planes, no palette (version 3)") << 1 << 4 << 3 << false << 4;
    QTest::newRow("8 bits with palette") << 8 << 1 << 5 << true << 8;
    QTest::newRow("8 bits without palette") << 8 << 1 << 5 << false << 8;
    QTest::newRow("3 planes of 8 bits") << 8 << 3 << 5 << false << 24;
    QTest::newRow("1 bit, empty header palette") << 1 << 1 << 5 << false << 1;
}

void ParsersTest::pcxPlanesAndWindows()
{
    // 11 × 3 in the window 5..15, 7..9, each plane line 4 bytes longer than
    // needed (and even), the stream run-length encoded across planes and rows.
    QFETCH(int, bits);
    QFETCH(int, planes);
    QFETCH(int, version);
    QFETCH(bool, vgaPalette);
    QFETCH(int, naturalBits);
    const int width = 11, height = 3;
    const int bytesPerLine = ((width * bits + 7) / 8 + 4 + 1) & ~1;
    const int colours = 1 << std::min(bits * planes, 8);
    const auto indexAt = [&](int x, int y) { return (x * 7 + y * 3) % colours; };
    std::vector<uint32_t> header;
    for (int i = 0; i < 16; ++i)
        header.push_back(static_cast<uint32_t>(0x100000 * i + 0x000F00 * (15 - i) + 0x000011 * i));
    if (naturalBits == 1)
        header = {0, 0};
    Bytes plain;
    for (int y = 0; y < height; ++y) {
        for (int plane = 0; plane < planes; ++plane) {
            Bytes line(bytesPerLine, 0x55);  // padding carries junk
            std::fill(line.begin(), line.begin() + (width * bits + 7) / 8, 0);
            for (int x = 0; x < width; ++x) {
                int value = indexAt(x, y);
                if (bits == 8 && planes == 3)
                    value = (x * 20 + y * 70 + plane * 90) & 255;  // red, green, blue planes
                if (bits == 8) {
                    line[x] = static_cast<uint8_t>(value);
                } else if (bits == 1) {
                    line[x / 8] |= static_cast<uint8_t>(((value >> plane) & 1) << (7 - x % 8));
                } else {
                    const int perByte = 8 / bits;
                    line[x / perByte] |= static_cast<uint8_t>(value << (8 - bits * (x % perByte + 1)));
                }
            }
            plain.insert(plain.end(), line.begin(), line.end());
        }
    }
    // Long equal stretches, so that runs do cross lines.
    std::fill(plain.begin(), plain.begin() + std::min<size_t>(plain.size(), bytesPerLine + 3), 0);
    Writer w = PcxHeader(bits, planes, 5, 7, 5 + width - 1, 7 + height - 1, bytesPerLine, header, version);
    const Bytes encoded = PcxRle(plain);
    w.bytes.insert(w.bytes.end(), encoded.begin(), encoded.end());
    w.raw({0xFF, 0x77});  // a run past the last row, ignored
    std::vector<uint32_t> vga;
    if (vgaPalette) {
        w.u8(0x0C);
        for (int i = 0; i < 256; ++i) {
            vga.push_back(static_cast<uint32_t>((255 - i) << 16 | (i * 3 & 255) << 8 | (i / 2)));
            w.u8(255 - i).u8(i * 3 & 255).u8(i / 2);
        }
    }

    // What each pixel should show, worked out from `plain`, not from the decoder.
    static const uint32_t kEga[16] = {0x000000, 0x0000AA, 0x00AA00, 0x00AAAA, 0xAA0000, 0xAA00AA, 0xAA5500, 0xAAAAAA,
                                      0x555555, 0x5555FF, 0x55FF55, 0x55FFFF, 0xFF5555, 0xFF55FF, 0xFFFF55, 0xFFFFFF};
    const auto planeBytes = [&](int y, int plane) { return plain.data() + (y * planes + plane) * bytesPerLine; };
    const Picture want = Solid(width, height, [&](int x, int y) -> uint32_t {
        if (bits == 8 && planes == 3)
            return static_cast<uint32_t>(planeBytes(y, 0)[x] << 16 | planeBytes(y, 1)[x] << 8 | planeBytes(y, 2)[x]);
        int index = 0;
        if (bits == 8) {
            index = planeBytes(y, 0)[x];
            return vgaPalette ? vga[index] : static_cast<uint32_t>(index * 0x010101);
        }
        if (bits == 1) {
            for (int plane = 0; plane < planes; ++plane)
                index |= ((planeBytes(y, plane)[x / 8] >> (7 - x % 8)) & 1) << plane;
        } else {
            const int perByte = 8 / bits;
            index = (planeBytes(y, 0)[x / perByte] >> (8 - bits * (x % perByte + 1))) & (colours - 1);
        }
        if (naturalBits == 1)
            return index ? 0xFFFFFF : 0;
        return version == 3 ? kEga[index] : header[index];
    });

    Decoded decoded;
    Decode(crde::ReadPcx, w.bytes, decoded);
    QCOMPARE(decoded.result, int16_t{1});
    QCOMPARE(BitsOf(decoded.block.Get()), naturalBits);
    const QString difference = Difference(FromDib(decoded.block.Get()), want);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
    crde::ImageInfo info;
    QCOMPARE(crde::InfoPcx(w.bytes.data(), w.bytes.size(), info), int16_t{1});
    QCOMPARE(info.width, width);
    QCOMPARE(info.height, height);
    QCOMPARE(int{info.bits}, bits * planes);
}

QTEST_GUILESS_MAIN(ParsersTest)
#include "parsers_test.moc"
