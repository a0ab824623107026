// HEIF, AVIF and WebP through the codec module's entries, on files made here
// (once, in initTestCase) by libheif's and libwebp's own encoders from a real
// photograph: turned as the file says, in sRGB whatever profile the file
// carries, alpha on white, an animation's first frame, photos in tiles, and
// damaged files refused; and through the program's picture control, which
// picks the reader.
#include "OwnedBlock.h"
#include "Dib.h"
#include "Formats.h"
#include "ImagingModules.h"
#include "imglib.h"
#include "preview/TPMultiImage.h"

#include <libheif/heif.h>
#include <lcms2.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// 1365 × 1074: paint brushes in saturated colours.
const QString kPhoto = QStringLiteral(SNIMKOREZ_PHOTOS "/Picture_1A_by_freespace.jpg");


// A 24-bit block as red, green, blue rows.
QImage ImageOf(HDIB dib)
{
    const imglib::DibView view(dib);
    if (!view.Valid() || view.Bits() != 24)
        return {};
    QImage image(view.Width(), view.Height(), QImage::Format_RGB888);
    for (int y = 0; y < view.Height(); ++y) {
        const uint8_t* in = view.Row(y);
        uchar* out = image.scanLine(y);
        for (int x = 0; x < view.Width(); ++x, in += 3, out += 3) {
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
        }
    }
    return image;
}

bool Save(const QString& path, const Bytes& bytes)
{
    QFile file(path);
    return !bytes.empty() && file.open(QIODevice::WriteOnly) &&
           file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size())) ==
               static_cast<qint64>(bytes.size());
}

// ---- colour ---------------------------------------------------------------

// Display P3: P3 primaries, D65, the sRGB curve.
cmsHPROFILE NewP3Profile()
{
    const cmsCIExyY white{0.3127, 0.3290, 1.0};
    const cmsCIExyYTRIPLE primaries{{0.680, 0.320, 1.0}, {0.265, 0.690, 1.0}, {0.150, 0.060, 1.0}};
    const cmsFloat64Number parameters[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
    cmsToneCurve* curve = cmsBuildParametricToneCurve(nullptr, 4, parameters);
    cmsToneCurve* curves[3] = {curve, curve, curve};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsFreeToneCurve(curve);
    return profile;
}

Bytes P3ProfileBytes()
{
    cmsHPROFILE profile = NewP3Profile();
    cmsUInt32Number size = 0;
    Bytes bytes;
    if (cmsSaveProfileToMem(profile, nullptr, &size) && size > 0) {
        bytes.resize(size);
        if (!cmsSaveProfileToMem(profile, bytes.data(), &size))
            bytes.clear();
    }
    cmsCloseProfile(profile);
    return bytes;
}

// The photo's sRGB colours as P3 numbers, 16 bits a sample, rows of red,
// green, blue.
std::vector<uint16_t> ToP3(const QImage& srgb)
{
    cmsHPROFILE from = cmsCreate_sRGBProfile();
    cmsHPROFILE to = NewP3Profile();
    cmsHTRANSFORM transform =
        cmsCreateTransform(from, TYPE_RGB_8, to, TYPE_RGB_16, INTENT_RELATIVE_COLORIMETRIC, 0);
    std::vector<uint16_t> out(static_cast<size_t>(srgb.width()) * srgb.height() * 3);
    for (int y = 0; y < srgb.height(); ++y)
        cmsDoTransform(transform, srgb.constScanLine(y), out.data() + static_cast<size_t>(y) * srgb.width() * 3,
                       static_cast<cmsUInt32Number>(srgb.width()));
    cmsDeleteTransform(transform);
    cmsCloseProfile(from);
    cmsCloseProfile(to);
    return out;
}

// Mean CIEDE2000 between two sRGB pictures of one size over the pixels
// `counted` accepts.
double MeanDeltaE(const QImage& a, const QImage& b, const std::function<bool(int, int)>& counted = nullptr)
{
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
    cmsHTRANSFORM transform = cmsCreateTransform(srgb, TYPE_RGB_8, lab, TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC, 0);
    std::vector<cmsCIELab> rowA(static_cast<size_t>(a.width())), rowB(rowA.size());
    double sum = 0;
    qint64 count = 0;
    for (int y = 0; y < a.height(); ++y) {
        cmsDoTransform(transform, a.constScanLine(y), rowA.data(), static_cast<cmsUInt32Number>(a.width()));
        cmsDoTransform(transform, b.constScanLine(y), rowB.data(), static_cast<cmsUInt32Number>(a.width()));
        for (int x = 0; x < a.width(); ++x) {
            if (counted && !counted(x, y))
                continue;
            sum += cmsCIE2000DeltaE(&rowA[static_cast<size_t>(x)], &rowB[static_cast<size_t>(x)], 1, 1, 1);
            ++count;
        }
    }
    cmsDeleteTransform(transform);
    cmsCloseProfile(lab);
    cmsCloseProfile(srgb);
    return count > 0 ? sum / static_cast<double>(count) : 1e9;
}

// ---- HEIF and AVIF ----------------------------------------------------------

heif_error WriteBytes(heif_context*, const void* data, size_t size, void* userdata)
{
    auto* out = static_cast<Bytes*>(userdata);
    const auto* bytes = static_cast<const uint8_t*>(data);
    out->insert(out->end(), bytes, bytes + size);
    return heif_error{heif_error_Ok, heif_suberror_Unspecified, "ok"};
}

// An Exif item (offset to the TIFF header, then the TIFF header and one
// directory) saying `orientation`.
Bytes ExifOrientation(uint16_t orientation)
{
    return {0, 0, 0, 0, 'M', 'M', 0, 42, 0, 0, 0, 8,  // TIFF header, directory at 8
            0, 1,                                      // one entry
            0x01, 0x12, 0, 3, 0, 0, 0, 1,              // Orientation, SHORT, 1 value
            static_cast<uint8_t>(orientation >> 8), static_cast<uint8_t>(orientation), 0, 0,
            0, 0, 0, 0};  // no next directory
}

struct HeifRecipe {
    heif_compression_format compression = heif_compression_HEVC;
    int bits = 8;
    bool alpha = false;
    QRect transparent;  // in the stored picture
};

// `stored` (sRGB) encoded as P3 numbers with the P3 profile, shown turned
// 90° clockwise by the file's transformation; an Exif orientation saying the
// same is in the file too, as cameras write it.
Bytes EncodeHeif(const QImage& stored, const HeifRecipe& recipe)
{
    const int width = stored.width();
    const int height = stored.height();
    const std::vector<uint16_t> p3 = ToP3(stored);
    const Bytes profile = P3ProfileBytes();
    heif_image* image = nullptr;
    const heif_chroma chroma = recipe.bits == 8 ? (recipe.alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB)
                                                : (recipe.alpha ? heif_chroma_interleaved_RRGGBBAA_LE
                                                                : heif_chroma_interleaved_RRGGBB_LE);
    if (heif_image_create(width, height, heif_colorspace_RGB, chroma, &image).code != heif_error_Ok)
        return {};
    const std::unique_ptr<heif_image, void (*)(const heif_image*)> imageOwner(image, heif_image_release);
    if (heif_image_add_plane(image, heif_channel_interleaved, width, height, recipe.bits).code != heif_error_Ok)
        return {};
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    const int channels = recipe.alpha ? 4 : 3;
    const int maximum = (1 << recipe.bits) - 1;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            int values[4];
            for (int c = 0; c < 3; ++c)
                values[c] = static_cast<int>(std::lround(p3[(static_cast<size_t>(y) * width + x) * 3 + c] * maximum / 65535.0));
            values[3] = recipe.transparent.contains(x, y) ? 0 : maximum;
            for (int c = 0; c < channels; ++c) {
                if (recipe.bits == 8) {
                    plane[static_cast<size_t>(y) * stride + static_cast<size_t>(x) * channels + c] = static_cast<uint8_t>(values[c]);
                } else {
                    uint8_t* sample = plane + static_cast<size_t>(y) * stride + (static_cast<size_t>(x) * channels + c) * 2;
                    sample[0] = static_cast<uint8_t>(values[c]);
                    sample[1] = static_cast<uint8_t>(values[c] >> 8);
                }
            }
        }
    }
    if (heif_image_set_raw_color_profile(image, "prof", profile.data(), profile.size()).code != heif_error_Ok)
        return {};

    const std::unique_ptr<heif_context, void (*)(heif_context*)> context(heif_context_alloc(), heif_context_free);
    heif_encoder* encoder = nullptr;
    if (heif_context_get_encoder_for_format(context.get(), recipe.compression, &encoder).code != heif_error_Ok)
        return {};
    const std::unique_ptr<heif_encoder, void (*)(heif_encoder*)> encoderOwner(encoder, heif_encoder_release);
    heif_encoder_set_lossy_quality(encoder, 90);
    // Full chroma: what is measured is the colour handling, not subsampling.
    heif_encoder_set_parameter(encoder, "chroma", "444");
    if (recipe.compression == heif_compression_AV1)
        heif_encoder_set_parameter(encoder, "speed", "8");
    else
        heif_encoder_set_parameter(encoder, "preset", "veryfast");
    const std::unique_ptr<heif_encoding_options, void (*)(heif_encoding_options*)> options(
        heif_encoding_options_alloc(), heif_encoding_options_free);
    options->image_orientation = heif_orientation_rotate_90_cw;
    heif_image_handle* handle = nullptr;
    if (const heif_error error = heif_context_encode_image(context.get(), image, encoder, options.get(), &handle);
        error.code != heif_error_Ok) {
        qWarning("encoding: %s", error.message);
        return {};
    }
    const std::unique_ptr<heif_image_handle, void (*)(const heif_image_handle*)> handleOwner(
        handle, heif_image_handle_release);
    const Bytes exif = ExifOrientation(6);
    if (heif_context_add_generic_metadata(context.get(), handle, exif.data(), static_cast<int>(exif.size()), "Exif",
                                          nullptr)
            .code != heif_error_Ok)
        return {};
    Bytes out;
    heif_writer writer{1, WriteBytes};
    if (heif_context_write(context.get(), &writer, &out).code != heif_error_Ok)
        return {};
    return out;
}

Bytes Be(uint32_t value, int bytes)
{
    Bytes out;
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    return out;
}

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A box: size, type, payload; a full box has version and flags first.
Bytes BoxOf(const char* type, const Bytes& payload, int version = -1, uint32_t flags = 0)
{
    const Bytes header = version >= 0 ? Be(static_cast<uint32_t>(version) << 24 | flags, 4) : Bytes();
    return Be(static_cast<uint32_t>(8 + header.size() + payload.size()), 4) + Bytes(type, type + 4) + header + payload;
}

// The box of `type` in a file libheif wrote (found by its type's bytes:
// the files are small and made here), whole.
Bytes FindBox(const Bytes& file, const char* type)
{
    for (size_t at = 4; at + 4 <= file.size(); ++at) {
        if (std::memcmp(file.data() + at, type, 4) != 0)
            continue;
        const size_t size = size_t{file[at - 4]} << 24 | size_t{file[at - 3]} << 16 | size_t{file[at - 2]} << 8 | file[at - 1];
        if (size >= 8 && at - 4 + size <= file.size())
            return Bytes(file.begin() + static_cast<ptrdiff_t>(at - 4), file.begin() + static_cast<ptrdiff_t>(at - 4 + size));
    }
    return {};
}

// Two 64 × 64 tiles side by side as phones store their photos: a grid item
// (its canvas in the idat box) made of two coded items, the canvas stated
// as `canvas` while the picture's ispe says 128 × 64.
Bytes GridHeic(const QColor& left, const QColor& right, const QSize& canvas)
{
    Bytes config, coded[2];
    for (int i = 0; i < 2; ++i) {
        QImage tile(64, 64, QImage::Format_RGB888);
        tile.fill(i == 0 ? left : right);
        heif_image* image = nullptr;
        heif_image_create(64, 64, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image);
        heif_image_add_plane(image, heif_channel_interleaved, 64, 64, 8);
        int stride = 0;
        uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
        for (int y = 0; y < 64; ++y)
            std::memcpy(plane + static_cast<ptrdiff_t>(stride) * y, tile.constScanLine(y), 64 * 3);
        heif_context* context = heif_context_alloc();
        heif_encoder* encoder = nullptr;
        heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder);
        heif_encoder_set_lossy_quality(encoder, 90);
        Bytes file;
        heif_writer writer{1, WriteBytes};
        const bool ok = heif_context_encode_image(context, image, encoder, nullptr, nullptr).code == heif_error_Ok &&
                        heif_context_write(context, &writer, &file).code == heif_error_Ok;
        heif_encoder_release(encoder);
        heif_context_free(context);
        heif_image_release(image);
        const Bytes mdat = FindBox(file, "mdat");
        if (!ok || mdat.size() <= 8)
            return {};
        // One picture per file: the whole mdat is its coded data.
        coded[i].assign(mdat.begin() + 8, mdat.end());
        if (i == 0)
            config = FindBox(file, "hvcC");
    }
    if (config.empty())
        return {};

    const auto infe = [](uint16_t id, const char* type, uint32_t flags) {
        return BoxOf("infe", Be(id, 2) + Be(0, 2) + Bytes(type, type + 4) + Bytes{0}, 2, flags);
    };
    // One row, two columns.
    const Bytes gridData = Bytes{0, 0, 0, 1} + Be(static_cast<uint32_t>(canvas.width()), 2) +
                           Be(static_cast<uint32_t>(canvas.height()), 2);
    const Bytes head = BoxOf("ftyp", Bytes{'h', 'e', 'i', 'c', 0, 0, 0, 0, 'm', 'i', 'f', '1', 'h', 'e', 'i', 'c'});
    const Bytes hdlr = BoxOf("hdlr", Be(0, 4) + Bytes{'p', 'i', 'c', 't'} + Bytes(13, 0), 0);
    const Bytes rest =
        BoxOf("pitm", Be(1, 2), 0) +
        BoxOf("iinf", Be(3, 2) + infe(1, "grid", 0) + infe(2, "hvc1", 1) + infe(3, "hvc1", 1), 0) +
        BoxOf("iref", BoxOf("dimg", Be(1, 2) + Be(2, 2) + Be(2, 2) + Be(3, 2)), 0) +
        BoxOf("iprp", BoxOf("ipco", config + BoxOf("ispe", Be(64, 4) + Be(64, 4), 0) +
                                        BoxOf("ispe", Be(128, 4) + Be(64, 4), 0)) +
                          BoxOf("ipma", Be(3, 4) + Be(1, 2) + Bytes{1, 3} + Be(2, 2) + Bytes{2, 0x81, 2} +
                                            Be(3, 2) + Bytes{2, 0x81, 2},
                                0)) +
        BoxOf("idat", gridData);
    // The iloc box's size does not depend on the offsets in it.
    const auto iloc = [&](uint32_t mdatData) {
        return BoxOf("iloc",
                     Bytes{0x44, 0} + Be(3, 2) +
                         Be(1, 2) + Be(1, 2) + Be(0, 2) + Be(1, 2) + Be(0, 4) + Be(static_cast<uint32_t>(gridData.size()), 4) +
                         Be(2, 2) + Be(0, 2) + Be(0, 2) + Be(1, 2) + Be(mdatData, 4) + Be(static_cast<uint32_t>(coded[0].size()), 4) +
                         Be(3, 2) + Be(0, 2) + Be(0, 2) + Be(1, 2) +
                         Be(mdatData + static_cast<uint32_t>(coded[0].size()), 4) + Be(static_cast<uint32_t>(coded[1].size()), 4),
                     1);
    };
    const size_t before = head.size() + BoxOf("meta", hdlr + iloc(0) + rest, 0).size() + 8;
    return head + BoxOf("meta", hdlr + iloc(static_cast<uint32_t>(before)) + rest, 0) +
           BoxOf("mdat", coded[0] + coded[1]);
}

// ---- WebP -------------------------------------------------------------------

struct WebpPicture {
    WebPPicture picture;
    WebpPicture() { WebPPictureInit(&picture); }
    ~WebpPicture() { WebPPictureFree(&picture); }
    WebpPicture(const WebpPicture&) = delete;
    WebpPicture& operator=(const WebpPicture&) = delete;
};

// `rgba` (RGBA8888) into a picture of libwebp's.
bool Import(const QImage& rgba, WebPPicture& picture)
{
    picture.width = rgba.width();
    picture.height = rgba.height();
    picture.use_argb = 1;
    return WebPPictureImportRGBA(&picture, rgba.constBits(), static_cast<int>(rgba.bytesPerLine())) != 0;
}

Bytes EncodeWebp(const QImage& rgba, bool lossless, const Bytes& profile = {})
{
    WebPConfig config;
    if (!WebPConfigInit(&config))
        return {};
    config.lossless = lossless ? 1 : 0;
    // Lossless: the least effort; lossy: close to the photo.
    config.quality = lossless ? 0 : 95;
    config.method = lossless ? 0 : 4;
    config.use_sharp_yuv = 1;
    WebpPicture picture;
    if (!Import(rgba, picture.picture))
        return {};
    WebPMemoryWriter writer;
    WebPMemoryWriterInit(&writer);
    picture.picture.writer = WebPMemoryWrite;
    picture.picture.custom_ptr = &writer;
    if (!WebPEncode(&config, &picture.picture)) {
        WebPMemoryWriterClear(&writer);
        return {};
    }
    Bytes out(writer.mem, writer.mem + writer.size);
    WebPMemoryWriterClear(&writer);
    if (profile.empty())
        return out;
    // The ICCP chunk goes in through the muxer.
    WebPMux* mux = WebPMuxNew();
    const WebPData image{out.data(), out.size()};
    const WebPData icc{profile.data(), profile.size()};
    WebPData assembled{nullptr, 0};
    const bool ok = WebPMuxSetImage(mux, &image, 1) == WEBP_MUX_OK && WebPMuxSetChunk(mux, "ICCP", &icc, 1) == WEBP_MUX_OK &&
                    WebPMuxAssemble(mux, &assembled) == WEBP_MUX_OK;
    WebPMuxDelete(mux);
    out = ok ? Bytes(assembled.bytes, assembled.bytes + assembled.size) : Bytes();
    WebPDataClear(&assembled);
    return out;
}

// Two lossless frames of 100 ms each.
Bytes EncodeAnimation(const QImage& first, const QImage& second)
{
    WebPAnimEncoderOptions options;
    WebPConfig config;
    if (!WebPAnimEncoderOptionsInit(&options) || !WebPConfigInit(&config))
        return {};
    config.lossless = 1;
    config.quality = 0;
    config.method = 0;
    WebPAnimEncoder* encoder = WebPAnimEncoderNew(first.width(), first.height(), &options);
    if (!encoder)
        return {};
    WebpPicture one;
    WebpPicture two;
    WebPData assembled{nullptr, 0};
    const bool ok = Import(first, one.picture) && Import(second, two.picture) &&
                    WebPAnimEncoderAdd(encoder, &one.picture, 0, &config) &&
                    WebPAnimEncoderAdd(encoder, &two.picture, 100, &config) &&
                    WebPAnimEncoderAdd(encoder, nullptr, 200, nullptr) && WebPAnimEncoderAssemble(encoder, &assembled);
    WebPAnimEncoderDelete(encoder);
    Bytes out = ok ? Bytes(assembled.bytes, assembled.bytes + assembled.size) : Bytes();
    WebPDataClear(&assembled);
    return out;
}

// ---- reading ----------------------------------------------------------------

int16_t ReadEntry(const QString& format, const QString& path, HDIB* dib, ILProgress callback = nullptr)
{
    const QByteArray name = QFile::encodeName(path);
    if (format == QLatin1String("WEBP"))
        return rdwebpfiledib(name.constData(), 24, 0, dib, nullptr, nullptr, callback, 0);
    return rdheiffiledib(name.constData(), 24, 0, dib, nullptr, nullptr, callback, 0);
}

struct Figures {
    QString format;
    int width = 0;
    int height = 0;
    int bits = 0;
    int pages = 0;
};

Figures FileInfo(const QString& path)
{
    char format[IL_FORMAT_NAME_SIZE] = {};
    char compression[IL_COMPRESSION_NAME_SIZE] = {};
    int32_t width = 0, height = 0;
    int16_t bits = 0, pages = 0, orientation = 0;
    Figures figures;
    if (fileinfo(QFile::encodeName(path).constData(), format, &width, &height, &bits, &pages, &orientation, compression,
                 0) <= 0)
        return figures;
    return {QString::fromLatin1(format), width, height, bits, pages};
}

int StopAtOnce(int, void*)
{
    return 0;
}

// Every pixel of `image` in `area` (shrunk by `margin`) is white, or the first
// one that is not.
QString NotWhite(const QImage& image, const QRect& area, int margin)
{
    const QRect inner = area.adjusted(margin, margin, -margin, -margin);
    for (int y = inner.top(); y <= inner.bottom(); ++y) {
        for (int x = inner.left(); x <= inner.right(); ++x) {
            const QColor colour = image.pixelColor(x, y);
            if (colour.red() < 253 || colour.green() < 253 || colour.blue() < 253)
                return QStringLiteral("%1,%2 is %3").arg(x).arg(y).arg(colour.name());
        }
    }
    return {};
}

}  // namespace

// Where the AVIF is transparent and the alpha WebP half so, as shown.
const QRect kClearCorner(0, 0, 160, 128);
const QRect kClearBand(0, 0, 800, 100);
const QRect kHalfBand(0, 100, 800, 50);

class HeifWebpTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QImage photo(kPhoto);
        QVERIFY2(!photo.isNull(), qPrintable(kPhoto));
        m_photo = photo.scaledToWidth(800, Qt::SmoothTransformation).convertToFormat(QImage::Format_RGB888);
        QVERIFY(m_dir.isValid());
        QElapsedTimer timer;

        // Stored as a camera held on its side would: turned back a quarter,
        // to be shown turned 90° clockwise.
        const QImage stored = m_photo.transformed(QTransform().rotate(-90));
        HeifRecipe heic;
        heic.bits = 10;
        timer.start();
        QVERIFY(Save(m_dir.filePath(QStringLiteral("photo.heic")), EncodeHeif(stored, heic)));
        qInfo("HEIC encoded in %lld ms", timer.restart());
        HeifRecipe avif;
        avif.compression = heif_compression_AV1;
        avif.bits = 12;
        avif.alpha = true;
        avif.transparent = QRect(0, stored.height() - kClearCorner.width(), kClearCorner.height(), kClearCorner.width());
        QVERIFY(Save(m_dir.filePath(QStringLiteral("photo.avif")), EncodeHeif(stored, avif)));
        qInfo("AVIF encoded in %lld ms", timer.restart());

        // P3 numbers, as 8 bits, with their profile.
        const QImage rgba = m_photo.convertToFormat(QImage::Format_RGBA8888);
        const std::vector<uint16_t> p3 = ToP3(m_photo);
        QImage numbers(rgba.size(), QImage::Format_RGBA8888);
        for (int y = 0; y < numbers.height(); ++y) {
            uchar* row = numbers.scanLine(y);
            for (int x = 0; x < numbers.width(); ++x) {
                for (int c = 0; c < 3; ++c)
                    row[4 * x + c] =
                        static_cast<uchar>(std::lround(p3[(static_cast<size_t>(y) * numbers.width() + x) * 3 + c] / 257.0));
                row[4 * x + 3] = 255;
            }
        }
        QVERIFY(Save(m_dir.filePath(QStringLiteral("lossy.webp")),
                     EncodeWebp(numbers, false, P3ProfileBytes())));
        QVERIFY(Save(m_dir.filePath(QStringLiteral("lossless.webp")), EncodeWebp(rgba, true)));
        // A clear band, and one of 200, 40, 0 at half.
        QImage withAlpha = rgba;
        for (int y = kClearBand.top(); y <= kHalfBand.bottom(); ++y) {
            uchar* row = withAlpha.scanLine(y);
            for (int x = 0; x < withAlpha.width(); ++x) {
                row[4 * x] = 200;
                row[4 * x + 1] = 40;
                row[4 * x + 2] = 0;
                row[4 * x + 3] = kHalfBand.contains(x, y) ? 128 : 0;
            }
        }
        QVERIFY(Save(m_dir.filePath(QStringLiteral("alpha.webp")), EncodeWebp(withAlpha, true)));
        // The second frame differs everywhere.
        QVERIFY(Save(m_dir.filePath(QStringLiteral("animation.webp")),
                     EncodeAnimation(rgba, rgba.mirrored(true, true))));
        qInfo("WebP files encoded in %lld ms", timer.restart());
        m_modules = std::make_unique<testfiles::ImagingModules>(QStringLiteral(SNIMKOREZ_MODULE_DIR));
    }

    void cleanupTestCase() { m_modules.reset(); }

    void recognisedByContent_data()
    {
        QTest::addColumn<QByteArray>("start");
        QTest::addColumn<QString>("format");
        const auto ftyp = [](const QByteArray& brands) {
            QByteArray box(4, '\0');
            box[3] = static_cast<char>(8 + brands.size());
            return box + "ftyp" + brands + QByteArray(64, '\0');
        };
        QTest::newRow("heic") << ftyp(QByteArray("heic\0\0\0\0mif1heic", 16)) << "HEIF";
        QTest::newRow("mif1 with heic") << ftyp(QByteArray("mif1\0\0\0\0mif1heic", 16)) << "HEIF";
        QTest::newRow("msf1 only") << ftyp(QByteArray("msf1\0\0\0\0msf1", 12)) << "HEIF";
        QTest::newRow("avif") << ftyp(QByteArray("avif\0\0\0\0avifmif1miaf", 20)) << "AVIF";
        QTest::newRow("mif1 with avif") << ftyp(QByteArray("mif1\0\0\0\0mif1miafavif", 20)) << "AVIF";
        QTest::newRow("avis sequence") << ftyp(QByteArray("avis\0\0\0\0avismsf1", 16)) << "AVIF";
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

    // A 10-bit HEIC and a 12-bit AVIF with alpha, both stored sideways with
    // a rotation to show them upright (and an Exif orientation that must not
    // turn them again), both Display P3 with its profile.
    void heifReadUprightInSrgb_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<bool>("alpha");
        QTest::newRow("HEIC 10 bits") << "HEIF" << false;
        QTest::newRow("AVIF 12 bits, alpha") << "AVIF" << true;
    }

    void heifReadUprightInSrgb()
    {
        QFETCH(QString, format);
        QFETCH(bool, alpha);
        const QString path = m_dir.filePath(format == QLatin1String("AVIF") ? QStringLiteral("photo.avif")
                                                                            : QStringLiteral("photo.heic"));
        const Figures figures = FileInfo(path);
        QCOMPARE(figures.format, format);
        QCOMPARE(QSize(figures.width, figures.height), m_photo.size());
        QCOMPARE(figures.bits, alpha ? 32 : 24);
        QCOMPARE(figures.pages, 1);

        OwnedBlock block;
        QElapsedTimer timer;
        timer.start();
        QVERIFY(ReadEntry(format, path, block.Receive()) > 0);
        const qint64 elapsed = timer.elapsed();
        const QImage read = ImageOf(block.Get());
        QCOMPARE(read.size(), m_photo.size());
        const auto opaque = [](int x, int y) { return !kClearCorner.adjusted(-8, -8, 8, 8).contains(x, y); };
        const double difference = MeanDeltaE(read, m_photo, alpha ? std::function<bool(int, int)>(opaque) : nullptr);
        qInfo("%s: read in %lld ms, mean CIEDE2000 %.2f", qPrintable(format), elapsed, difference);
        QVERIFY2(difference <= 1.5, qPrintable(QString::number(difference)));
        if (alpha)
            QCOMPARE(NotWhite(read, kClearCorner, 8), QString());
    }

    void webpRead_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("lossy, P3 profile") << "lossy";
        QTest::newRow("lossless") << "lossless";
        QTest::newRow("alpha") << "alpha";
        QTest::newRow("animation") << "animation";
    }

    void webpRead()
    {
        QFETCH(QString, kind);
        const QString path = m_dir.filePath(kind + QStringLiteral(".webp"));
        QImage expected = m_photo;
        if (kind == QLatin1String("alpha")) {
            // 200, 40, 0 at 128/255 on white.
            QPainter painter(&expected);
            painter.fillRect(kClearBand, Qt::white);
            painter.fillRect(kHalfBand, QColor(227, 147, 127));
        }
        const Figures figures = FileInfo(path);
        QCOMPARE(figures.format, QStringLiteral("WEBP"));
        QCOMPARE(QSize(figures.width, figures.height), m_photo.size());
        QCOMPARE(figures.bits, kind == QLatin1String("alpha") ? 32 : 24);
        QCOMPARE(figures.pages, 1);

        OwnedBlock block;
        QElapsedTimer timer;
        timer.start();
        QVERIFY(ReadEntry(QStringLiteral("WEBP"), path, block.Receive()) > 0);
        qInfo("WebP %s: read in %lld ms", qPrintable(kind), timer.elapsed());
        const QImage read = ImageOf(block.Get());
        QCOMPARE(read.size(), m_photo.size());
        if (kind == QLatin1String("lossy")) {
            const double difference = MeanDeltaE(read, expected);
            qInfo("WebP lossy: mean CIEDE2000 %.2f", difference);
            QVERIFY2(difference <= 1.5, qPrintable(QString::number(difference)));
            return;
        }
        // Lossless: every pixel as encoded, within a level where alpha rounds.
        for (int y = 0; y < read.height(); ++y) {
            for (int x = 0; x < read.width(); ++x) {
                const QRgb got = read.pixel(x, y);
                const QRgb want = expected.pixel(x, y);
                if (std::abs(qRed(got) - qRed(want)) > 1 || std::abs(qGreen(got) - qGreen(want)) > 1 ||
                    std::abs(qBlue(got) - qBlue(want)) > 1)
                    QFAIL(qPrintable(QStringLiteral("%1,%2: %3, expected %4")
                                         .arg(x).arg(y).arg(QColor(got).name(), QColor(want).name())));
            }
        }
    }

    // The extension picks the reader; a photo whose extension names another
    // format is read by its content's.
    void pictureControlReadsThem_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("type");
        QTest::newRow("HEIC") << "photo.heic" << "IMG_0001.HEIC" << "HEIF";
        QTest::newRow("AVIF") << "photo.avif" << "Photo.AVIF" << "AVIF";
        QTest::newRow("WebP") << "lossy.webp" << "photo.WebP" << "WEBP";
        QTest::newRow("HEIC named .jpg") << "photo.heic" << "IMG_0002.jpg" << "HEIF";
    }

    void pictureControlReadsThem()
    {
        QFETCH(QString, file);
        QFETCH(QString, name);
        QFETCH(QString, type);
        const QString path = m_dir.filePath(name);
        QFile::remove(path);
        QVERIFY(QFile::copy(m_dir.filePath(file), path));
        preview::TPMultiImage control;
        control.SetImageReadRes(preview::TLoadResolution::lColorTrue);
        QString reported;
        control.OnIlibError = [&](preview::TPMultiImage*, int16_t, const QString& text, const char*) { reported = text; };
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
        const QString path = m_dir.filePath(QStringLiteral("grid.heic"));
        QVERIFY(Save(path, GridHeic(QColor(200, 30, 30), QColor(30, 30, 200), QSize(128, 64))));
        const Figures figures = FileInfo(path);
        QCOMPARE(figures.format, QStringLiteral("HEIF"));
        QCOMPARE(QSize(figures.width, figures.height), QSize(128, 64));
        OwnedBlock block;
        QVERIFY(ReadEntry(QStringLiteral("HEIF"), path, block.Receive()) > 0);
        const QImage read = ImageOf(block.Get());
        QCOMPARE(read.size(), QSize(128, 64));
        const QColor left = read.pixelColor(32, 32);
        const QColor right = read.pixelColor(96, 32);
        QVERIFY2(left.red() > 150 && left.blue() < 80, qPrintable(left.name()));
        QVERIFY2(right.blue() > 150 && right.red() < 80, qPrintable(right.name()));

        // Within libheif's own limit of a side, three quarters of a
        // gigabyte of planes for a file of a few kilobytes.
        QVERIFY(Save(path, GridHeic(QColor(200, 30, 30), QColor(30, 30, 200), QSize(16000, 16000))));
        OwnedBlock refused;
        QCOMPARE(ReadEntry(QStringLiteral("HEIF"), path, refused.Receive()), int16_t{IL_ERR_CORRUPT});
        QVERIFY(!refused);
    }

    // Cut short, scrambled, or stopped by the caller: a failure and no
    // block, never a crash; scrambled data may still decode to something.
    void damagedFilesFail_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("format");
        QTest::newRow("HEIC") << "photo.heic" << "HEIF";
        QTest::newRow("AVIF") << "photo.avif" << "AVIF";
        QTest::newRow("WebP lossy") << "lossy.webp" << "WEBP";
        QTest::newRow("WebP lossless") << "lossless.webp" << "WEBP";
        QTest::newRow("WebP animation") << "animation.webp" << "WEBP";
    }

    void damagedFilesFail()
    {
        QFETCH(QString, name);
        QFETCH(QString, format);
        QFile source(m_dir.filePath(name));
        QVERIFY(source.open(QIODevice::ReadOnly));
        const QByteArray whole = source.readAll();
        const auto bytes = [](const QByteArray& data) { return Bytes(data.begin(), data.end()); };
        const QString path = m_dir.filePath(QStringLiteral("damaged-") + name);

        OwnedBlock stopped;
        QCOMPARE(ReadEntry(format, source.fileName(), stopped.Receive(), StopAtOnce), int16_t{IL_ERR_CANCELLED});
        QVERIFY(!stopped);

        for (const qsizetype length : {qsizetype{40}, whole.size() / 2, whole.size() - 1}) {
            QVERIFY(Save(path, bytes(whole.left(length))));
            OwnedBlock block;
            const int16_t result = ReadEntry(format, path, block.Receive());
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
        QVERIFY(Save(path, bytes(scrambled)));
        OwnedBlock block;
        const int16_t result = ReadEntry(format, path, block.Receive());
        QCOMPARE(result > 0, block.Get() != nullptr);
    }

private:
    QTemporaryDir m_dir;
    QImage m_photo;  // 800 pixels wide, upright
    std::unique_ptr<testfiles::ImagingModules> m_modules;
};

QTEST_MAIN(HeifWebpTest)
#include "heif_webp_test.moc"
