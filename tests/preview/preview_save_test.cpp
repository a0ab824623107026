// Saving the preview control's picture as JPEG and sharpening it in place:
// what reaches the writer and the sharpening filter, what the files hold
// when Qt reads them back, and what the control keeps.
#include "BoolRows.h"
#include "ImagingModules.h"
#include "Sharpness.h"
#include "Shown.h"
#include "TestFiles.h"
#include "preview/TPMultiImage.h"

#include "imaging/DllSP96.h"
#include "imaging/ErrorInvalid.h"
#include "imaging/MessageHandler.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

#include <cstdlib>
#include <memory>

using preview::TLoadResolution;
using preview::TPMultiImage;
using preview::TSaveResolution;
namespace DllSP96 = imaging::DllSP96;

namespace {

using quality::EdgeEnergy;
using testfiles::Data;
using testfiles::ReadAll;
using testfiles::Shown;

// Colour ramps with hard edges: something a JPEG keeps and sharpening changes.
QImage TestPicture(int width = 48, int height = 32)
{
    QImage image(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool block = (x / 8 + y / 8) % 2 == 0;
            image.setPixel(x, y, block ? qRgb(40 + 4 * x, 200 - 3 * y, 90) : qRgb(230, 60 + 2 * x, 20 + 5 * y));
        }
    }
    return image;
}

double MeanDifference(const QImage& a, const QImage& b)
{
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    double sum = 0;
    for (int r = 0; r < x.height(); ++r) {
        for (int c = 0; c < x.width(); ++c) {
            const QRgb p = x.pixel(c, r);
            const QRgb q = y.pixel(c, r);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
        }
    }
    return sum / (3.0 * x.width() * x.height());
}

// The number of components of a JPEG's frame (its first SOF marker); 0 when none.
int JpegComponents(const QByteArray& bytes)
{
    for (qsizetype i = 2; i + 9 < bytes.size();) {
        if (static_cast<uchar>(bytes[i]) != 0xFF)
            return 0;
        const auto marker = static_cast<uchar>(bytes[i + 1]);
        const int length = static_cast<uchar>(bytes[i + 2]) << 8 | static_cast<uchar>(bytes[i + 3]);
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC)
            return static_cast<uchar>(bytes[i + 9]);
        i += 2 + length;
    }
    return 0;
}

}  // namespace

class PreviewSaveTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<testfiles::ImagingModules> m_modules;
    std::unique_ptr<QTemporaryDir> m_dir;
    QStringList m_messages;
    std::unique_ptr<TPMultiImage> m_control;
    int m_finished = 0;

    QString Path(const QString& name) const { return m_dir->filePath(name); }

    // The control as the reduction uses it: quality 90, smoothing set.
    void UsePicture(const QImage& image)
    {
        m_control->Picture().SetBitmap(imaging::TBitmap(image));
        m_control->SetJPegSaveQuality(90);
        m_control->SetJPegSaveSmooth(5);
    }

private Q_SLOTS:
    void initTestCase()
    {
        imaging::SetMessageHandler([this](const QString& text) { m_messages << text; });
        m_modules = std::make_unique<testfiles::ImagingModules>(QStringLiteral(SNIMKOREZ_MODULE_DIR));
    }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_messages.clear();
        m_control = std::make_unique<TPMultiImage>();
        m_finished = 0;
        m_control->OnFinishedLoadSave = [this](TPMultiImage* sender) {
            QCOMPARE(sender, m_control.get());
            ++m_finished;
        };
    }

    void cleanup()
    {
        m_control.reset();
        m_dir.reset();
    }

    void setterRules_data()
    {
        QTest::addColumn<bool>("smoothing");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("stored");
        QTest::newRow("quality 0") << false << 0 << 25;
        QTest::newRow("quality 1") << false << 1 << 1;
        QTest::newRow("quality 90") << false << 90 << 90;
        QTest::newRow("quality 100") << false << 100 << 100;
        QTest::newRow("quality 101") << false << 101 << 25;
        QTest::newRow("quality 255") << false << 255 << 25;
        QTest::newRow("smoothing 0") << true << 0 << 5;
        QTest::newRow("smoothing 1") << true << 1 << 1;
        QTest::newRow("smoothing 100") << true << 100 << 100;
        QTest::newRow("smoothing 101") << true << 101 << 5;
        QTest::newRow("smoothing 255") << true << 255 << 5;
    }

    void setterRules()
    {
        QFETCH(bool, smoothing);
        QFETCH(int, value);
        QFETCH(int, stored);
        if (smoothing) {
            m_control->SetJPegSaveSmooth(static_cast<uint8_t>(value));
            QCOMPARE(int(m_control->JPegSaveSmooth()), stored);
        } else {
            m_control->SetJPegSaveQuality(static_cast<uint8_t>(value));
            QCOMPARE(int(m_control->JPegSaveQuality()), stored);
        }
    }

    void savedJpegReadsBackCloseToThePicture()
    {
        const QImage picture = TestPicture();
        UsePicture(picture);
        const QString name = Path(QStringLiteral("out.jpg"));
        m_control->SaveAsJpeg(name);
        QCOMPARE(m_control->DefSaveFilename(), name);
        QCOMPARE(m_finished, 1);
        const QImage back(name);
        QCOMPARE(back.size(), picture.size());
        QVERIFY(!back.isGrayscale());
        QVERIFY2(MeanDifference(back, picture) < 10, qPrintable(QString::number(MeanDifference(back, picture))));
        QVERIFY(m_messages.isEmpty());
    }

    // Whatever the picture's depth, it reaches the writer and comes back.
    void everyBitmapDepthSaves_data()
    {
        QTest::addColumn<int>("format");
        QTest::newRow("1 bit") << int(QImage::Format_Mono);
        QTest::newRow("8 bit") << int(QImage::Format_Indexed8);
        QTest::newRow("24 bit") << int(QImage::Format_RGB888);
        QTest::newRow("32 bit") << int(QImage::Format_RGB32);
    }

    void everyBitmapDepthSaves()
    {
        QFETCH(int, format);
        // Undithered: JPEG smooths dither noise away, which is no fault of the save.
        const QImage picture = TestPicture().convertToFormat(static_cast<QImage::Format>(format),
                                                             Qt::ThresholdDither | Qt::AvoidDither);
        UsePicture(picture);
        const QString name = Path(QStringLiteral("depth.jpg"));
        m_control->SaveAsJpeg(name);
        const QImage back(name);
        QCOMPARE(back.size(), picture.size());
        QVERIFY2(MeanDifference(back, picture) < 10, qPrintable(QString::number(MeanDifference(back, picture))));
    }

    void colourChoiceReachesTheWriter_data()
    {
        QTest::addColumn<int>("resolution");
        QTest::addColumn<int>("components");
        QTest::newRow("sJpegGray") << int(TSaveResolution::sJpegGray) << 1;
        QTest::newRow("sMonoChrome") << int(TSaveResolution::sMonoChrome) << 1;
        QTest::newRow("sAutoMatic") << int(TSaveResolution::sAutoMatic) << 3;
        QTest::newRow("sColorTrue") << int(TSaveResolution::sColorTrue) << 3;
        QTest::newRow("sColor256") << int(TSaveResolution::sColor256) << 3;
    }

    void colourChoiceReachesTheWriter()
    {
        QFETCH(int, resolution);
        QFETCH(int, components);
        UsePicture(TestPicture());
        m_control->SetImageWriteRes(static_cast<TSaveResolution>(resolution));
        const QString name = Path(QStringLiteral("colour.jpg"));
        m_control->SaveAsJpeg(name);
        QCOMPARE(JpegComponents(ReadAll(name)), components);
        QCOMPARE(QImage(name).isGrayscale(), components == 1);
    }

    void emptyNameWritesToTheDefaultName()
    {
        UsePicture(TestPicture());
        const QString name = Path(QStringLiteral("default.jpg"));
        m_control->SetDefSaveFilename(name);
        m_control->SaveAsJpeg(QString());
        QCOMPARE(m_control->DefSaveFilename(), name);
        QCOMPARE(QImage(name).size(), QSize(48, 32));
        m_control->SetDefSaveFilename(QString());
        QVERIFY(m_control->DefSaveFilename().isEmpty());
    }

    void replacesAnExistingFileAtomically()
    {
        UsePicture(TestPicture());
        const QString name = Path(QStringLiteral("photo.jpg"));
        const QString link = Path(QStringLiteral("second-link.jpg"));
        const QByteArray old("the old photo, kept by its other link");
        {
            QFile file(name);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QCOMPARE(file.write(old), old.size());
        }
        QCOMPARE(::link(QFile::encodeName(name).constData(), QFile::encodeName(link).constData()), 0);

        m_control->SaveAsJpeg(name);

        QCOMPARE(ReadAll(link), old);
        QCOMPARE(QImage(name).size(), QSize(48, 32));
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
                 (QStringList{QStringLiteral("photo.jpg"), QStringLiteral("second-link.jpg")}));
    }

    void nothingToWriteStillFinishes_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("no graphic") << int(imaging::TPicture::Kind::None);
        QTest::newRow("empty bitmap") << int(imaging::TPicture::Kind::Bitmap);
        QTest::newRow("icon") << int(imaging::TPicture::Kind::Icon);
    }

    void nothingToWriteStillFinishes()
    {
        QFETCH(int, kind);
        switch (static_cast<imaging::TPicture::Kind>(kind)) {
        case imaging::TPicture::Kind::None:
            m_control->Picture().Clear();
            break;
        case imaging::TPicture::Kind::Bitmap:
            m_control->Picture().SetBitmap(imaging::TBitmap());
            break;
        default:
            m_control->Picture().LoadFromFile(Data(QStringLiteral("preview/icon.ico")));
            break;
        }
        int errors = 0;
        m_control->OnIlibError = [&](TPMultiImage*, int16_t, const QString&, const char*) { ++errors; };
        m_control->SetJPegSaveSmooth(5);
        const QString name = Path(QStringLiteral("nothing.jpg"));
        m_control->SaveAsJpeg(name);
        QVERIFY(!QFile::exists(name));
        QCOMPARE(m_finished, 1);
        QCOMPARE(errors, 0);
        QCOMPARE(int(m_control->Picture().GraphicKind()), kind);
    }

    void writeFailureIsReportedNotRaised()
    {
        UsePicture(TestPicture());
        const QString name = Path(QStringLiteral("no-such-folder/out.jpg"));
        // Without a handler the report's exception stays inside the save.
        m_control->SaveAsJpeg(name);
        QCOMPARE(m_finished, 1);
        int16_t code = 0;
        m_control->OnIlibError = [&](TPMultiImage*, int16_t c, const QString&, const char*) { code = c; };
        m_control->SaveAsJpeg(name);
        QCOMPARE(code, int16_t{IL_ERR_WRITE});
        QCOMPARE(m_finished, 2);
        QVERIFY(!QFile::exists(name));
    }

    // A control that never set its smoothing hands 0 (none) to the writer.
    void newControlSavesWithoutSmoothing()
    {
        m_control->Picture().SetBitmap(imaging::TBitmap(TestPicture()));
        QCOMPARE(int(m_control->JPegSaveSmooth()), 0);
        QCOMPARE(int(m_control->JPegSaveQuality()), 25);
        int16_t code = 0;
        m_control->OnIlibError = [&](TPMultiImage*, int16_t c, const QString&, const char*) { code = c; };
        const QString name = Path(QStringLiteral("fresh.jpg"));
        m_control->SaveAsJpeg(name);
        QCOMPARE(code, int16_t{0});
        QCOMPARE(QImage(name).size(), QSize(48, 32));
    }

    // An 8-bit picture is sharpened as a 24-bit copy and comes back at 8
    // bits; a 1-bit one comes back at 4 bits (16 table entries).
    void sharpenRoundTripsThroughTrueColour_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("resolution");
        QTest::addColumn<int>("depth");
        QTest::addColumn<int>("colours");
        QTest::newRow("8 bit") << "parsers/bmp24.bmp" << int(TLoadResolution::lColor256) << 8 << 256;
        QTest::newRow("1 bit") << "parsers/bmp1.bmp" << int(TLoadResolution::lColorTrue) << 8 << 16;
        QTest::newRow("24 bit") << "parsers/bmp24.bmp" << int(TLoadResolution::lColorTrue) << 24 << 0;
    }

    void sharpenRoundTripsThroughTrueColour()
    {
        QFETCH(QString, file);
        QFETCH(int, resolution);
        QFETCH(int, depth);
        QFETCH(int, colours);
        m_control->SetImageReadRes(static_cast<TLoadResolution>(resolution));
        m_control->SetImageName(Data(file));
        const QImage before = Shown(*m_control);
        QVERIFY(!before.isNull());
        int changes = 0;
        m_control->OnPictureChanged = [&](TPMultiImage*) { ++changes; };

        m_control->SharpenImage(0, 0, 0, 0, 2);

        const QImage after = Shown(*m_control);
        QCOMPARE(after.size(), before.size());
        QCOMPARE(after.depth(), depth);
        QCOMPARE(after.colorCount(), colours);
        QCOMPARE(DllSP96::UndoBitmap(0).Handle(), before);
        QCOMPARE(changes, 1);
        QVERIFY(QGuiApplication::overrideCursor() == nullptr);
        // Two levels have no edge to steepen.
        if (before.depth() > 1)
            QVERIFY2(EdgeEnergy(after) > EdgeEnergy(before) * 1.05,
                     qPrintable(QStringLiteral("%1 %2").arg(EdgeEnergy(after)).arg(EdgeEnergy(before))));
    }

    // Right or bottom 0 stands for the picture's width and height; only
    // the rectangle changes.
    void sharpenRectangle_data()
    {
        QTest::addColumn<QRect>("asked");
        QTest::addColumn<QRect>("changed");
        QTest::newRow("all 0") << QRect(QPoint(0, 0), QPoint(-1, -1)) << QRect(0, 0, 48, 32);
        QTest::newRow("inside") << QRect(QPoint(8, 4), QPoint(23, 19)) << QRect(QPoint(8, 4), QPoint(23, 19));
        QTest::newRow("right 0") << QRect(QPoint(8, 4), QPoint(-1, 19)) << QRect(QPoint(8, 4), QPoint(47, 31));
        QTest::newRow("bottom 0") << QRect(QPoint(8, 4), QPoint(23, -1)) << QRect(QPoint(8, 4), QPoint(47, 31));
    }

    void sharpenRectangle()
    {
        QFETCH(QRect, asked);
        QFETCH(QRect, changed);
        const QImage before = TestPicture();
        m_control->Picture().SetBitmap(imaging::TBitmap(before));
        // QRect's right and bottom are inclusive; the filter's are not.
        m_control->SharpenImage(asked.left(), asked.top(), asked.right() + 1, asked.bottom() + 1, 2);
        const QImage after = Shown(*m_control);
        QCOMPARE(after.format(), QImage::Format_RGB888);
        bool changedInside = false;
        for (int y = 0; y < before.height(); ++y) {
            for (int x = 0; x < before.width(); ++x) {
                if (changed.contains(x, y))
                    changedInside = changedInside || after.pixel(x, y) != before.pixel(x, y);
                else if (after.pixel(x, y) != before.pixel(x, y))
                    QFAIL(qPrintable(QStringLiteral("pixel %1,%2 outside changed").arg(x).arg(y)));
            }
        }
        QVERIFY(changedInside);
        // Something changed near the far corner only when the rectangle reaches it.
        bool corner = false;
        for (int y = 24; y < 32; ++y)
            for (int x = 40; x < 48; ++x)
                corner = corner || after.pixel(x, y) != before.pixel(x, y);
        QCOMPARE(corner, changed.contains(47, 31));
    }

    void sharpenWithoutPictureRaises_data()
    {
        testfiles::BoolRows("icon", "no graphic", "icon");
    }

    void sharpenWithoutPictureRaises()
    {
        QFETCH(bool, icon);
        if (icon)
            m_control->Picture().LoadFromFile(Data(QStringLiteral("preview/icon.ico")));
        else
            m_control->Picture().Clear();
        const auto kind = m_control->Picture().GraphicKind();
        QString message;
        try {
            m_control->SharpenImage(0, 0, 0, 0, 2);
        } catch (const imaging::ErrorInvalid& error) {
            message = error.Message();
        }
        QCOMPARE(message, QStringLiteral("Input image is empty"));
        QVERIFY(QGuiApplication::overrideCursor() == nullptr);
        QCOMPARE(m_control->Picture().GraphicKind(), kind);
    }
};

QTEST_MAIN(PreviewSaveTest)
#include "preview_save_test.moc"
