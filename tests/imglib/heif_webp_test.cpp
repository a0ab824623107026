// HEIF, AVIF and WebP through the codec module's entries and the picture
// control, on files libheif's and libwebp's own encoders make here from a
// real photograph: turned as the file says, in sRGB whatever profile the
// file carries, alpha on white, an animation's first frame, photos in tiles,
// and damaged files refused.
#include "OwnedBlock.h"
#include "Dib.h"
#include "Formats.h"
#include "ImagingModules.h"
#include "TestFiles.h"
#include "imglib.h"
#include "preview/TPMultiImage.h"

#include <libheif/heif.h>
#include <lcms2.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <QColorSpace>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <cmath>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

namespace {

// 1365 × 1074: paint brushes in saturated colours.
const QString kPhoto = QStringLiteral(SNIMKOREZ_PHOTOS "/Picture_1A_by_freespace.jpg");
// Where the AVIF is transparent and the alpha WebP clear or half so, as shown.
const QRect kClearCorner(0, 0, 160, 128);
const QRect kClearBand(0, 0, 800, 100);
const QRect kHalfBand(0, 100, 800, 50);

// A 24-bit block as red, green, blue rows.
QImage ImageOf(HDIB dib)
{
    const imglib::DibView view(dib);
    if (!view.Valid() || view.Bits() != 24)
        return {};
    QImage image(view.Width(), view.Height(), QImage::Format_BGR888);
    for (int y = 0; y < view.Height(); ++y)
        std::memcpy(image.scanLine(y), view.Row(y), static_cast<size_t>(view.Width()) * 3);
    return image.convertToFormat(QImage::Format_RGB888);
}

// False when nothing was made to save, or it could not be.
bool Save(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return !bytes.isEmpty() && file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Mean CIEDE2000 between two sRGB pictures of one size, `skipped` left out.
double MeanDeltaE(const QImage& a, const QImage& b, const QRect& skipped = {})
{
    cmsHPROFILE srgb = cmsCreate_sRGBProfile(), lab = cmsCreateLab4Profile(nullptr);
    cmsHTRANSFORM toLab = cmsCreateTransform(srgb, TYPE_RGB_8, lab, TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC, 0);
    std::vector<cmsCIELab> labA(static_cast<size_t>(a.width()) * static_cast<size_t>(a.height())), labB(labA.size());
    const auto width = static_cast<cmsUInt32Number>(a.width()), height = static_cast<cmsUInt32Number>(a.height());
    cmsDoTransformLineStride(toLab, a.constBits(), labA.data(), width, height,
                             static_cast<cmsUInt32Number>(a.bytesPerLine()), width * sizeof(cmsCIELab), 0, 0);
    cmsDoTransformLineStride(toLab, b.constBits(), labB.data(), width, height,
                             static_cast<cmsUInt32Number>(b.bytesPerLine()), width * sizeof(cmsCIELab), 0, 0);
    cmsDeleteTransform(toLab);
    cmsCloseProfile(lab);
    cmsCloseProfile(srgb);
    double sum = 0;
    qint64 count = 0;
    for (size_t i = 0; i < labA.size(); ++i) {
        const bool counted = !skipped.contains(static_cast<int>(i % width), static_cast<int>(i / width));
        sum += counted ? cmsCIE2000DeltaE(&labA[i], &labB[i], 1, 1, 1) : 0;
        count += counted ? 1 : 0;
    }
    return count > 0 ? sum / static_cast<double>(count) : 1e9;
}

// An Exif item (offset to the TIFF header, the header, one directory)
// saying orientation 6, as cameras write it beside the file's rotation.
const QByteArray kExifTurned("\0\0\0\0MM\0\x2A\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\x06\0\0\0\0\0\0", 30);

// `image` (RGBA64) into `path` at `bits` a sample, full chroma: what is
// measured is the colour handling, not subsampling. With a profile it is a
// camera's photo, stored on its side and shown turned 90° clockwise by the
// file's rotation.
bool EncodeHeif(const QString& path, const QImage& image, heif_compression_format compression, int bits, bool alpha,
                const QByteArray& icc = {})
{
    heif_image* picture = nullptr;
    heif_image_create(image.width(), image.height(), heif_colorspace_RGB,
                      bits == 8 ? (alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB)
                                : (alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE),
                      &picture);
    heif_image_add_plane(picture, heif_channel_interleaved, image.width(), image.height(), bits);
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(picture, heif_channel_interleaved, &stride);
    for (int y = 0; y < image.height(); ++y) {
        const auto* in = reinterpret_cast<const quint16*>(image.constScanLine(y));
        uint8_t* out = plane + static_cast<ptrdiff_t>(stride) * y;
        for (int i = 0; i < image.width() * 4; ++i) {
            const auto value = static_cast<unsigned>(std::lround(in[i] * ((1 << bits) - 1) / 65535.0));
            for (int byte = 0; byte < (bits > 8 ? 2 : 1) && (alpha || i % 4 < 3); ++byte)
                *out++ = static_cast<uint8_t>(value >> (8 * byte));
        }
    }
    if (!icc.isEmpty())
        heif_image_set_raw_color_profile(picture, "prof", icc.constData(), static_cast<size_t>(icc.size()));
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    heif_encoding_options* options = heif_encoding_options_alloc();
    options->image_orientation = icc.isEmpty() ? heif_orientation_normal : heif_orientation_rotate_90_cw;
    heif_image_handle* handle = nullptr;
    const bool av1 = compression == heif_compression_AV1;
    const bool ok =
        heif_context_get_encoder_for_format(context, compression, &encoder).code == heif_error_Ok &&
        heif_encoder_set_lossy_quality(encoder, 90).code == heif_error_Ok &&
        heif_encoder_set_parameter(encoder, "chroma", "444").code == heif_error_Ok &&
        heif_encoder_set_parameter(encoder, av1 ? "speed" : "preset", av1 ? "8" : "veryfast").code == heif_error_Ok &&
        heif_context_encode_image(context, picture, encoder, options, &handle).code == heif_error_Ok &&
        (icc.isEmpty() || heif_context_add_generic_metadata(context, handle, kExifTurned.constData(),
                                                            static_cast<int>(kExifTurned.size()), "Exif", nullptr)
                                  .code == heif_error_Ok) &&
        heif_context_write_to_file(context, QFile::encodeName(path).constData()).code == heif_error_Ok;
    heif_image_handle_release(handle);
    heif_encoding_options_free(options);
    heif_encoder_release(encoder);
    heif_context_free(context);
    heif_image_release(picture);
    return ok;
}

QByteArray Be(quint32 value, int bytes)
{
    QByteArray out;
    for (int i = bytes - 1; i >= 0; --i)
        out += static_cast<char>(value >> (8 * i));
    return out;
}

// A box: size, type, payload; a full box has version and flags first.
QByteArray BoxOf(const char* type, const QByteArray& payload, int version = -1, quint32 flags = 0)
{
    const QByteArray header = version >= 0 ? Be(static_cast<quint32>(version) << 24 | flags, 4) : QByteArray();
    return Be(static_cast<quint32>(8 + header.size() + payload.size()), 4) + type + header + payload;
}

// The box of `type` in a small file libheif wrote, whole.
QByteArray FindBox(const QByteArray& file, const char* type)
{
    for (qsizetype at = file.indexOf(type, 4); at >= 4; at = file.indexOf(type, at + 1)) {
        const auto size = static_cast<qsizetype>(qFromBigEndian<quint32>(file.constData() + at - 4));
        if (size >= 8 && at - 4 + size <= file.size())
            return file.mid(at - 4, size);
    }
    return {};
}

// Two 64 × 64 tiles side by side, red and blue, as phones store their
// photos: a grid item (its canvas in the idat box) made of two coded items,
// the canvas stated as `canvas` while the picture's ispe says 128 × 64.
QByteArray GridHeic(const QSize& canvas, const QString& tilePath)
{
    QByteArray config, coded[2];
    for (int i = 0; i < 2; ++i) {
        QImage tile(64, 64, QImage::Format_RGBA64);
        tile.fill(i == 0 ? QColor(200, 30, 30) : QColor(30, 30, 200));
        if (!EncodeHeif(tilePath, tile, heif_compression_HEVC, 8, false))
            return {};
        const QByteArray file = testfiles::ReadAll(tilePath);
        // One picture a file: the whole mdat is its coded data.
        coded[i] = FindBox(file, "mdat").mid(8);
        if (i == 0)
            config = FindBox(file, "hvcC");
    }
    if (config.isEmpty() || coded[0].isEmpty() || coded[1].isEmpty())
        return {};
    const auto infe = [](quint32 id, const char* type, quint32 flags) {
        return BoxOf("infe", Be(id, 2) + Be(0, 2) + type + QByteArray(1, '\0'), 2, flags);
    };
    // One row, two columns.
    const QByteArray gridData = Be(1, 4) + Be(static_cast<quint32>(canvas.width()), 2) +
                                Be(static_cast<quint32>(canvas.height()), 2);
    const QByteArray head = BoxOf("ftyp", QByteArray("heic\0\0\0\0mif1heic", 16));
    const QByteArray hdlr = BoxOf("hdlr", Be(0, 4) + "pict" + QByteArray(13, '\0'), 0);
    const QByteArray rest =
        BoxOf("pitm", Be(1, 2), 0) +
        BoxOf("iinf", Be(3, 2) + infe(1, "grid", 0) + infe(2, "hvc1", 1) + infe(3, "hvc1", 1), 0) +
        BoxOf("iref", BoxOf("dimg", Be(1, 2) + Be(2, 2) + Be(2, 2) + Be(3, 2)), 0) +
        BoxOf("iprp", BoxOf("ipco", config + BoxOf("ispe", Be(64, 4) + Be(64, 4), 0) +
                                        BoxOf("ispe", Be(128, 4) + Be(64, 4), 0)) +
                          BoxOf("ipma", Be(3, 4) + Be(1, 2) + "\x01\x03" + Be(2, 2) + "\x02\x81\x02" + Be(3, 2) +
                                            "\x02\x81\x02", 0)) +
        BoxOf("idat", gridData);
    // The iloc box's size does not depend on the offsets in it.
    const auto iloc = [&](quint32 mdatData) {
        const auto size = [](const QByteArray& data) { return Be(static_cast<quint32>(data.size()), 4); };
        return BoxOf("iloc", Be(0x4400, 2) + Be(3, 2) + Be(1, 2) + Be(1, 2) + Be(0, 2) + Be(1, 2) + Be(0, 4) +
                                 size(gridData) + Be(2, 2) + Be(0, 2) + Be(0, 2) + Be(1, 2) + Be(mdatData, 4) +
                                 size(coded[0]) + Be(3, 2) + Be(0, 2) + Be(0, 2) + Be(1, 2) +
                                 Be(mdatData + static_cast<quint32>(coded[0].size()), 4) + size(coded[1]), 1);
    };
    const qsizetype before = head.size() + BoxOf("meta", hdlr + iloc(0) + rest, 0).size() + 8;
    return head + BoxOf("meta", hdlr + iloc(static_cast<quint32>(before)) + rest, 0) +
           BoxOf("mdat", coded[0] + coded[1]);
}

// One WebP still: lossless at the least effort, or lossy close to the photo.
QByteArray WebpStill(const QImage& rgba, bool lossless)
{
    WebPConfig config;
    WebPConfigInit(&config);
    config.lossless = lossless ? 1 : 0;
    config.quality = lossless ? 0 : 95;
    config.method = lossless ? 0 : 4;
    config.use_sharp_yuv = 1;
    WebPPicture picture;
    WebPPictureInit(&picture);
    picture.width = rgba.width();
    picture.height = rgba.height();
    picture.use_argb = 1;
    WebPMemoryWriter writer;
    WebPMemoryWriterInit(&writer);
    picture.writer = WebPMemoryWrite;
    picture.custom_ptr = &writer;
    const bool ok = WebPPictureImportRGBA(&picture, rgba.constBits(), static_cast<int>(rgba.bytesPerLine())) &&
                    WebPEncode(&config, &picture);
    WebPPictureFree(&picture);
    const QByteArray out(reinterpret_cast<const char*>(writer.mem), ok ? static_cast<qsizetype>(writer.size) : 0);
    WebPMemoryWriterClear(&writer);
    return out;
}

// `frames` (RGBA8888) as one WebP file: a still with its profile, or an
// animation of 100 ms frames.
bool EncodeWebp(const QString& path, const QList<QImage>& frames, bool lossless, const QByteArray& icc = {})
{
    const auto data = [](const QByteArray& bytes) {
        return WebPData{reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<size_t>(bytes.size())};
    };
    WebPMux* mux = WebPMuxNew();
    const WebPMuxAnimParams animation{0xFFFFFFFF, 0};
    bool ok = frames.size() == 1 || WebPMuxSetAnimationParams(mux, &animation) == WEBP_MUX_OK;
    for (const QImage& frame : frames) {
        const QByteArray still = WebpStill(frame, lossless);
        WebPMuxFrameInfo info{data(still), 0, 0, 100, WEBP_CHUNK_ANMF, WEBP_MUX_DISPOSE_NONE, WEBP_MUX_NO_BLEND, {}};
        ok = ok && !still.isEmpty() &&
             (frames.size() == 1 ? WebPMuxSetImage(mux, &info.bitstream, 1) : WebPMuxPushFrame(mux, &info, 1)) ==
                 WEBP_MUX_OK;
    }
    const WebPData profile = data(icc);
    ok = ok && (icc.isEmpty() || WebPMuxSetChunk(mux, "ICCP", &profile, 1) == WEBP_MUX_OK);
    WebPData assembled{nullptr, 0};
    ok = ok && WebPMuxAssemble(mux, &assembled) == WEBP_MUX_OK;
    WebPMuxDelete(mux);
    ok = ok && Save(path, QByteArray(reinterpret_cast<const char*>(assembled.bytes),
                                     static_cast<qsizetype>(assembled.size)));
    WebPDataClear(&assembled);
    return ok;
}

int16_t ReadEntry(const QString& path, HDIB* dib, ILProgress callback = nullptr)
{
    const QByteArray name = QFile::encodeName(path);
    const auto read = path.endsWith(QLatin1String(".webp")) ? rdwebpfiledib : rdheiffiledib;
    return read(name.constData(), 24, 0, dib, nullptr, nullptr, callback, 0);
}

// The size and bits a file's header query gives.
std::pair<QSize, int> FileInfo(const QString& path)
{
    char format[IL_FORMAT_NAME_SIZE] = {}, compression[IL_COMPRESSION_NAME_SIZE] = {};
    int32_t width = 0, height = 0;
    int16_t bits = 0, pages = 0, orientation = 0;
    fileinfo(QFile::encodeName(path).constData(), format, &width, &height, &bits, &pages, &orientation, compression, 0);
    return {QSize(width, height), bits};
}

}  // namespace

class HeifWebpTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        const QImage photo(kPhoto);
        QVERIFY2(!photo.isNull(), qPrintable(kPhoto));
        m_photo = photo.scaledToWidth(800, Qt::SmoothTransformation).convertToFormat(QImage::Format_RGB888);
        // The photo's colours as Display P3 numbers, 16 bits a sample.
        QImage p3 = m_photo.convertToFormat(QImage::Format_RGBA64);
        p3.setColorSpace(QColorSpace::SRgb);
        p3.convertToColorSpace(QColorSpace::DisplayP3);
        const QByteArray icc = p3.colorSpace().iccProfile();
        QVERIFY(!icc.isEmpty());

        // A 10-bit HEIC and a 12-bit AVIF with a clear corner, stored as a
        // camera held on its side would: turned back a quarter.
        QImage stored = p3.transformed(QTransform().rotate(-90));
        QVERIFY(EncodeHeif(Path("photo.heic"), stored, heif_compression_HEVC, 10, false, icc));
        for (int y = stored.height() - kClearCorner.width(); y < stored.height(); ++y)
            for (int x = 0; x < kClearCorner.height(); ++x)
                reinterpret_cast<quint16*>(stored.scanLine(y))[4 * x + 3] = 0;
        QVERIFY(EncodeHeif(Path("photo.avif"), stored, heif_compression_AV1, 12, true, icc));

        const QImage rgba = m_photo.convertToFormat(QImage::Format_RGBA8888);
        QVERIFY(EncodeWebp(Path("lossy.webp"), {p3.convertToFormat(QImage::Format_RGBA8888)}, false, icc));
        QVERIFY(EncodeWebp(Path("lossless.webp"), {rgba}, true));
        // The second frame differs everywhere.
        QVERIFY(EncodeWebp(Path("animation.webp"), {rgba, rgba.mirrored(true, true)}, true));
        // A clear band, and one of 200, 40, 0 at half.
        QImage withAlpha = rgba;
        for (int y = kClearBand.top(); y <= kHalfBand.bottom(); ++y)
            for (int x = 0; x < withAlpha.width(); ++x)
                withAlpha.setPixelColor(x, y, QColor(200, 40, 0, kHalfBand.contains(x, y) ? 128 : 0));
        QVERIFY(EncodeWebp(Path("alpha.webp"), {withAlpha}, true));
        m_modules = std::make_unique<testfiles::ImagingModules>(QStringLiteral(SNIMKOREZ_MODULE_DIR));
    }

    void cleanupTestCase() { m_modules.reset(); }

    void recognisedByContent_data()
    {
        QTest::addColumn<QByteArray>("start");
        QTest::addColumn<QString>("format");
        const auto ftyp = [](const QByteArray& brands) {
            return Be(static_cast<quint32>(8 + brands.size()), 4) + "ftyp" + brands + QByteArray(64, '\0');
        };
        QTest::newRow("heic") << ftyp(QByteArray("heic\0\0\0\0mif1heic", 16)) << "HEIF";
        QTest::newRow("msf1 only") << ftyp(QByteArray("msf1\0\0\0\0msf1", 12)) << "HEIF";
        QTest::newRow("avif") << ftyp(QByteArray("avif\0\0\0\0avifmif1miaf", 20)) << "AVIF";
        QTest::newRow("mif1 with avif") << ftyp(QByteArray("mif1\0\0\0\0mif1miafavif", 20)) << "AVIF";
        QTest::newRow("video") << ftyp(QByteArray("isom\0\0\0\0isomiso2mp41", 20)) << "";
        QTest::newRow("brand past the box")
            << ftyp(QByteArray("isom\0\0\0\0isom", 12)).replace(20, 4, "avif") << "";
        QTest::newRow("webp") << QByteArray("RIFF\x24\0\0\0WEBPVP8 ", 16) + QByteArray(32, '\0') << "WEBP";
        QTest::newRow("wave") << QByteArray("RIFF\x24\0\0\0WAVEfmt ", 16) + QByteArray(32, '\0') << "";
    }

    void recognisedByContent()
    {
        QFETCH(QByteArray, start);
        QFETCH(QString, format);
        const auto* data = reinterpret_cast<const uint8_t*>(start.constData());
        QCOMPARE(QString::fromStdString(crde::DetectFormat(data, static_cast<size_t>(start.size()))), format);
    }

    // Upright (and not turned again by the Exif orientation), 8 bits, in
    // sRGB from the P3 profile, alpha on white: close to the photo when
    // lossy, every pixel as encoded (within a level where alpha rounds) when
    // lossless; an animation gives its first frame.
    void readAsShown_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("bits");
        QTest::addColumn<bool>("lossless");
        QTest::newRow("HEIC 10 bits") << "photo.heic" << 24 << false;
        QTest::newRow("AVIF 12 bits, alpha") << "photo.avif" << 32 << false;
        QTest::newRow("WebP lossy, P3 profile") << "lossy.webp" << 24 << false;
        QTest::newRow("WebP lossless") << "lossless.webp" << 24 << true;
        QTest::newRow("WebP alpha") << "alpha.webp" << 32 << true;
        QTest::newRow("WebP animation") << "animation.webp" << 24 << true;
    }

    void readAsShown()
    {
        QFETCH(QString, file);
        QFETCH(int, bits);
        QFETCH(bool, lossless);
        const QString path = Path(file);
        QCOMPARE(FileInfo(path), std::make_pair(m_photo.size(), bits));
        OwnedBlock block;
        QVERIFY(ReadEntry(path, block.Receive()) > 0);
        const QImage read = ImageOf(block.Get());
        QCOMPARE(read.size(), m_photo.size());
        QImage expected = m_photo;
        if (file == QLatin1String("alpha.webp")) {
            // 200, 40, 0 at 128/255 on white.
            QPainter painter(&expected);
            painter.fillRect(kClearBand, Qt::white);
            painter.fillRect(kHalfBand, QColor(227, 147, 127));
        }
        if (!lossless) {
            const bool clearCorner = file == QLatin1String("photo.avif");
            const double difference =
                MeanDeltaE(read, expected, clearCorner ? kClearCorner.adjusted(-8, -8, 8, 8) : QRect());
            QVERIFY2(difference <= 1.5, qPrintable(QString::number(difference)));
            // The clear corner white, past a margin where lossy alpha blurs.
            const QRect clear = clearCorner ? kClearCorner.adjusted(8, 8, -8, -8) : QRect();
            for (int y = clear.top(); y <= clear.bottom(); ++y)
                for (int x = clear.left(); x <= clear.right(); ++x) {
                    const QColor colour = read.pixelColor(x, y);
                    QVERIFY2(colour.red() >= 253 && colour.green() >= 253 && colour.blue() >= 253,
                             qPrintable(QStringLiteral("%1,%2 is %3").arg(x).arg(y).arg(colour.name())));
                }
            return;
        }
        for (int y = 0; y < read.height(); ++y)
            for (int x = 0; x < read.width(); ++x) {
                const QColor got = read.pixelColor(x, y), want = expected.pixelColor(x, y);
                if (std::abs(got.red() - want.red()) > 1 || std::abs(got.green() - want.green()) > 1 ||
                    std::abs(got.blue() - want.blue()) > 1)
                    QFAIL(qPrintable(
                        QStringLiteral("%1,%2: %3, expected %4").arg(x).arg(y).arg(got.name(), want.name())));
            }
    }

    // The extension picks the reader; a photo whose extension names another
    // format is read by its content's.
    void pictureControlReadsThem_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("type");
        QTest::newRow("AVIF") << "photo.avif" << "Photo.AVIF" << "AVIF";
        QTest::newRow("WebP") << "lossy.webp" << "photo.WebP" << "WEBP";
        QTest::newRow("HEIC named .jpg") << "photo.heic" << "IMG_0002.jpg" << "HEIF";
    }

    void pictureControlReadsThem()
    {
        QFETCH(QString, file);
        QFETCH(QString, name);
        QFETCH(QString, type);
        const QString path = Path(name);
        QFile::remove(path);
        QVERIFY(QFile::copy(Path(file), path));
        preview::TPMultiImage control;
        control.SetImageReadRes(preview::TLoadResolution::lColorTrue);
        QString reported;
        control.OnIlibError = [&](preview::TPMultiImage*, int16_t, const QString& text, const char*) {
            reported = text;
        };
        control.SetImageName(path);
        QCOMPARE(reported, QString());
        QCOMPARE(control.FileInfo().imageType, type);
        const imaging::TBitmap* bitmap = control.Picture().BitmapOrNull();
        QVERIFY(bitmap);
        QCOMPARE(bitmap->Handle().size(), m_photo.size());
    }

    // A photo in tiles reads whole; one whose tiles' canvas is larger than
    // the picture it states is refused before anything is made for it.
    void heifGrids()
    {
        const QString path = Path("grid.heic");
        QVERIFY(Save(path, GridHeic(QSize(128, 64), Path("tile.heic"))));
        OwnedBlock block;
        QVERIFY(ReadEntry(path, block.Receive()) > 0);
        const QImage read = ImageOf(block.Get());
        QCOMPARE(read.size(), QSize(128, 64));
        const QColor left = read.pixelColor(32, 32);
        const QColor right = read.pixelColor(96, 32);
        QVERIFY2(left.red() > 150 && left.blue() < 80, qPrintable(left.name()));
        QVERIFY2(right.blue() > 150 && right.red() < 80, qPrintable(right.name()));

        // Within libheif's own limit of a side, three quarters of a
        // gigabyte of planes for a file of a few kilobytes.
        QVERIFY(Save(path, GridHeic(QSize(16000, 16000), Path("tile.heic"))));
        OwnedBlock refused;
        QCOMPARE(ReadEntry(path, refused.Receive()), int16_t{IL_ERR_CORRUPT});
        QVERIFY(!refused);
    }

    // Cut short, scrambled, or stopped by the caller: a failure and no
    // block, never a crash; scrambled data may still decode to something.
    void damagedFilesFail_data()
    {
        QTest::addColumn<QString>("name");
        for (const char* name : {"photo.heic", "photo.avif", "lossy.webp", "lossless.webp", "animation.webp"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }

    void damagedFilesFail()
    {
        QFETCH(QString, name);
        const QByteArray whole = testfiles::ReadAll(Path(name));
        const QString path = Path(QStringLiteral("damaged-") + name);
        OwnedBlock stopped;
        QCOMPARE(ReadEntry(Path(name), stopped.Receive(), [](int, void*) { return 0; }), int16_t{IL_ERR_CANCELLED});
        QVERIFY(!stopped);

        for (const qsizetype length : {qsizetype{40}, whole.size() / 2, whole.size() - 1}) {
            QVERIFY(Save(path, whole.left(length)));
            OwnedBlock block;
            const int16_t result = ReadEntry(path, block.Receive());
            QVERIFY2(result == IL_ERR_CORRUPT || result == IL_ERR_FORMAT,
                     qPrintable(QStringLiteral("%1 bytes: %2").arg(length).arg(result)));
            QVERIFY(!block);
        }
        // The coded picture overwritten past its headers.
        QByteArray scrambled = whole;
        quint32 state = 12345;
        for (qsizetype i = scrambled.size() / 3; i < scrambled.size() * 2 / 3; ++i) {
            state = state * 1103515245u + 12345u;
            scrambled[i] = static_cast<char>(state >> 24);
        }
        QVERIFY(Save(path, scrambled));
        OwnedBlock block;
        const int16_t result = ReadEntry(path, block.Receive());
        QCOMPARE(result > 0, block.Get() != nullptr);
    }

private:
    QString Path(const QString& name) const { return m_dir.filePath(name); }

    QTemporaryDir m_dir;
    QImage m_photo;  // 800 pixels wide, upright
    std::unique_ptr<testfiles::ImagingModules> m_modules;
};

QTEST_MAIN(HeifWebpTest)
#include "heif_webp_test.moc"
