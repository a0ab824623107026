// Loading a picture into the preview control by file name: every way the
// extension picks, the pixels against files made by an independent encoder
// (tests/data/make-*), and the load's events, flags and failures.
#include "ImagingModules.h"
#include "Ppm.h"
#include "Shown.h"
#include "TestFiles.h"
#include "preview/TPMultiImage.h"

#include "imaging/DLL96V1.h"
#include "imaging/DllSP96.h"
#include "imaging/ErrorInvalid.h"
#include "imaging/MessageHandler.h"

#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <memory>

using preview::TLoadResolution;
using preview::TPMultiImage;
namespace DLL96V1 = imaging::DLL96V1;
namespace DllSP96 = imaging::DllSP96;

namespace {

using testfiles::Data;
using testfiles::ReadPpm;
using testfiles::Shown;

QImage Reference(const QString& path)
{
    return path.endsWith(QLatin1String(".ppm")) ? ReadPpm(path) : QImage(path);
}

// Largest difference of any channel of any pixel; -1 for different sizes.
int MaxDifference(const QImage& a, const QImage& b)
{
    if (a.isNull() || a.size() != b.size())
        return -1;
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    int worst = 0;
    for (int r = 0; r < x.height(); ++r) {
        const auto* p = reinterpret_cast<const QRgb*>(x.constScanLine(r));
        const auto* q = reinterpret_cast<const QRgb*>(y.constScanLine(r));
        for (int c = 0; c < x.width(); ++c) {
            worst = std::max({worst, std::abs(qRed(p[c]) - qRed(q[c])),
                              std::abs(qGreen(p[c]) - qGreen(q[c])), std::abs(qBlue(p[c]) - qBlue(q[c]))});
        }
    }
    return worst;
}

}  // namespace

class PreviewLoadTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<testfiles::ImagingModules> m_modules;
    QTemporaryDir m_dir;
    QStringList m_messages;
    std::unique_ptr<TPMultiImage> m_control;
    int m_finished = 0;
    bool m_loadingWhenFinished = true;

    QString Copy(const QString& source, const QString& name)
    {
        const QString target = m_dir.filePath(name);
        QFile::remove(target);
        return QFile::copy(Data(source), target) ? target : QString();
    }

    QString Write(const QString& name, const QByteArray& bytes)
    {
        QFile file(m_dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            return {};
        return file.fileName();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        imaging::SetMessageHandler([this](const QString& text) { m_messages << text; });
        m_modules = std::make_unique<testfiles::ImagingModules>(QStringLiteral(SNIMKOREZ_MODULE_DIR));
    }

    void init()
    {
        m_messages.clear();
        m_control = std::make_unique<TPMultiImage>();
        m_control->SetImageReadRes(TLoadResolution::lColorTrue);
        m_finished = 0;
        m_loadingWhenFinished = true;
        m_control->OnFinishedLoadSave = [this](TPMultiImage* sender) {
            QCOMPARE(sender, m_control.get());
            ++m_finished;
            m_loadingWhenFinished = sender->Loading();
        };
    }

    void cleanup() { m_control.reset(); }

    void readsEveryLibraryFormat_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("reference");
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("type");
        QTest::addColumn<int>("tolerance");
        QTest::newRow("jpeg") << "jpeg/baseline-q98.jpg" << "jpeg/reference.png" << 0 << "JPEG" << 12;
        QTest::newRow("progressive jpeg") << "jpeg/progressive.jpg" << "jpeg/reference.png" << 0 << "JPEG" << 16;
        QTest::newRow("png rgb") << "raster/png-rgb8.png" << "raster/png-rgb8.ppm" << 0 << "PNG" << 1;
        QTest::newRow("png palette") << "raster/png-palette8.png" << "raster/png-palette8.ppm" << 0 << "PNG" << 1;
        QTest::newRow("bmp 24") << "parsers/bmp24.bmp" << "parsers/bmp24.ppm" << 0 << "BMP" << 1;
        QTest::newRow("bmp 8 rle") << "parsers/bmp8_rle.bmp" << "parsers/bmp8_rle.ppm" << 0 << "BMP" << 1;
        QTest::newRow("gif") << "raster/gif-global.gif" << "raster/gif-global.ppm" << 0 << "GIF" << 1;
        QTest::newRow("tiff page 0") << "raster/tiff-pages.tif" << "raster/tiff-pages-0.ppm" << 0 << "TIF" << 1;
        QTest::newRow("tiff page 2") << "raster/tiff-pages.tif" << "raster/tiff-pages-2.ppm" << 2 << "TIF" << 1;
        QTest::newRow("tga") << "parsers/tga24.tga" << "parsers/tga24.ppm" << 0 << "TGA" << 1;
        QTest::newRow("tga mapped rle") << "parsers/tga_mapped_rle.tga" << "parsers/tga_mapped_rle.ppm" << 0 << "TGA" << 1;
        QTest::newRow("pcx 24") << "parsers/pcx24.pcx" << "parsers/pcx24.ppm" << 0 << "PCX" << 1;
        QTest::newRow("pcx 8") << "parsers/pcx8.pcx" << "parsers/pcx8.ppm" << 0 << "PCX" << 1;
        // Named by content when the extension names no format.
        QTest::newRow("jpeg as .xyz") << "jpeg/baseline-q98.jpg|photo.xyz" << "jpeg/reference.png" << 0 << "JPEG" << 12;
        QTest::newRow("png as .dat") << "raster/png-rgb8.png|picture.dat" << "raster/png-rgb8.ppm" << 0 << "PNG" << 1;
        QTest::newRow("tiff as .bin") << "raster/tiff-pages.tif|pages.bin" << "raster/tiff-pages-1.ppm" << 1 << "TIFF" << 1;
        // Upper-case extension, as Windows names often have.
        QTest::newRow("JPG upper case") << "jpeg/baseline-q98.jpg|PHOTO.JPG" << "jpeg/reference.png" << 0 << "JPEG" << 12;
    }

    void readsEveryLibraryFormat()
    {
        QFETCH(QString, file);
        QFETCH(QString, reference);
        QFETCH(int, page);
        QFETCH(QString, type);
        QFETCH(int, tolerance);
        const QStringList parts = file.split(QLatin1Char('|'));
        const QString name = parts.size() == 2 ? Copy(parts[0], parts[1]) : Data(file);
        QVERIFY(!name.isEmpty());
        const QImage expected = Reference(Data(reference));
        QVERIFY(!expected.isNull());

        m_control->SetTiffPage(static_cast<int16_t>(page));
        m_control->SetImageName(name);

        QCOMPARE(m_control->ImageName(), name);
        QCOMPARE(m_finished, 1);
        QVERIFY(!m_loadingWhenFinished);
        QVERIFY(!m_control->Loading());
        QCOMPARE(Shown(*m_control).depth(), 24);
        QCOMPARE(Shown(*m_control).size(), expected.size());
        QVERIFY2(MaxDifference(Shown(*m_control), expected) <= tolerance,
                 qPrintable(QString::number(MaxDifference(Shown(*m_control), expected))));
        QCOMPARE(m_control->FileInfo().imageType, type);
        // Information by content describes a TIFF's first page.
        if (type != QLatin1String("TIFF")) {
            QCOMPARE(m_control->FileInfo().width, expected.width());
            QCOMPARE(m_control->FileInfo().height, expected.height());
        }
        QCOMPARE(m_control->FileInfo().size, static_cast<int32_t>(QFileInfo(name).size()));
        QVERIFY(m_messages.isEmpty());
    }

    // Which loads end with OnFinishedLoadSave, and what the picture is after.
    void finishingStepsAndPicture_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("finished");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QSize>("size");
        using Kind = imaging::TPicture::Kind;
        QTest::newRow("missing file") << "|no-such-file.jpg" << 0 << int(Kind::None) << QSize(0, 0);
        QTest::newRow("empty name") << "|" << 0 << int(Kind::None) << QSize(0, 0);
        QTest::newRow("folder") << "|." << 0 << int(Kind::None) << QSize(0, 0);
        QTest::newRow("icon") << "preview/icon.ico" << 0 << int(Kind::Icon) << QSize(16, 16);
        QTest::newRow("jpeg") << "jpeg/baseline-q98.jpg" << 1 << int(Kind::Bitmap) << QSize(48, 32);
        QTest::newRow("scrolling message") << "jpeg/baseline-q98.jpg|message.scm" << 1 << int(Kind::None) << QSize(0, 0);
        QTest::newRow("credit message") << "jpeg/baseline-q98.jpg|credits.CMS" << 1 << int(Kind::None) << QSize(0, 0);
        // Thumbnails and resources install without the finishing steps.
        QTest::newRow("jpeg thumbnail") << "jpeg/baseline-q98.jpg|photo.thj" << 0 << int(Kind::Bitmap) << QSize(48, 32);
        QTest::newRow("bmp thumbnail") << "parsers/bmp24.bmp|photo.THB" << 0 << int(Kind::Bitmap) << QSize(37, 23);
        QTest::newRow("resource") << "|sample.res" << 0 << int(Kind::Bitmap) << QSize(20, 7);
        // The content's reader takes over when the extension's fails.
        QTest::newRow("gif under .png") << "raster/gif-global.gif|wrong.png" << 1 << int(Kind::Bitmap) << QSize(37, 23);
        // A failed read empties the picture and still finishes.
        QTest::newRow("bmp thumbnail holding a jpeg") << "jpeg/baseline-q98.jpg|photo.thb" << 1 << int(Kind::None) << QSize(0, 0);
        QTest::newRow("truncated png") << "raster/png-rgb8.png|cut.png" << 1 << int(Kind::None) << QSize(0, 0);
        QTest::newRow("missing resource") << "|nothing.res" << 1 << int(Kind::None) << QSize(0, 0);
    }

    void finishingStepsAndPicture()
    {
        QFETCH(QString, file);
        QFETCH(int, finished);
        QFETCH(int, kind);
        QFETCH(QSize, size);
        const QStringList parts = file.split(QLatin1Char('|'));
        QString name;
        if (parts.size() == 1)
            name = Data(file);
        else if (parts[0].isEmpty())
            name = parts[1];
        else
            name = Copy(parts[0], parts[1]);
        if (name.endsWith(QLatin1String("cut.png"))) {
            QFile cut(name);
            QVERIFY(cut.resize(cut.size() / 2));
        }
        // Whatever the load does, it starts from a picture and an error handler.
        QString reported;
        m_control->OnIlibError = [&](TPMultiImage*, int16_t, const QString& text, const char*) { reported = text; };
        m_control->Picture().SetBitmap(imaging::TBitmap(QImage(5, 5, QImage::Format_RGB888)));

        m_control->SetImageName(name);

        QCOMPARE(m_finished, finished);
        QCOMPARE(int(m_control->Picture().GraphicKind()), kind);
        QCOMPARE(QSize(m_control->Picture().Width(), m_control->Picture().Height()), size);
        QVERIFY(!m_control->Loading());
        if (name == QLatin1String("nothing.res"))
            QVERIFY2(reported.contains(QLatin1String(":/bitmaps/NOTHING.bmp")), qPrintable(reported));
    }

    void resourceBitmapKeepsItsColourTable()
    {
        m_control->SetImageName(QStringLiteral("C:/anywhere/Sample.RES"));
        const QImage expected(Data(QStringLiteral("preview/SAMPLE.bmp")));
        QCOMPARE(Shown(*m_control).format(), QImage::Format_Indexed8);
        QCOMPARE(MaxDifference(Shown(*m_control), expected), 0);
        QCOMPARE(m_control->Picture().BitmapOrNull()->Palette(), expected.colorTable());
        QCOMPARE(m_control->FileInfo().imageType, QStringLiteral("RES"));
        QCOMPARE(m_control->FileInfo().compression, QStringLiteral("BMP"));
        // Header, 256 table entries, 7 rows of 20 bytes.
        QCOMPARE(m_control->FileInfo().size, 40 + 4 * 256 + 7 * 20);
    }

    void tiffPageIsLoweredToTheLastPage_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<int>("pageRead");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QRgb>("colour");
        QTest::newRow("page 0") << 0 << 0 << QSize(20, 14) << qRgb(0xd0, 0x20, 0x20);
        QTest::newRow("page 1") << 1 << 1 << QSize(11, 9) << qRgb(0x20, 0x40, 0xc0);
        QTest::newRow("page 2 of 2") << 2 << 1 << QSize(11, 9) << qRgb(0x20, 0x40, 0xc0);
        QTest::newRow("page 5 of 2") << 5 << 1 << QSize(11, 9) << qRgb(0x20, 0x40, 0xc0);
    }

    void tiffPageIsLoweredToTheLastPage()
    {
        QFETCH(int, page);
        QFETCH(int, pageRead);
        QFETCH(QSize, size);
        QFETCH(QRgb, colour);
        m_control->SetTiffPage(static_cast<int16_t>(page));
        m_control->SetImageName(Data(QStringLiteral("preview/two-pages.tif")));
        QCOMPARE(int(m_control->TiffPage()), pageRead);
        QCOMPARE(m_control->FileInfo().tiffPage, int16_t{2});
        QCOMPARE(Shown(*m_control).size(), size);
        QCOMPARE(m_control->FileInfo().width, size.width());
        QCOMPARE(Shown(*m_control).pixel(size.width() - 1, size.height() - 1), colour);
        QCOMPARE(m_finished, 1);
    }

    void readBitsFollowImageReadRes_data()
    {
        QTest::addColumn<int>("resolution");
        QTest::addColumn<int>("bits");
        QTest::addColumn<int>("depth");
        QTest::addColumn<int>("maxColours");
        // GIF of 64 colours: what the reader was asked shows in the bitmap.
        QTest::newRow("lColorVga") << int(TLoadResolution::lColorVga) << 0 << 8 << 16;
        QTest::newRow("lMonoChrome") << int(TLoadResolution::lMonoChrome) << 1 << 1 << 2;
        QTest::newRow("lColor16") << int(TLoadResolution::lColor16) << 4 << 8 << 16;
        QTest::newRow("lColor256") << int(TLoadResolution::lColor256) << 8 << 8 << 256;
        QTest::newRow("lColorTrue") << int(TLoadResolution::lColorTrue) << 24 << 24 << 0;
    }

    void readBitsFollowImageReadRes()
    {
        QFETCH(int, resolution);
        QFETCH(int, bits);
        QFETCH(int, depth);
        QFETCH(int, maxColours);
        m_control->SetImageReadRes(static_cast<TLoadResolution>(resolution));
        QCOMPARE(int(m_control->ReadBits()), bits);
        m_control->SetImageName(Data(QStringLiteral("raster/gif-global.gif")));
        QCOMPARE(Shown(*m_control).depth(), depth);
        QVERIFY(Shown(*m_control).colorCount() <= maxColours);
    }

    void automaticReadsAtTheDisplayDepth()
    {
        QScreen* screen = QGuiApplication::primaryScreen();
        QVERIFY(screen);
        if (screen->depth() < 16)
            QSKIP("needs a display of 16 or more bits per pixel");
        m_control->SetImageReadRes(TLoadResolution::lAutoMatic);
        QCOMPARE(m_control->ReadBits(), int16_t{24});
        // A 64-colour GIF asked for 24 bits comes back as true colour.
        m_control->SetImageName(Data(QStringLiteral("raster/gif-global.gif")));
        QCOMPARE(Shown(*m_control).depth(), 24);
    }

    // Files with few bits per pixel are read as monochrome bitmaps, whatever
    // depth the control asks for.
    void fewBitsGiveMonochrome_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("reference");
        QTest::addColumn<int>("depth");
        QTest::newRow("1-bit bmp") << "parsers/bmp1.bmp" << "parsers/bmp1.ppm" << 1;
        QTest::newRow("1-bit pcx") << "parsers/pcx1.pcx" << "parsers/pcx1.ppm" << 1;
        QTest::newRow("1-bit png") << "raster/png-grey1.png" << "raster/png-grey1.ppm" << 1;
        // Four colours are more than one bit can show.
        QTest::newRow("2-bit gif") << "raster/gif-four-colours.gif" << "" << 24;
        QTest::newRow("4-bit gif") << "raster/gif-interlaced.gif" << "raster/gif-interlaced.ppm" << 24;
        QTest::newRow("4-bit bmp") << "parsers/bmp4.bmp" << "parsers/bmp4.ppm" << 24;
    }

    void fewBitsGiveMonochrome()
    {
        QFETCH(QString, file);
        QFETCH(QString, reference);
        QFETCH(int, depth);
        m_control->SetImageName(Data(file));
        QCOMPARE(Shown(*m_control).depth(), depth);
        if (!reference.isEmpty())
            QCOMPARE(MaxDifference(Shown(*m_control), ReadPpm(Data(reference))), 0);
    }

    void fileInformationFailure()
    {
        const QString name = Write(QStringLiteral("noise.xyz"), QByteArray(64, 'x'));
        QVERIFY(!name.isEmpty());
        m_control->Picture().SetBitmap(imaging::TBitmap(QImage(5, 5, QImage::Format_RGB888)));

        // Without a handler the library's text leaves the setter.
        bool raised = false;
        try {
            m_control->SetImageName(name);
        } catch (const imaging::ErrorInvalid& error) {
            raised = true;
            QCOMPARE(error.Message(), DLL96V1::ErrorText());
        }
        QVERIFY(raised);
        QVERIFY(!DLL96V1::ErrorText().isEmpty());
        QVERIFY(!m_control->Loading());
        QCOMPARE(m_finished, 0);
        QCOMPARE(m_control->FileInfo().imageType, QString());

        // With one, the load goes on: no reader names an unknown format.
        int16_t code = 0;
        QString text;
        QByteArray textZ;
        m_control->OnIlibError = [&](TPMultiImage*, int16_t c, const QString& t, const char* z) {
            code = c;
            text = t;
            textZ = QByteArray(z);
        };
        m_control->SetImageName(name);
        QCOMPARE(code, int16_t{IL_ERR_FORMAT});
        QCOMPARE(text, DLL96V1::ErrorText());
        QCOMPARE(QString::fromUtf8(textZ), text);
        QCOMPARE(m_finished, 1);
        QCOMPARE(Shown(*m_control).size(), QSize(5, 5));
    }

    void progressReportsAndCancels()
    {
        const QString name = Copy(QStringLiteral("jpeg/baseline-q98.jpg"), QStringLiteral("Progress.JPG"));
        QStringList messages;
        bool cancel = false;
        m_control->OnProgress = [&](TPMultiImage* sender, int16_t, const QString& message, bool& stop) {
            QCOMPARE(sender, m_control.get());
            QVERIFY(!stop);
            messages << message;
            stop = cancel;
        };
        m_control->SetImageName(name);
        QVERIFY(messages.contains(QStringLiteral("reading ") + name.toLower()));
        QCOMPARE(Shown(*m_control).size(), QSize(48, 32));

        cancel = true;
        int16_t code = 0;
        m_control->OnIlibError = [&](TPMultiImage*, int16_t c, const QString&, const char*) { code = c; };
        m_control->SetImageName(name);
        QCOMPARE(code, int16_t{IL_ERR_CANCELLED});
        QVERIFY(!m_control->Picture().HasGraphic());
        QCOMPARE(m_finished, 2);

        QCOMPARE(TPMultiImage::ProgressCallback(50, nullptr), 1);
        QCOMPARE(TPMultiImage::ProgressCallback(50, m_control.get()), 0);
        // A handler that raises must not unwind through the module: it stops the work.
        m_control->OnProgress = [](TPMultiImage*, int16_t, const QString&, bool&) {
            throw imaging::ErrorInvalid(QStringLiteral("stop"));
        };
        QCOMPARE(TPMultiImage::ProgressCallback(50, m_control.get()), 0);
    }

    void loadingFlagDuringPictureChanges()
    {
        QList<bool> loadingAtChange;
        m_control->OnPictureChanged = [&](TPMultiImage* sender) { loadingAtChange << sender->Loading(); };
        m_control->SetImageName(Data(QStringLiteral("jpeg/baseline-q98.jpg")));
        m_control->SetImageName(QStringLiteral("no-such-file.png"));
        QCOMPARE(loadingAtChange, (QList<bool>{true, true}));
        QVERIFY(!m_control->Loading());
        // Changes outside a load are not part of one.
        m_control->Picture().Clear();
        QCOMPARE(loadingAtChange.last(), false);
    }

    void loadingFlagOffAfterAnException()
    {
        const QString name = Write(QStringLiteral("broken.ico"), QByteArray(64, '\0'));
        bool raised = false;
        try {
            m_control->SetImageName(name);
        } catch (const std::exception&) {
            raised = true;
        }
        QVERIFY(raised);
        QVERIFY(!m_control->Loading());
        QCOMPARE(m_finished, 0);
    }

    void outgoingPictureGoesToTheUndoStore()
    {
        m_control->SetImageName(Data(QStringLiteral("parsers/bmp24.bmp")));
        const QImage first = Shown(*m_control);
        m_control->SetImageName(Data(QStringLiteral("jpeg/baseline-q98.jpg")));
        QCOMPARE(DllSP96::UndoBitmap(0).Handle(), first);

        const QImage second = Shown(*m_control);
        m_control->SetILUndo(false);
        m_control->SetImageName(Data(QStringLiteral("raster/png-rgb8.png")));
        QCOMPARE(DllSP96::UndoBitmap(0).Handle(), first);
        QVERIFY(DllSP96::UndoBitmap(0).Handle() != second);
    }

    void fileInformationOfPictureFormats()
    {
        QVERIFY(!m_control->ReadFileInfo(m_dir.filePath(QStringLiteral("absent.wmf"))));
        QCOMPARE(m_control->FileInfo().imageType, QStringLiteral("ERR"));
        QCOMPARE(m_control->FileInfo().width, -1);
        QCOMPARE(m_control->FileInfo().size, -1);
        const QString name = Write(QStringLiteral("present.cms"), QByteArray(10, 'c'));
        QVERIFY(m_control->ReadFileInfo(name));
        QCOMPARE(m_control->FileInfo().imageType, QStringLiteral("CMS"));
        QCOMPARE(m_control->FileInfo().size, 10);
    }
};

QTEST_MAIN(PreviewLoadTest)
#include "preview_load_test.moc"
