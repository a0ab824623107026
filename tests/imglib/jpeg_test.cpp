// The JPEG codec of the codec module: reading files made by an independent
// encoder (tests/data/make-jpeg), orientation, damaged input, and writing
// files that an independent decoder (Qt's) reads back.
#include "Dib.h"
#include "Formats.h"
#include "OwnedBlock.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <QTransform>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>
#include <tuple>
#include <vector>

#include <jpeglib.h>

namespace {

// Tolerances for a quality 95..98 file of the flat-quadrant reference: the
// mean absolute difference over all channels of all pixels (0..255 scale;
// measured 0.17 or less), and the largest channel difference at the four
// corner samples, 2 pixels in (measured 1). A wrong orientation or channel
// order is off by about 50 on average.
constexpr double kMeanTolerance = 1.0;
constexpr int kCornerTolerance = 4;
// Written files use 4:2:0 chroma, which blurs where quadrants meet (measured 1.5 to 2.8).
constexpr double kWrittenMeanTolerance = 4.0;

QString dataFile(const QString& name)
{
    return QStringLiteral(SNIMKOREZ_TEST_DATA "/jpeg/") + name;
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

bool writeAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QImage reference()
{
    return QImage(dataFile(QStringLiteral("reference.png"))).convertToFormat(QImage::Format_RGB888);
}

// A decoded block as an RGB image, through its colour table when indexed.
QImage toImage(HDIB dib)
{
    const imglib::DibView view(dib);
    if (!view.Valid() || (view.Bits() != 8 && view.Bits() != 24))
        return {};
    QImage image(view.Width(), view.Height(), QImage::Format_RGB888);
    for (int y = 0; y < view.Height(); ++y) {
        const uint8_t* row = view.Row(y);
        uchar* out = image.scanLine(y);
        for (int x = 0; x < view.Width(); ++x) {
            if (view.Bits() == 24) {
                out[3 * x] = row[3 * x + 2];
                out[3 * x + 1] = row[3 * x + 1];
                out[3 * x + 2] = row[3 * x];
            } else {
                const imglib::RgbQuad q = view.Palette()[row[x]];
                out[3 * x] = q.red;
                out[3 * x + 1] = q.green;
                out[3 * x + 2] = q.blue;
            }
        }
    }
    return image;
}

double meanDifference(const QImage& a, const QImage& b)
{
    const QImage x = a.convertToFormat(QImage::Format_RGB888);
    const QImage y = b.convertToFormat(QImage::Format_RGB888);
    if (x.size() != y.size())
        return 1e9;
    double sum = 0;
    for (int row = 0; row < x.height(); ++row) {
        for (int i = 0; i < x.width() * 3; ++i)
            sum += std::abs(int(x.constScanLine(row)[i]) - int(y.constScanLine(row)[i]));
    }
    return sum / (double(x.width()) * x.height() * 3);
}

int cornerDifference(const QImage& a, const QImage& b)
{
    if (a.size() != b.size())
        return 1000;
    int worst = 0;
    const int w = a.width() - 3, h = a.height() - 3;
    for (const QPoint p : {QPoint(2, 2), QPoint(w, 2), QPoint(2, h), QPoint(w, h)}) {
        const QRgb u = a.pixel(p), v = b.pixel(p);
        worst = std::max({worst, std::abs(qRed(u) - qRed(v)), std::abs(qGreen(u) - qGreen(v)),
                          std::abs(qBlue(u) - qBlue(v))});
    }
    return worst;
}

// Whatever the module prints to stderr while the object lives.
class StderrCapture {
public:
    StderrCapture()
    {
        std::fflush(stderr);
        m_saved = ::dup(2);
        m_file = std::tmpfile();
        ::dup2(::fileno(m_file), 2);
    }
    ~StderrCapture()
    {
        Restore();
        std::fclose(m_file);
    }
    QByteArray Text()
    {
        Restore();
        std::rewind(m_file);
        QByteArray text;
        char buffer[256];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, m_file)) > 0)
            text.append(buffer, qsizetype(n));
        return text;
    }

private:
    void Restore()
    {
        if (m_saved < 0)
            return;
        std::fflush(stderr);
        ::dup2(m_saved, 2);
        ::close(m_saved);
        m_saved = -1;
    }
    int m_saved = -1;
    std::FILE* m_file = nullptr;
};

// The flat quadrants of the reference, for blocks built here.
const std::array<QRgb, 4> kQuadrants = {qRgb(0xe0, 0x10, 0x10), qRgb(0x10, 0xc0, 0x20), qRgb(0x10, 0x20, 0xe0),
                                        qRgb(0xf0, 0xe0, 0x20)};

int quadrantAt(int x, int y, int width, int height)
{
    return (y >= height / 2 ? 2 : 0) + (x >= width / 2 ? 1 : 0);
}

// A block of the given depth showing the quadrants (two halves for 1 bit),
// and the picture it shows.
HDIB makeBlock(int bits, int width, int height, bool topDown, QImage& shows)
{
    const int colours = bits <= 8 ? 4 : 0;
    HDIB dib = imglib::CreateDib(width, height, bits, bits == 1 ? 2 : colours);
    shows = QImage(width, height, QImage::Format_RGB888);
    if (topDown) {
        const imglib::DibView view(dib);
        view.Header().biHeight = -height;
    }
    const imglib::DibView v(dib);
    for (int i = 0; i < std::min(v.Colours(), 4); ++i)
        v.Palette()[i] = {uchar(qBlue(kQuadrants[i])), uchar(qGreen(kQuadrants[i])), uchar(qRed(kQuadrants[i])), 0};
    for (int y = 0; y < height; ++y) {
        uint8_t* row = v.Row(y);
        for (int x = 0; x < width; ++x) {
            int q = quadrantAt(x, y, width, height);
            if (bits == 1)
                q = q / 2;
            QRgb c = kQuadrants[q];
            switch (bits) {
            case 1:
                row[x / 8] |= uint8_t(q << (7 - x % 8));
                break;
            case 4:
                row[x / 2] |= uint8_t(x % 2 ? q : q << 4);
                break;
            case 8:
                row[x] = uint8_t(q);
                break;
            case 16: {
                const int r = qRed(c) >> 3, g = qGreen(c) >> 3, b = qBlue(c) >> 3;
                const int v16 = r << 10 | g << 5 | b;
                row[2 * x] = uint8_t(v16);
                row[2 * x + 1] = uint8_t(v16 >> 8);
                c = qRgb(r << 3 | r >> 2, g << 3 | g >> 2, b << 3 | b >> 2);
                break;
            }
            default: {
                const int bpp = bits / 8;
                row[bpp * x] = uint8_t(qBlue(c));
                row[bpp * x + 1] = uint8_t(qGreen(c));
                row[bpp * x + 2] = uint8_t(qRed(c));
                if (bpp == 4)
                    row[bpp * x + 3] = 0x5a;  // ignored
            }
            }
            shows.setPixel(x, y, c);
        }
    }
    return dib;
}

// A 24-bit block of smooth noise: compresses like a photograph.
HDIB makeTextured(int width, int height)
{
    HDIB dib = imglib::CreateDib(width, height, 24);
    const imglib::DibView view(dib);
    uint32_t state = 12345;
    for (int y = 0; y < height; ++y) {
        uint8_t* row = view.Row(y);
        for (int x = 0; x < width * 3; ++x) {
            state = state * 1664525u + 1013904223u;
            row[x] = uint8_t((x * 7 + y * 3) / 4 + (state >> 28));
        }
    }
    return dib;
}

struct Segment {
    int marker;
    QByteArray body;
};

// The marker segments before the scan; empty when the structure is broken.
std::vector<Segment> headerSegments(const QByteArray& jpeg)
{
    std::vector<Segment> segments;
    if (jpeg.size() < 4 || uchar(jpeg[0]) != 0xFF || uchar(jpeg[1]) != 0xD8)
        return {};
    qsizetype at = 2;
    while (at + 4 <= jpeg.size()) {
        if (uchar(jpeg[at]) != 0xFF)
            return {};
        const int marker = uchar(jpeg[at + 1]);
        const int length = uchar(jpeg[at + 2]) << 8 | uchar(jpeg[at + 3]);
        if (length < 2 || at + 2 + length > jpeg.size())
            return {};
        segments.push_back({marker, jpeg.mid(at + 4, length - 2)});
        if (marker == 0xDA)
            return segments;
        at += 2 + length;
    }
    return {};
}

int frameComponents(const QByteArray& jpeg)
{
    for (const Segment& s : headerSegments(jpeg)) {
        if (s.marker >= 0xC0 && s.marker <= 0xC2 && s.body.size() >= 6)
            return uchar(s.body[5]);
    }
    return 0;
}

// A file written straight with libjpeg: `scans` 0 is baseline, 1 the
// standard progression, 2 one scan per coefficient of each component. Sharp
// stripes at 4:4:4, or with `photo` smooth colour at 4:2:0 like a camera's.
QByteArray encodeDirect(int width, int height, int scans, bool photo = false)
{
    jpeg_compress_struct c{};
    jpeg_error_mgr errors{};
    c.err = jpeg_std_error(&errors);
    jpeg_create_compress(&c);
    unsigned char* buffer = nullptr;
    unsigned long length = 0;
    jpeg_mem_dest(&c, &buffer, &length);
    c.image_width = JDIMENSION(width);
    c.image_height = JDIMENSION(height);
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    for (int i = 0; i < 3 && !photo; ++i)
        c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
    std::vector<jpeg_scan_info> script;
    if (scans == 1) {
        jpeg_simple_progression(&c);
    } else if (scans == 2) {
        script.push_back({3, {0, 1, 2, 0}, 0, 0, 0, 0});
        for (int comp = 0; comp < 3; ++comp) {
            for (int k = 1; k < 64; ++k)
                script.push_back({1, {comp, 0, 0, 0}, k, k, 0, 0});
        }
        c.scan_info = script.data();
        c.num_scans = int(script.size());
    }
    jpeg_start_compress(&c, TRUE);
    std::vector<uint8_t> row(size_t(width) * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width * 3 && !photo; ++x)
            row[size_t(x)] = uint8_t(x * 5 + y * 3);
        for (int x = 0; x < width && photo; ++x) {
            row[size_t(3 * x)] = uint8_t(x * 255 / width);
            row[size_t(3 * x + 1)] = uint8_t(y * 255 / height);
            row[size_t(3 * x + 2)] = uint8_t(128 + 100 * std::sin(x / 40.0) * std::cos(y / 30.0));
        }
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    QByteArray bytes(reinterpret_cast<const char*>(buffer), qsizetype(length));
    std::free(buffer);
    jpeg_destroy_compress(&c);
    return bytes;
}

// The frame's height and width patched to new values.
QByteArray withFrameSize(QByteArray jpeg, int width, int height)
{
    for (qsizetype i = 2; i + 9 < jpeg.size(); ++i) {
        const uchar m = uchar(jpeg[i + 1]);
        if (uchar(jpeg[i]) == 0xFF && (m == 0xC0 || m == 0xC2)) {
            jpeg[i + 5] = char(height >> 8);
            jpeg[i + 6] = char(height);
            jpeg[i + 7] = char(width >> 8);
            jpeg[i + 8] = char(width);
            break;
        }
    }
    return jpeg;
}

// The file with an APP1 block of `exif` (the bytes after "Exif\0\0") after SOI.
QByteArray withExif(const QByteArray& jpeg, const QByteArray& exif)
{
    const QByteArray block = QByteArray("Exif\0\0", 6) + exif;
    const int length = int(block.size()) + 2;
    return jpeg.left(2) + QByteArray("\xFF\xE1", 2) + char(length >> 8) + char(length) + block + jpeg.mid(2);
}

// A big-endian IFD0 holding only the orientation.
QByteArray orientationExif(int orientation)
{
    return QByteArray("MM\x00\x2a\x00\x00\x00\x08\x00\x01\x01\x12\x00\x03\x00\x00\x00\x01\x00", 19) +
           char(orientation) + QByteArray(6, '\0');
}

// What a viewer shows for a stored picture and its EXIF orientation.
QImage shownFor(const QImage& stored, int orientation)
{
    switch (orientation) {
    case 2:
        return stored.mirrored(true, false);
    case 3:
        return stored.mirrored(true, true);
    case 4:
        return stored.mirrored(false, true);
    case 5:
        return stored.transformed(QTransform().rotate(90)).mirrored(true, false);
    case 6:
        return stored.transformed(QTransform().rotate(90));
    case 7:
        return stored.transformed(QTransform().rotate(90)).mirrored(false, true);
    case 8:
        return stored.transformed(QTransform().rotate(270));
    default:
        return stored;
    }
}

struct Recorder {
    std::vector<int> percents;
    int stopAt = 1000;
    static int Call(int percent, void* self)
    {
        auto* r = static_cast<Recorder*>(self);
        r->percents.push_back(percent);
        return percent >= r->stopAt ? 0 : 1;
    }
};

QStringList filesIn(const QString& dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System);
}

}  // namespace

class JpegTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void readsUpright_data();
    void readsUpright();
    void readsGrey();
    void turnsEveryOrientation_data();
    void turnsEveryOrientation();
    void reportsProgressAndCancels();
    void readsReducedWhenAsked();
    void refusesBadInput_data();
    void refusesBadInput();
    void limitsScansAndMemory();
    void readsOrientationDefensively_data();
    void readsOrientationDefensively();
    void writesWhatQtReadsBack_data();
    void writesWhatQtReadsBack();
    void writesNoMetadata();
    void writesGreyQualityAndRefusals();
    void writesFileAtomically();
    void streamsRowsBothWays();
};

void JpegTest::readsUpright_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("orientation");
    QTest::addColumn<QString>("compression");
    QTest::newRow("baseline") << "baseline-q98.jpg" << 0 << "JPEG";
    QTest::newRow("progressive") << "progressive.jpg" << 0 << "Progressive JPEG";
    QTest::newRow("cmyk") << "cmyk.jpg" << 0 << "JPEG";
    for (int n = 1; n <= 8; ++n)
        QTest::addRow("orientation %d", n) << QString("orientation-%1.jpg").arg(n) << n << "JPEG";
}

// Every file shows the reference upright, and fileinfo tells the upright size.
void JpegTest::readsUpright()
{
    QFETCH(QString, file);
    QFETCH(int, orientation);
    QFETCH(QString, compression);
    const QByteArray name = dataFile(file).toLocal8Bit();

    char format[IL_FORMAT_NAME_SIZE] = {};
    char method[IL_COMPRESSION_NAME_SIZE] = {};
    int32_t width = 0, height = 0;
    int16_t bits = 0, pages = 0, tag = -1;
    QCOMPARE(fileinfo(name.constData(), format, &width, &height, &bits, &pages, &tag, method, 0), int16_t(1));
    QCOMPARE(QByteArray(format), QByteArray("JPEG"));
    QCOMPARE(width, 48);
    QCOMPARE(height, 32);
    QCOMPARE(bits, int16_t(24));
    QCOMPARE(pages, int16_t(1));
    QCOMPARE(int(tag), orientation);
    QCOMPARE(QString(method), compression);

    HDIB dib = nullptr;
    QCOMPARE(rdjpgfiledib(name.constData(), 24, 1, 0, &dib, nullptr, nullptr, nullptr, 0), int16_t(1));
    const QImage image = toImage(dib);
    GlobalFree(dib);
    QCOMPARE(image.size(), QSize(48, 32));
    const double mean = meanDifference(image, reference());
    QVERIFY2(mean <= kMeanTolerance, qPrintable(QString::number(mean)));
    QVERIFY2(cornerDifference(image, reference()) <= kCornerTolerance,
             qPrintable(QString::number(cornerDifference(image, reference()))));
}

void JpegTest::readsGrey()
{
    const QByteArray name = dataFile("grey.jpg").toLocal8Bit();
    int32_t width = 0, height = 0;
    int16_t bits = 0;
    QCOMPARE(fileinfo(name.constData(), nullptr, &width, &height, &bits, nullptr, nullptr, nullptr, 0), int16_t(1));
    QCOMPARE(bits, int16_t(8));

    OwnedBlock dib;
    QCOMPARE(rdjpgfiledib(name.constData(), 8, 1, 0, dib.Receive(), nullptr, nullptr, nullptr, 0), int16_t(1));
    {
        const imglib::DibView view(dib.Get());
        QVERIFY(view.Valid());
        QCOMPARE(view.Bits(), 8);
        QCOMPARE(view.Colours(), 256);
        for (int i = 0; i < 256; ++i) {
            const imglib::RgbQuad q = view.Palette()[i];
            QVERIFY(q.red == i && q.green == i && q.blue == i);
        }
    }
    const QImage image = toImage(dib.Get());
    const QImage grey(dataFile("grey-reference.png"));
    const double mean = meanDifference(image, grey);
    QVERIFY2(mean <= kMeanTolerance, qPrintable(QString::number(mean)));
    QVERIFY(cornerDifference(image, grey) <= kCornerTolerance);
}

void JpegTest::turnsEveryOrientation_data()
{
    QTest::addColumn<bool>("grey");
    QTest::newRow("colour") << false;
    QTest::newRow("grey") << true;
}

// Odd sizes, so that every block row is padded, in colour and grey: each
// orientation gives exactly what Qt's turns of the untagged decode give.
void JpegTest::turnsEveryOrientation()
{
    QFETCH(bool, grey);
    HDIB source = makeTextured(37, 23);
    std::string out;
    QCOMPARE(crde::WriteJpeg(source, 100, 1, grey, {}, out), int16_t(1));
    GlobalFree(source);
    const QByteArray jpeg = QByteArray::fromStdString(out);
    OwnedBlock dib;
    QCOMPARE(crde::ReadJpeg(reinterpret_cast<const uint8_t*>(jpeg.constData()), size_t(jpeg.size()), {}, dib.Receive()),
             int16_t(1));
    const QImage stored = toImage(dib.Get());
    QVERIFY(meanDifference(stored, QImage::fromData(jpeg, "JPEG")) <= kMeanTolerance);
    for (int n = 1; n <= 8; ++n) {
        const QByteArray tagged = withExif(jpeg, orientationExif(n));
        QCOMPARE(crde::ReadJpeg(reinterpret_cast<const uint8_t*>(tagged.constData()), size_t(tagged.size()), {},
                                dib.Receive()),
                 int16_t(1));
        {
            const imglib::DibView view(dib.Get());
            QCOMPARE(view.Bits(), grey ? 8 : 24);
        }
        const QImage shown = toImage(dib.Get());
        QVERIFY2(shown == shownFor(stored, n), qPrintable(QString("orientation %1").arg(n)));
    }
}

void JpegTest::reportsProgressAndCancels()
{
    const QByteArray jpeg = encodeDirect(64, 256, 1);
    const auto* data = reinterpret_cast<const uint8_t*>(jpeg.constData());

    Recorder all;
    HDIB dib = nullptr;
    QCOMPARE(crde::ReadJpeg(data, size_t(jpeg.size()), crde::Progress{&all, Recorder::Call}, &dib), int16_t(1));
    QVERIFY(dib);
    GlobalFree(dib);
    QVERIFY(all.percents.size() >= 5);
    QVERIFY(std::is_sorted(all.percents.begin(), all.percents.end()));
    QCOMPARE(all.percents.front() >= 0, true);
    QCOMPARE(all.percents.back(), 100);

    for (const int stopAt : {0, 50, 100}) {
        Recorder stop;
        stop.stopAt = stopAt;
        dib = reinterpret_cast<HDIB>(&stop);
        QCOMPARE(crde::ReadJpeg(data, size_t(jpeg.size()), crde::Progress{&stop, Recorder::Call}, &dib),
                 int16_t(IL_ERR_CANCELLED));
        QVERIFY(dib == nullptr);
        QCOMPARE(stop.percents.back() >= stopAt, true);
    }
}

// Asked for a size, the reader reduces by the largest of 8, 4 and 2 that
// keeps it, upright; a progressive file, whose coefficients live in the
// reader's own buffers, reads exactly like the baseline file of the same
// picture at every scale.
void JpegTest::readsReducedWhenAsked()
{
    const QByteArray baseline = encodeDirect(403, 241, 0, true);
    const QByteArray progressive = encodeDirect(403, 241, 1, true);
    const auto read = [](const QByteArray& jpeg, int width, int height) {
        HDIB dib = nullptr;
        const int16_t result = crde::ReadJpeg(reinterpret_cast<const uint8_t*>(jpeg.constData()),
                                              size_t(jpeg.size()), {}, &dib, width, height);
        const QImage image = result == 1 ? toImage(dib) : QImage();
        GlobalFree(dib);
        return image;
    };
    const QImage full = read(baseline, 0, 0);
    QCOMPARE(full.size(), QSize(403, 241));
    const struct {
        int width, height;
        QSize expected;
    } cases[] = {
        {51, 31, {51, 31}},    {52, 31, {101, 61}},   {51, 32, {101, 61}},   {101, 61, {101, 61}},
        {102, 61, {202, 121}}, {202, 122, {403, 241}}, {5000, 5000, {403, 241}}, {0, 0, {403, 241}},
    };
    for (const auto& c : cases) {
        const QString label = QString("at least %1 x %2").arg(c.width).arg(c.height);
        const QImage ours = read(baseline, c.width, c.height);
        QCOMPARE(ours.size(), c.expected);
        QVERIFY2(ours == read(progressive, c.width, c.height), qPrintable(label));
        // What the inverse DCT at 1/k approximates: averages of k x k boxes.
        const int k = (403 + c.expected.width() - 1) / c.expected.width();
        QImage expected(c.expected, QImage::Format_RGB32);
        for (int y = 0; y < expected.height(); ++y) {
            for (int x = 0; x < expected.width(); ++x) {
                int sum[3] = {0, 0, 0}, n = 0;
                for (int v = y * k; v < std::min((y + 1) * k, full.height()); ++v) {
                    for (int u = x * k; u < std::min((x + 1) * k, full.width()); ++u, ++n) {
                        const QRgb p = full.pixel(u, v);
                        sum[0] += qRed(p);
                        sum[1] += qGreen(p);
                        sum[2] += qBlue(p);
                    }
                }
                expected.setPixel(x, y, qRgb((sum[0] + n / 2) / n, (sum[1] + n / 2) / n, (sum[2] + n / 2) / n));
            }
        }
        const double mean = meanDifference(ours, expected);
        QVERIFY2(mean <= 3.0, qPrintable(label + QString(": mean difference %1").arg(mean)));
    }

    // Turned a quarter by its EXIF tag: the size asked is the upright one.
    const QByteArray turned = withExif(baseline, orientationExif(6));
    QCOMPARE(read(turned, 31, 51).size(), QSize(31, 51));
    QCOMPARE(read(turned, 51, 31).size(), QSize(61, 101));
    QVERIFY(read(turned, 31, 51) == shownFor(read(baseline, 51, 31), 6));

    // The entry: a 24-bit block, grey files included.
    QTemporaryDir dir;
    const QString path = dir.filePath("photo.jpg");
    QVERIFY(writeAll(path, progressive));
    const std::pair<QString, QSize> files[] = {{path, {51, 31}}, {dataFile("grey.jpg"), {6, 4}}};
    for (const auto& [file, size] : files) {
        OwnedBlock dib;
        QCOMPARE(rdjpgfiledibatleast(file.toLocal8Bit().constData(), 6, 4, dib.Receive(), nullptr, nullptr, 0),
                 int16_t(1));
        const imglib::DibView view(dib.Get());
        QCOMPARE(view.Bits(), 24);
        QCOMPARE(QSize(view.Width(), view.Height()), size);
    }
    HDIB dib = reinterpret_cast<HDIB>(&dir);
    QCOMPARE(rdjpgfiledibatleast(dir.filePath("missing.jpg").toLocal8Bit().constData(), 6, 4, &dib, nullptr,
                                 nullptr, 0),
             int16_t(IL_ERR_OPEN));
    QVERIFY(dib == nullptr);
}

void JpegTest::refusesBadInput_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("expected");
    const QByteArray baseline = readAll(dataFile("baseline-q98.jpg"));
    QTest::newRow("truncated") << readAll(dataFile("truncated.jpg")) << int(IL_ERR_CORRUPT);
    QTest::newRow("garbage inside") << readAll(dataFile("garbage-inside.jpg")) << int(IL_ERR_CORRUPT);
    QTest::newRow("cut in header") << baseline.left(100) << int(IL_ERR_CORRUPT);
    QTest::newRow("only SOI") << QByteArray("\xFF\xD8\xFF", 3) << int(IL_ERR_CORRUPT);
    QTest::newRow("empty") << QByteArray() << int(IL_ERR_FORMAT);
    QTest::newRow("not JPEG") << QByteArray(300, '\x5a') << int(IL_ERR_FORMAT);
    QTest::newRow("65000x65000") << readAll(dataFile("header-65000x65000.jpg")) << int(IL_ERR_TOO_LARGE);
}

// Failure numbers through the entry, no block, nothing printed.
void JpegTest::refusesBadInput()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, expected);
    QTemporaryDir dir;
    const QString path = dir.filePath("input.jpg");
    QVERIFY(writeAll(path, bytes));

    StderrCapture capture;
    HDIB dib = reinterpret_cast<HDIB>(&dir);
    const int16_t result = rdjpgfiledib(path.toLocal8Bit().constData(), 24, 1, 0, &dib, nullptr, nullptr, nullptr, 0);
    const QByteArray printed = capture.Text();
    QCOMPARE(int(result), expected);
    QVERIFY(dib == nullptr);
    QVERIFY2(printed.isEmpty(), printed.constData());
}

// A legal but absurd progression, and a frame whose coefficients would need
// more memory than the decoder allows, fail quickly.
void JpegTest::limitsScansAndMemory()
{
    const QByteArray standard = encodeDirect(32, 32, 1);
    const QByteArray absurd = encodeDirect(32, 32, 2);
    QVERIFY(headerSegments(absurd).size() > 0);
    HDIB dib = nullptr;
    QCOMPARE(crde::ReadJpeg(reinterpret_cast<const uint8_t*>(standard.constData()), size_t(standard.size()), {}, &dib),
             int16_t(1));
    GlobalFree(dib);
    QCOMPARE(crde::ReadJpeg(reinterpret_cast<const uint8_t*>(absurd.constData()), size_t(absurd.size()), {}, &dib),
             int16_t(IL_ERR_CORRUPT));
    QVERIFY(dib == nullptr);

    // 18000 x 18000 is within the pixel limit, but a progressive 4:4:4 file
    // keeps about 1.9 GB of coefficients.
    const QByteArray huge = withFrameSize(standard, 18000, 18000);
    crde::ImageInfo info;
    QCOMPARE(crde::InfoJpeg(reinterpret_cast<const uint8_t*>(huge.constData()), size_t(huge.size()), info), int16_t(1));
    QCOMPARE(info.width, 18000);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(crde::ReadJpeg(reinterpret_cast<const uint8_t*>(huge.constData()), size_t(huge.size()), {}, &dib),
             int16_t(IL_ERR_TOO_LARGE));
    QVERIFY(dib == nullptr);
    QVERIFY(timer.elapsed() < 5000);
}

void JpegTest::readsOrientationDefensively_data()
{
    QTest::addColumn<QByteArray>("tiff");
    QTest::addColumn<int>("expected");
    // Little- and big-endian IFD0 with one entry: tag, type, count, value.
    const QByteArray ii("II\x2a\x00\x08\x00\x00\x00\x01\x00\x12\x01\x03\x00\x01\x00\x00\x00\x06\x00\x00\x00"
                        "\x00\x00\x00\x00", 26);
    const QByteArray mm("MM\x00\x2a\x00\x00\x00\x08\x00\x01\x01\x12\x00\x03\x00\x00\x00\x01\x00\x03\x00\x00"
                        "\x00\x00\x00\x00", 26);
    QTest::newRow("little-endian") << ii << 6;
    QTest::newRow("big-endian") << mm << 3;
    // ii with bytes changed: offset and value pairs; none of these has an orientation.
    const auto broken = [&ii](const char* name, std::initializer_list<std::pair<int, char>> pokes) {
        QByteArray bytes = ii;
        for (const auto& [at, value] : pokes)
            bytes[at] = value;
        QTest::newRow(name) << bytes << 0;
    };
    broken("no orientation tag", {{10, '\x13'}});  // another tag
    broken("value 9", {{18, '\x09'}});
    broken("wrong type", {{12, '\x02'}});
    broken("IFD past the block", {{4, '\x30'}});
    broken("entries past the block", {{8, '\x40'}, {10, '\x13'}});
    broken("offset near 4 GB", {{7, '\xff'}});
    QTest::newRow("cut header") << ii.left(6) << 0;
    broken("bad byte order", {{1, 'M'}});
}

// The orientation inside whatever an APP1 block holds, never read past it.
void JpegTest::readsOrientationDefensively()
{
    QFETCH(QByteArray, tiff);
    QFETCH(int, expected);
    const QByteArray jpeg = withExif(readAll(dataFile("baseline-q98.jpg")), tiff);
    crde::ImageInfo info;
    QCOMPARE(crde::InfoJpeg(reinterpret_cast<const uint8_t*>(jpeg.constData()), size_t(jpeg.size()), info), int16_t(1));
    QCOMPARE(int(info.orientation), expected);
    QCOMPARE(info.width, expected >= 5 ? 32 : 48);
}

void JpegTest::writesWhatQtReadsBack_data()
{
    QTest::addColumn<int>("bits");
    QTest::addColumn<bool>("topDown");
    for (const int bits : {1, 4, 8, 16, 24, 32})
        QTest::addRow("%d-bit", bits) << bits << false;
    QTest::newRow("24-bit top-down") << 24 << true;
}

void JpegTest::writesWhatQtReadsBack()
{
    QFETCH(int, bits);
    QFETCH(bool, topDown);
    QImage shows;
    HDIB dib = makeBlock(bits, 64, 48, topDown, shows);
    QVERIFY(dib);
    std::string out;
    QCOMPARE(crde::WriteJpeg(dib, 95, 1, false, {}, out), int16_t(1));
    GlobalFree(dib);
    const QImage back = QImage::fromData(reinterpret_cast<const uchar*>(out.data()), int(out.size()), "JPEG");
    QCOMPARE(back.size(), QSize(64, 48));
    QCOMPARE(frameComponents(QByteArray::fromStdString(out)), 3);
    const double mean = meanDifference(back, shows);
    QVERIFY2(mean <= kWrittenMeanTolerance, qPrintable(QString::number(mean)));
    QVERIFY2(cornerDifference(back, shows) <= kCornerTolerance, qPrintable(QString::number(cornerDifference(back, shows))));
}

// Only what decoding needs: no APPn, no comment; a baseline frame.
void JpegTest::writesNoMetadata()
{
    QImage shows;
    HDIB dib = makeBlock(24, 40, 30, false, shows);
    for (const bool grey : {false, true}) {
        std::string out;
        QCOMPARE(crde::WriteJpeg(dib, 80, 10, grey, {}, out), int16_t(1));
        const QByteArray jpeg = QByteArray::fromStdString(out);
        const std::vector<Segment> segments = headerSegments(jpeg);
        QVERIFY(!segments.empty());
        QList<int> markers;
        for (const Segment& s : segments)
            markers << s.marker;
        QVERIFY(markers.contains(0xC0));
        QVERIFY(markers.contains(0xDB));
        QVERIFY(markers.contains(0xC4));
        for (const int m : markers)
            QVERIFY2(m < 0xE0 && m != 0xFE, qPrintable(QString::number(m, 16)));
        QVERIFY(jpeg.endsWith("\xFF\xD9"));
    }
    GlobalFree(dib);
}

void JpegTest::writesGreyQualityAndRefusals()
{
    QImage shows;
    HDIB dib = makeBlock(24, 64, 48, false, shows);
    std::string out;
    QCOMPARE(crde::WriteJpeg(dib, 90, 1, true, {}, out), int16_t(1));
    const QByteArray grey = QByteArray::fromStdString(out);
    QCOMPARE(frameComponents(grey), 1);
    const QImage back = QImage::fromData(grey, "JPEG");
    QCOMPARE(back.format(), QImage::Format_Grayscale8);
    QImage luma(shows.size(), QImage::Format_Grayscale8);
    for (int y = 0; y < shows.height(); ++y) {
        for (int x = 0; x < shows.width(); ++x) {
            const QRgb c = shows.pixel(x, y);
            luma.scanLine(y)[x] = uchar(std::lround(0.299 * qRed(c) + 0.587 * qGreen(c) + 0.114 * qBlue(c)));
        }
    }
    const double mean = meanDifference(back, luma);
    QVERIFY2(mean <= kMeanTolerance, qPrintable(QString::number(mean)));
    GlobalFree(dib);

    HDIB textured = makeTextured(128, 128);
    std::array<size_t, 3> sizes{};
    const std::array<int, 3> qualities = {10, 50, 95};
    for (size_t i = 0; i < sizes.size(); ++i) {
        QCOMPARE(crde::WriteJpeg(textured, qualities[i], 1, false, {}, out), int16_t(1));
        sizes[i] = out.size();
    }
    QVERIFY(sizes[0] < sizes[1] && sizes[1] < sizes[2]);

    // Refusals: no block, bad figures, a run-length block.
    QCOMPARE(crde::WriteJpeg(nullptr, 80, 1, false, {}, out), int16_t(IL_ERR_ARGUMENT));
    QCOMPARE(crde::WriteJpeg(textured, 0, 1, false, {}, out), int16_t(IL_ERR_ARGUMENT));
    QCOMPARE(crde::WriteJpeg(textured, 101, 1, false, {}, out), int16_t(IL_ERR_ARGUMENT));
    QCOMPARE(crde::WriteJpeg(textured, 80, 101, false, {}, out), int16_t(IL_ERR_ARGUMENT));
    QCOMPARE(crde::WriteJpeg(textured, 80, -1, false, {}, out), int16_t(IL_ERR_ARGUMENT));
    QVERIFY(out.empty());
    // Smoothing 0 is none: what a control that never set it asks for.
    QCOMPARE(crde::WriteJpeg(textured, 80, 0, false, {}, out), int16_t(1));
    QVERIFY(!out.empty());
    out.clear();
    {
        const imglib::DibView view(textured);
        view.Header().biCompression = 1;
    }
    QCOMPARE(crde::WriteJpeg(textured, 80, 1, false, {}, out), int16_t(IL_ERR_ARGUMENT));
    GlobalFree(textured);
}

void JpegTest::writesFileAtomically()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("photo.jpg");
    const QByteArray name = path.toLocal8Bit();
    HDIB dib = makeTextured(200, 150);

    // An existing file is replaced, not rewritten in place: a second link to
    // the old file keeps the old bytes.
    QVERIFY(writeAll(path, "old bytes"));
    QVERIFY(::link(name.constData(), dir.filePath("old-link").toLocal8Bit().constData()) == 0);
    QCOMPARE(wrjpgfiledib(name.constData(), 85, 1, 24, dib, nullptr, nullptr, 0), int16_t(1));
    QCOMPARE(readAll(dir.filePath("old-link")), QByteArray("old bytes"));
    const QImage written(path, "JPEG");
    QCOMPARE(written.size(), QSize(200, 150));
    QCOMPARE(filesIn(dir.path()), QStringList({"old-link", "photo.jpg"}));
    QVERIFY(QFile::remove(dir.filePath("old-link")));

    // Cancelled at once or halfway: the old file stays, nothing else is left.
    const QByteArray before = readAll(path);
    for (const int stopAt : {0, 50, 100}) {
        Recorder stop;
        stop.stopAt = stopAt;
        QCOMPARE(wrjpgfiledib(name.constData(), 85, 1, 1, dib, &stop, Recorder::Call, 0), int16_t(IL_ERR_CANCELLED));
        QCOMPARE(readAll(path), before);
        QCOMPARE(filesIn(dir.path()), QStringList({"photo.jpg"}));
    }
    const QString fresh = dir.filePath("never.jpg");
    Recorder stop;
    stop.stopAt = 0;
    QCOMPARE(wrjpgfiledib(fresh.toLocal8Bit().constData(), 85, 1, 24, dib, &stop, Recorder::Call, 0),
             int16_t(IL_ERR_CANCELLED));
    QVERIFY(!QFile::exists(fresh));

    // Grey through the entry, then refusals of the entry's own figures.
    QCOMPARE(wrjpgfiledib(name.constData(), 85, 1, 1, dib, nullptr, nullptr, 0), int16_t(1));
    QCOMPARE(frameComponents(readAll(path)), 1);
    QCOMPARE(wrjpgfiledib(name.constData(), 85, 1, 8, dib, nullptr, nullptr, 0), int16_t(IL_ERR_ARGUMENT));
    QCOMPARE(wrjpgfiledib(name.constData(), 85, 1, 24, nullptr, nullptr, nullptr, 0), int16_t(IL_ERR_ARGUMENT));
    QCOMPARE(filesIn(dir.path()), QStringList({"photo.jpg"}));
    GlobalFree(dib);
}

namespace {

// What a row reader hands on; asks it to stop once it holds `stopAfter`
// rows (0: never).
struct Rows {
    std::vector<QByteArray> rows;
    QSize size;
    size_t stopAfter = 0;
    static int Take(const uint8_t* const* rows, int32_t count, int32_t width, int32_t height, void* data)
    {
        auto* self = static_cast<Rows*>(data);
        self->size = QSize(width, height);
        for (int32_t k = 0; k < count; ++k)
            self->rows.emplace_back(reinterpret_cast<const char*>(rows[k]), width * 3);
        return self->stopAfter == 0 || self->rows.size() < self->stopAfter ? 1 : 0;
    }
};

}  // namespace

// Rows handed out while decoding are the rows of the reduced whole-picture
// read; files that cannot be read so are refused before a row; a stop or a
// damaged middle ends it with an error. The row writer makes the same bytes
// as the block writer and writes nothing unless kept with every row in.
void JpegTest::streamsRowsBothWays()
{
    const QByteArray baseline = encodeDirect(403, 241, 0, true);
    const auto read = [](const QByteArray& jpeg, int width, int height, Rows& got, const crde::Progress& progress) {
        return crde::ReadJpegRows(reinterpret_cast<const uint8_t*>(jpeg.constData()), size_t(jpeg.size()), progress,
                                  width, height, Rows::Take, &got);
    };
    const std::tuple<QByteArray, int, int> whole[] = {
        {baseline, 101, 61}, {baseline, 0, 0}, {withExif(baseline, orientationExif(2)), 52, 31}};
    for (const auto& [jpeg, width, height] : whole) {
        OwnedBlock dib;
        QCOMPARE(crde::ReadJpeg(reinterpret_cast<const uint8_t*>(jpeg.constData()), size_t(jpeg.size()), {},
                                dib.Receive(), width, height),
                 int16_t(1));
        const imglib::DibView view(dib.Get());
        Rows got;
        QCOMPARE(read(jpeg, width, height, got, {}), int16_t(1));
        QCOMPARE(got.size, QSize(view.Width(), view.Height()));
        QCOMPARE(int(got.rows.size()), view.Height());
        for (int y = 0; y < view.Height(); ++y)
            QVERIFY(got.rows[size_t(y)] == QByteArray(reinterpret_cast<const char*>(view.Row(y)), view.Width() * 3));
    }

    // Several scans, turned, grey: refused before a row. Stopped by the
    // sink after 20 rows, by progress, and damaged halfway: an error.
    Recorder recorder;
    recorder.stopAt = 50;
    const std::tuple<QByteArray, size_t, crde::Progress, int16_t> ends[] = {
        {encodeDirect(403, 241, 1, true), 0, {}, IL_ERR_UNSUPPORTED},
        {withExif(baseline, orientationExif(6)), 0, {}, IL_ERR_UNSUPPORTED},
        {readAll(dataFile("grey.jpg")), 0, {}, IL_ERR_UNSUPPORTED},
        {baseline, 20, {}, IL_ERR_CANCELLED},
        {baseline, 0, {&recorder, Recorder::Call}, IL_ERR_CANCELLED},
        {baseline.left(baseline.size() * 2 / 3), 0, {}, IL_ERR_CORRUPT}};
    for (const auto& [jpeg, stopAfter, progress, result] : ends) {
        Rows got;
        got.stopAfter = stopAfter;
        QCOMPARE(read(jpeg, 101, 61, got, progress), result);
        QVERIFY(got.rows.size() >= stopAfter && got.rows.size() < (result == IL_ERR_UNSUPPORTED ? 1u : 61u));
    }

    // The writer, discarded, short of rows, and kept.
    QTemporaryDir dir;
    const OwnedBlock dib(makeTextured(200, 150));
    std::string bytes;
    QCOMPARE(crde::WriteJpeg(dib.Get(), 90, 5, false, {}, bytes), int16_t(1));
    const imglib::DibView view(dib.Get());
    std::vector<const uint8_t*> rows;
    for (int y = 0; y < 150; ++y)
        rows.push_back(view.Row(y));
    const QByteArray name = dir.filePath("rows.jpg").toLocal8Bit();
    const std::tuple<int, int, int16_t> writes[] = {{150, 0, 1}, {1, 1, IL_ERR_ARGUMENT}, {150, 1, 1}};
    for (const auto& [count, keep, result] : writes) {
        ILJpegRows* writer = wrjpgrowsopen(name.constData(), 200, 150, 90, 5);
        for (int y = 0; y < count; y += 7)
            QCOMPARE(wrjpgrowsput(writer, rows.data() + y, std::min(7, count - y)), int16_t(1));
        QCOMPARE(wrjpgrowsclose(writer, keep), result);
        QCOMPARE(filesIn(dir.path()), result == 1 && keep ? QStringList({"rows.jpg"}) : QStringList());
    }
    QVERIFY(readAll(dir.filePath("rows.jpg")) == QByteArray(bytes.data(), qsizetype(bytes.size())));
}

QTEST_MAIN(JpegTest)
#include "jpeg_test.moc"
