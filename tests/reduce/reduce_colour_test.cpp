// Colour profiles through snimkorez-reduce: a photo converted to a wide-gamut
// space with its profile embedded comes out as the same photo reduced from
// its sRGB original; photos with an sRGB or an unusable profile come out byte
// for byte as untagged ones; a CMYK JPEG goes through its profile.
#include "Colour.h"
#include "OwnedBlock.h"
#include "TestFiles.h"
#include "imaging/ILDibCls.h"
#include "imaging/TBitmap.h"
#include "imglib.h"

#include <QColorSpace>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <dlfcn.h>
#include <lcms2.h>

#include <cmath>
#include <cstdio>
#include <utility>
#include <vector>

#include <jpeglib.h>

namespace {

using testfiles::ReadAll;

const QString kProfiles = QStringLiteral("/usr/share/color/icc/ghostscript");

// The pixels of `from` through lcms into `to`, whose rows are `line` bytes apart.
void Transform(cmsHPROFILE in, cmsUInt32Number inFormat, cmsHPROFILE out, cmsUInt32Number outFormat,
               cmsUInt32Number intent, cmsUInt32Number flags, const QImage& from, void* to, size_t line)
{
    cmsHTRANSFORM transform = cmsCreateTransform(in, inFormat, out, outFormat, intent, flags);
    cmsDoTransformLineStride(transform, from.constBits(), to, cmsUInt32Number(from.width()),
                             cmsUInt32Number(from.height()), cmsUInt32Number(from.bytesPerLine()),
                             cmsUInt32Number(line), 0, 0);
    cmsDeleteTransform(transform);
}

// Mean CIEDE2000 and the ratio of mean chroma between two sRGB pictures.
std::pair<double, double> Compare(const QImage& a, const QImage& b)
{
    cmsHPROFILE srgb = cmsCreate_sRGBProfile(), lab = cmsCreateLab4Profile(nullptr);
    std::vector<cmsCIELab> labA(size_t(a.width()) * size_t(a.height())), labB(labA.size());
    for (const auto& [image, into] : {std::pair{&a, labA.data()}, {&b, labB.data()}})
        Transform(srgb, TYPE_RGB_8, lab, TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC, 0,
                  image->convertToFormat(QImage::Format_RGB888), into, size_t(a.width()) * sizeof(cmsCIELab));
    cmsCloseProfile(lab);
    cmsCloseProfile(srgb);
    double sum = 0, chromaA = 0, chromaB = 0;
    for (size_t i = 0; i < labA.size(); ++i) {
        sum += cmsCIE2000DeltaE(&labA[i], &labB[i], 1, 1, 1);
        chromaA += std::hypot(labA[i].a, labA[i].b);
        chromaB += std::hypot(labB[i].a, labB[i].b);
    }
    return {sum / double(labA.size()), chromaB / chromaA};
}

// A JPEG of the samples of `image` (RGB888: three, a 32-bit format: four a
// pixel) with `profile` embedded, written by libjpeg.
bool WriteJpeg(const QString& name, const QImage& image, J_COLOR_SPACE space, const QByteArray& profile)
{
    FILE* out = std::fopen(QFile::encodeName(name).constData(), "wb");
    if (!out)
        return false;
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr errors{};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, out);
    cinfo.image_width = static_cast<JDIMENSION>(image.width());
    cinfo.image_height = static_cast<JDIMENSION>(image.height());
    cinfo.input_components = image.depth() / 8;
    cinfo.in_color_space = space;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 95, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    if (!profile.isEmpty())
        jpeg_write_icc_profile(&cinfo, reinterpret_cast<const JOCTET*>(profile.constData()),
                               static_cast<unsigned>(profile.size()));
    while (cinfo.next_scanline < cinfo.image_height) {
        auto* row = const_cast<JSAMPROW>(image.constScanLine(int(cinfo.next_scanline)));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return std::fclose(out) == 0;
}

}  // namespace

class ReduceColourTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QImage m_photo;               // sRGB, 1600 wide
    QByteArray m_photoProfile;    // the sRGB profile the photo came with
    QByteArray m_untagged;        // m_photo written untagged, reduced
    QImage m_colours;             // every 24-bit colour once

    // What snimkorez-reduce writes of `name` (a .jpg).
    static QString Reduce(const QString& name)
    {
        QProcess process;
        process.start(QStringLiteral(SNIMKOREZ_PROGRAM_DIR "/snimkorez-reduce"), {name});
        if (!process.waitForFinished(60000) || process.exitCode() != 0)
            qWarning() << process.readAllStandardError();
        return name.chopped(4) + QStringLiteral("_Resize728px.jpg");
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        const QImage painting(QStringLiteral(SNIMKOREZ_PHOTOS "/Painting-Colors_by__herobrine7gamer.jpg"));
        m_photoProfile = painting.colorSpace().iccProfile();
        m_photo = painting.scaledToWidth(1600, Qt::SmoothTransformation).convertToFormat(QImage::Format_RGB888);
        m_photo.setColorSpace(QColorSpace(QColorSpace::SRgb));
        const QString untagged = m_dir.filePath(QStringLiteral("srgb.jpg"));
        QVERIFY(WriteJpeg(untagged, m_photo, JCS_RGB, {}));
        m_untagged = ReadAll(Reduce(untagged));
        QVERIFY(!m_untagged.isEmpty());
        m_colours = QImage(4096, 4096, QImage::Format_RGB888);
        uint8_t* colour = m_colours.bits();
        for (uint32_t i = 0; i < 1u << 24; ++i, colour += 3) {
            colour[0] = uint8_t(i);
            colour[1] = uint8_t(i >> 8);
            colour[2] = uint8_t(i >> 16);
        }
    }

    void wideGamutPhotos_data()
    {
        QTest::addColumn<QColorSpace>("space");
        QTest::newRow("Adobe RGB") << QColorSpace(QColorSpace::AdobeRgb);
        QTest::newRow("Display P3") << QColorSpace(QColorSpace::DisplayP3);
        QTest::newRow("ProPhoto RGB") << QColorSpace(QColorSpace::ProPhotoRgb);
    }

    // The numbers of another space, read as sRGB, would be dull: converted
    // back they match the sRGB original's reduction. Curves-and-matrix
    // profiles take a quicker way than lcms's own: every one of the 2^24
    // colours comes out as lcms makes it, within a level.
    void wideGamutPhotos()
    {
        QFETCH(QColorSpace, space);
        const QByteArray icc = space.iccProfile();
        const QString name = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()) + QStringLiteral(".jpg"));
        QVERIFY(WriteJpeg(name, m_photo.convertedToColorSpace(space).convertToFormat(QImage::Format_RGB888), JCS_RGB,
                          icc));
        const QImage reference = QImage::fromData(m_untagged);
        const QImage reduced(Reduce(name));
        QCOMPARE(reduced.size(), reference.size());
        const auto [deltaE, chroma] = Compare(reference, reduced);
        qInfo("mean CIEDE2000 %.2f, chroma %.1f %%", deltaE, 100 * chroma);
        QVERIFY2(deltaE <= 1.5, qPrintable(QString::number(deltaE)));
        QVERIFY2(std::fabs(chroma - 1) <= 0.02, qPrintable(QString::number(chroma)));

        imglib::ColourDescription description;
        description.icc = reinterpret_cast<const uint8_t*>(icc.constData());
        description.iccSize = size_t(icc.size());
        const imglib::ColourTransform ours(description, imglib::PixelLayout::Bgr);
        QVERIFY(ours.Active());
        QImage quick(m_colours.size(), m_colours.format()), lcms(m_colours.size(), m_colours.format());
        ours.Convert(m_colours.constBits(), quick.bits(), size_t{1} << 24);
        cmsHPROFILE srgb = cmsCreate_sRGBProfile();
        cmsHPROFILE profile = cmsOpenProfileFromMem(icc.constData(), cmsUInt32Number(icc.size()));
        Transform(profile, TYPE_BGR_8, srgb, TYPE_BGR_8, INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_BLACKPOINTCOMPENSATION,
                  m_colours, lcms.bits(), size_t(lcms.bytesPerLine()));
        cmsCloseProfile(profile);
        cmsCloseProfile(srgb);
        int worst = 0;
        for (qsizetype i = 0; i < quick.sizeInBytes(); ++i)
            worst = std::max(worst, std::abs(int(quick.constBits()[i]) - int(lcms.constBits()[i])));
        QVERIFY2(worst <= 1, qPrintable(QStringLiteral("%1 levels apart").arg(worst)));
    }

    // Profiles that describe sRGB, whatever they are called, and profiles
    // that cannot be used (for CMYK pixels, not a profile at all): the same
    // bytes as the untagged photo.
    void srgbAndUnusableProfilesSkipTheConversion()
    {
        for (const QByteArray& profile : {ReadAll(kProfiles + QStringLiteral("/srgb.icc")), m_photoProfile,
                                          ReadAll(kProfiles + QStringLiteral("/default_cmyk.icc")),
                                          QByteArray(600, 'x')}) {
            QVERIFY(!profile.isEmpty());
            const QString name = m_dir.filePath(QStringLiteral("tagged.jpg"));
            QVERIFY(WriteJpeg(name, m_photo, JCS_RGB, profile));
            QCOMPARE(ReadAll(Reduce(name)), m_untagged);
        }
    }

    // A CMYK JPEG as Adobe writes it (inverted inks) with its press profile:
    // the module's picture is what lcms makes of the file's inks.
    void cmykThroughItsProfile()
    {
        const QByteArray profile = ReadAll(kProfiles + QStringLiteral("/default_cmyk.icc"));
        cmsHPROFILE srgb = cmsCreate_sRGBProfile();
        cmsHPROFILE cmyk = cmsOpenProfileFromMem(profile.constData(), cmsUInt32Number(profile.size()));
        QVERIFY(cmyk);
        // Inks, four bytes a pixel, in the rows of 32-bit images.
        const QImage small = m_photo.scaledToWidth(400);
        QImage inks(small.size(), QImage::Format_RGB32), decoded(small.size(), QImage::Format_RGB32);
        Transform(srgb, TYPE_RGB_8, cmyk, TYPE_CMYK_8_REV, INTENT_PERCEPTUAL, 0, small, inks.bits(),
                  size_t(inks.bytesPerLine()));
        const QString name = m_dir.filePath(QStringLiteral("cmyk.jpg"));
        QVERIFY(WriteJpeg(name, inks, JCS_CMYK, profile));

        // What lcms makes of the inks the file holds.
        jpeg_decompress_struct cinfo{};
        jpeg_error_mgr errors{};
        cinfo.err = jpeg_std_error(&errors);
        jpeg_create_decompress(&cinfo);
        const QByteArray bytes = ReadAll(name);
        jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(bytes.constData()), bytes.size());
        jpeg_read_header(&cinfo, TRUE);
        jpeg_start_decompress(&cinfo);
        while (cinfo.output_scanline < cinfo.output_height) {
            JSAMPROW row = decoded.scanLine(int(cinfo.output_scanline));
            jpeg_read_scanlines(&cinfo, &row, 1);
        }
        jpeg_finish_decompress(&cinfo);
        jpeg_destroy_decompress(&cinfo);
        QImage expected(small.size(), QImage::Format_RGB888);
        Transform(cmyk, TYPE_CMYK_8_REV, srgb, TYPE_RGB_8, INTENT_RELATIVE_COLORIMETRIC,
                  cmsFLAGS_BLACKPOINTCOMPENSATION, decoded, expected.bits(), size_t(expected.bytesPerLine()));
        cmsCloseProfile(cmyk);
        cmsCloseProfile(srgb);

        void* codecs = dlopen(SNIMKOREZ_PROGRAM_DIR "/CRDE2001.so", RTLD_NOW);
        const auto read = codecs ? reinterpret_cast<rdjpgfiledib_fn>(dlsym(codecs, "rdjpgfiledib")) : nullptr;
        QVERIFY(read);
        OwnedBlock dib;
        QVERIFY(read(QFile::encodeName(name).constData(), 24, 0, 0, dib.Receive(), nullptr, nullptr, nullptr, 0) > 0);
        imaging::TBitmap bitmap;
        QVERIFY(imaging::DibToBitmap(dib.Get(), bitmap));
        const QImage got = bitmap.Handle();
        QCOMPARE(got.size(), expected.size());
        const double deltaE = Compare(expected, got).first;
        qInfo("mean CIEDE2000 %.2f against lcms", deltaE);
        QVERIFY2(deltaE < 0.5, qPrintable(QString::number(deltaE)));
    }
};

QTEST_MAIN(ReduceColourTest)
#include "reduce_colour_test.moc"
