// Colour profiles through snimkorez-reduce: a photo converted to a wide-gamut
// space with its profile embedded comes out as the same photo reduced from
// its sRGB original; sRGB-tagged photos skip the conversion and come out
// byte for byte as untagged ones; a CMYK JPEG goes through its profile.
#include "Colour.h"
#include "OwnedBlock.h"
#include "imaging/ILDibCls.h"
#include "imaging/ModuleLoader.h"
#include "imaging/TBitmap.h"
#include "imglib.h"

#include <QColorSpace>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <lcms2.h>

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <vector>

#include <jpeglib.h>

namespace {

const QString kPhotos = QStringLiteral(SNIMKOREZ_PHOTOS);
const QString kProfiles = QStringLiteral("/usr/share/color/icc/ghostscript");

QByteArray Read(const QString& name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Mean CIEDE2000 and the ratio of mean chroma between two sRGB pictures.
struct Difference {
    double deltaE = 0;
    double chroma = 0;
};

Difference Compare(const QImage& a, const QImage& b)
{
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
    cmsHTRANSFORM toLab = cmsCreateTransform(srgb, TYPE_RGB_8, lab, TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC, 0);
    const QImage x = a.convertToFormat(QImage::Format_RGB888);
    const QImage y = b.convertToFormat(QImage::Format_RGB888);
    double sum = 0, chromaA = 0, chromaB = 0;
    std::vector<cmsCIELab> labA(static_cast<size_t>(x.width())), labB(labA.size());
    for (int row = 0; row < x.height(); ++row) {
        cmsDoTransform(toLab, x.constScanLine(row), labA.data(), static_cast<cmsUInt32Number>(x.width()));
        cmsDoTransform(toLab, y.constScanLine(row), labB.data(), static_cast<cmsUInt32Number>(x.width()));
        for (size_t i = 0; i < labA.size(); ++i) {
            sum += cmsCIE2000DeltaE(&labA[i], &labB[i], 1, 1, 1);
            chromaA += std::hypot(labA[i].a, labA[i].b);
            chromaB += std::hypot(labB[i].a, labB[i].b);
        }
    }
    cmsDeleteTransform(toLab);
    cmsCloseProfile(lab);
    cmsCloseProfile(srgb);
    return {sum / (double(x.width()) * x.height()), chromaB / chromaA};
}

QColorSpace Space(const QString& name)
{
    if (name == QLatin1String("Adobe RGB"))
        return QColorSpace(QColorSpace::AdobeRgb);
    if (name == QLatin1String("Display P3"))
        return QColorSpace(QColorSpace::DisplayP3);
    if (name == QLatin1String("ProPhoto RGB"))
        return QColorSpace(QColorSpace::ProPhotoRgb);
    // Wide Gamut RGB: D50, gamma 2.2.
    return QColorSpace(QPointF(0.3457, 0.3585), QPointF(0.7347, 0.2653), QPointF(0.1152, 0.8264),
                       QPointF(0.1566, 0.0177), QColorSpace::TransferFunction::Gamma, 2.2f);
}

// A JPEG of 8-bit samples with `profile` embedded, written by libjpeg.
bool WriteJpeg(const QString& name, const uint8_t* pixels, int width, int height, int components,
               J_COLOR_SPACE space, const QByteArray& profile)
{
    FILE* out = std::fopen(QFile::encodeName(name).constData(), "wb");
    if (!out)
        return false;
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr errors{};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, out);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = components;
    cinfo.in_color_space = space;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 95, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    if (!profile.isEmpty())
        jpeg_write_icc_profile(&cinfo, reinterpret_cast<const JOCTET*>(profile.constData()),
                               static_cast<unsigned>(profile.size()));
    while (cinfo.next_scanline < cinfo.image_height) {
        auto* row = const_cast<JSAMPROW>(pixels + size_t(cinfo.next_scanline) * size_t(width) * components);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return std::fclose(out) == 0;
}

bool WriteRgbJpeg(const QString& name, const QImage& image, const QByteArray& profile)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    std::vector<uint8_t> pixels(size_t(rgb.width()) * rgb.height() * 3);
    for (int y = 0; y < rgb.height(); ++y)
        std::memcpy(pixels.data() + size_t(y) * rgb.width() * 3, rgb.constScanLine(y), size_t(rgb.width()) * 3);
    return WriteJpeg(name, pixels.data(), rgb.width(), rgb.height(), 3, JCS_RGB, profile);
}

}  // namespace

class ReduceColourTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QImage m_photo;  // sRGB, 1600 wide

    QString Reduce(const QString& name)
    {
        QProcess process;
        process.start(QStringLiteral(SNIMKOREZ_PROGRAM_DIR "/snimkorez-reduce"), {name});
        if (!process.waitForFinished(60000) || process.exitCode() != 0)
            qWarning() << process.readAllStandardError();
        QString output = name;
        output.chop(4);
        return output + QStringLiteral("_Resize728px.jpg");
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_photo = QImage(kPhotos + QStringLiteral("/Painting-Colors_by__herobrine7gamer.jpg"))
                      .scaledToWidth(1600, Qt::SmoothTransformation)
                      .convertToFormat(QImage::Format_RGB888);
        QVERIFY(!m_photo.isNull());
        m_photo.setColorSpace(QColorSpace(QColorSpace::SRgb));
        QVERIFY(WriteRgbJpeg(m_dir.filePath(QStringLiteral("srgb.jpg")), m_photo, {}));
    }

    void wideGamutPhotos_data()
    {
        QTest::addColumn<QString>("space");
        for (const char* space : {"Adobe RGB", "Display P3", "ProPhoto RGB", "Wide Gamut RGB"})
            QTest::newRow(space) << QString::fromLatin1(space);
    }

    // The numbers of another space, read as sRGB, would be dull: converted
    // back they match the sRGB original's reduction.
    void wideGamutPhotos()
    {
        QFETCH(QString, space);
        const QColorSpace target = Space(space);
        QVERIFY(target.isValid());
        const QImage converted = m_photo.convertedToColorSpace(target);
        const QString name = m_dir.filePath(QString(space).remove(u' ') + QStringLiteral(".jpg"));
        QVERIFY(WriteRgbJpeg(name, converted, target.iccProfile()));
        const QImage reference(Reduce(m_dir.filePath(QStringLiteral("srgb.jpg"))));
        const QImage reduced(Reduce(name));
        QVERIFY(!reduced.isNull());
        QCOMPARE(reduced.size(), reference.size());
        const Difference d = Compare(reference, reduced);
        qInfo("%s: mean CIEDE2000 %.2f, chroma %.1f %%", qPrintable(space), d.deltaE, 100 * d.chroma);
        QVERIFY2(d.deltaE <= 1.5, qPrintable(QString::number(d.deltaE)));
        QVERIFY2(std::fabs(d.chroma - 1) <= 0.02, qPrintable(QString::number(d.chroma)));
    }

    // Curves-and-matrix profiles take a quicker way than lcms's own: every
    // one of the 2^24 colours comes out as lcms makes it, within a level.
    void matrixProfilesAsLcmsMakesThem()
    {
        std::vector<uint8_t> colours((size_t{1} << 24) * 3);
        for (size_t i = 0; i < colours.size() / 3; ++i) {
            colours[3 * i] = uint8_t(i);
            colours[3 * i + 1] = uint8_t(i >> 8);
            colours[3 * i + 2] = uint8_t(i >> 16);
        }
        cmsHPROFILE srgb = cmsCreate_sRGBProfile();
        for (const char* name : {"Adobe RGB", "ProPhoto RGB", "Wide Gamut RGB"}) {
            const QByteArray icc = Space(QString::fromLatin1(name)).iccProfile();
            imglib::ColourDescription description;
            description.icc = reinterpret_cast<const uint8_t*>(icc.constData());
            description.iccSize = size_t(icc.size());
            const imglib::ColourTransform ours(description, imglib::PixelLayout::Bgr);
            QVERIFY(ours.Active());
            std::vector<uint8_t> quick(colours.size()), reference(colours.size());
            ours.Convert(colours.data(), quick.data(), colours.size() / 3);
            cmsHPROFILE profile = cmsOpenProfileFromMem(icc.constData(), cmsUInt32Number(icc.size()));
            cmsHTRANSFORM lcms = cmsCreateTransform(profile, TYPE_BGR_8, srgb, TYPE_BGR_8,
                                                    INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_BLACKPOINTCOMPENSATION);
            cmsDoTransform(lcms, colours.data(), reference.data(), cmsUInt32Number(colours.size() / 3));
            cmsDeleteTransform(lcms);
            cmsCloseProfile(profile);
            int worst = 0;
            for (size_t i = 0; i < quick.size(); ++i)
                worst = std::max(worst, std::abs(int(quick[i]) - int(reference[i])));
            QVERIFY2(worst <= 1, qPrintable(QStringLiteral("%1: %2 levels apart").arg(QLatin1String(name)).arg(worst)));
        }
        cmsCloseProfile(srgb);
    }

    // Profiles that describe sRGB, whatever they are called: the same bytes
    // as the untagged photo.
    void srgbProfilesSkipTheConversion()
    {
        const QByteArray untagged = Read(Reduce(m_dir.filePath(QStringLiteral("srgb.jpg"))));
        QVERIFY(!untagged.isEmpty());
        const QByteArray painting = Read(kPhotos + QStringLiteral("/Painting-Colors_by__herobrine7gamer.jpg"));
        const qsizetype marker = painting.indexOf("ICC_PROFILE");
        QVERIFY(marker > 2);
        const int length = (uchar(painting[marker - 2]) << 8 | uchar(painting[marker - 1])) - 16;
        const QByteArray profiles[] = {Read(kProfiles + QStringLiteral("/srgb.icc")),
                                       painting.mid(marker + 14, length)};
        for (const QByteArray& profile : profiles) {
            QVERIFY(!profile.isEmpty());
            const QString name = m_dir.filePath(QStringLiteral("tagged.jpg"));
            QVERIFY(WriteRgbJpeg(name, m_photo, profile));
            QCOMPARE(Read(Reduce(name)), untagged);
        }
    }

    // A CMYK JPEG as Adobe writes it (inverted inks) with its press profile:
    // the module's picture is what lcms makes of the file's inks.
    void cmykThroughItsProfile()
    {
        const QByteArray profile = Read(kProfiles + QStringLiteral("/default_cmyk.icc"));
        QVERIFY(!profile.isEmpty());
        cmsHPROFILE srgb = cmsCreate_sRGBProfile();
        cmsHPROFILE cmyk = cmsOpenProfileFromMem(profile.constData(), cmsUInt32Number(profile.size()));
        QVERIFY(cmyk);
        const QImage small = m_photo.scaledToWidth(400);
        const int w = small.width(), h = small.height();
        std::vector<uint8_t> inks(size_t(w) * h * 4);
        cmsHTRANSFORM toInks = cmsCreateTransform(srgb, TYPE_RGB_8, cmyk, TYPE_CMYK_8_REV, INTENT_PERCEPTUAL, 0);
        for (int y = 0; y < h; ++y)
            cmsDoTransform(toInks, small.constScanLine(y), inks.data() + size_t(y) * w * 4, cmsUInt32Number(w));
        cmsDeleteTransform(toInks);
        const QString name = m_dir.filePath(QStringLiteral("cmyk.jpg"));
        QVERIFY(WriteJpeg(name, inks.data(), w, h, 4, JCS_CMYK, profile));

        // What lcms makes of the inks the file holds.
        std::vector<uint8_t> decoded;
        {
            jpeg_decompress_struct cinfo{};
            jpeg_error_mgr errors{};
            cinfo.err = jpeg_std_error(&errors);
            jpeg_create_decompress(&cinfo);
            const QByteArray bytes = Read(name);
            jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(bytes.constData()), bytes.size());
            jpeg_read_header(&cinfo, TRUE);
            QVERIFY(cinfo.saw_Adobe_marker);
            jpeg_start_decompress(&cinfo);
            decoded.resize(size_t(w) * h * 4);
            while (cinfo.output_scanline < cinfo.output_height) {
                JSAMPROW row = decoded.data() + size_t(cinfo.output_scanline) * w * 4;
                jpeg_read_scanlines(&cinfo, &row, 1);
            }
            jpeg_finish_decompress(&cinfo);
            jpeg_destroy_decompress(&cinfo);
        }
        QImage expected(w, h, QImage::Format_RGB888);
        cmsHTRANSFORM toScreen = cmsCreateTransform(cmyk, TYPE_CMYK_8_REV, srgb, TYPE_RGB_8,
                                                    INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_BLACKPOINTCOMPENSATION);
        for (int y = 0; y < h; ++y)
            cmsDoTransform(toScreen, decoded.data() + size_t(y) * w * 4, expected.scanLine(y), cmsUInt32Number(w));
        cmsDeleteTransform(toScreen);
        cmsCloseProfile(cmyk);
        cmsCloseProfile(srgb);

        imaging::ModuleHandle codecs = nullptr;
        QString folder = QStringLiteral(SNIMKOREZ_PROGRAM_DIR);
        QVERIFY(imaging::LoadModule(codecs, QStringLiteral("CRDE2001.so"), folder));
        const auto read = reinterpret_cast<rdjpgfiledib_fn>(imaging::ResolveSymbol(codecs, "rdjpgfiledib"));
        QVERIFY(read);
        OwnedBlock dib;
        QVERIFY(read(QFile::encodeName(name).constData(), 24, 0, 0, dib.Receive(), nullptr, nullptr, nullptr, 0) > 0);
        imaging::TBitmap bitmap;
        QVERIFY(imaging::DibToBitmap(dib.Get(), bitmap));
        const QImage got = bitmap.Handle();
        QCOMPARE(got.size(), expected.size());
        const Difference d = Compare(expected, got);
        qInfo("CMYK: mean CIEDE2000 %.2f against lcms", d.deltaE);
        QVERIFY2(d.deltaE < 0.5, qPrintable(QString::number(d.deltaE)));
    }
};

QTEST_MAIN(ReduceColourTest)
#include "reduce_colour_test.moc"
