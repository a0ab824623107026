// The whole reduction through the imaging modules: what the written file
// holds, what the source keeps, what is left behind, and the failures that
// must write nothing.
#include "ImagingModules.h"
#include "Sharpness.h"
#include "TestFiles.h"
#include "reduce/ResizeImage_Block.h"

#include "imaging/DllSP96.h"
#include "imaging/ErrorInvalid.h"
#include "imaging/MessageHandler.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using preview::TLoadResolution;
using preview::TPMultiImage;
using reduce::ResizeImage_Block;
namespace DllSP96 = imaging::DllSP96;

namespace {

QString Photo(const QString& name)
{
    return QStringLiteral(SNIMKOREZ_PHOTOS "/") + name;
}

using testfiles::ReadAll;

using quality::EdgeEnergy;

// Hard-edged blocks: something a JPEG keeps and the quality shows in.
QImage Checkerboard(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, (x / 16 + y / 16) % 2 ? qRgb(230, 40 + x % 200, 30)
                                                       : qRgb(20, 90, 60 + y % 190));
    return image;
}

}  // namespace

class ReducePipelineTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<testfiles::ImagingModules> m_modules;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TPMultiImage> m_source;
    QStringList m_messages;

    QString Path(const QString& name) const { return m_dir->filePath(name); }

    // The folder holds only what the test put there.
    void VerifyNothingWritten(const QStringList& inputs) const
    {
        const QStringList entries = QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(entries, inputs);
    }

private Q_SLOTS:
    void initTestCase()
    {
        imaging::SetMessageHandler([this](const QString& text) { m_messages << text; });
        m_modules = std::make_unique<testfiles::ImagingModules>(QStringLiteral(SNIMKOREZ_MODULE_DIR));
    }

    void cleanupTestCase() { m_modules.reset(); }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_messages.clear();
        m_source = std::make_unique<TPMultiImage>();
        m_source->SetImageReadRes(TLoadResolution::lColorTrue);
    }

    void cleanup()
    {
        QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join(QLatin1Char('\n'))));
        m_source.reset();
        m_dir.reset();
    }

    void Photos_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QSize>("expected");
        // 1074 × 728 / 1365 = 572.8; 2056 × 728 / 3088 = 484.7.
        QTest::newRow("landscape") << QStringLiteral("Picture_1A_by_freespace.jpg") << QSize(728, 573);
        QTest::newRow("portrait") << QStringLiteral("friends_by_Aitzol_Berasategi.jpg") << QSize(485, 728);
    }

    void Photos()
    {
        QFETCH(QString, file);
        QFETCH(QSize, expected);
        const QString photo = Photo(file);
        QVERIFY2(QFileInfo::exists(photo), "scripts/install-deps installs lomiri-wallpapers");
        const QByteArray photoBytes = ReadAll(photo);
        const QDateTime photoTime = QFileInfo(photo).lastModified();

        m_source->SetImageName(photo);
        const imaging::TBitmap* loaded = m_source->Picture().BitmapOrNull();
        QVERIFY(loaded && loaded->HandleAllocated());
        const QImage shown = loaded->Handle();
        int changes = 0;
        m_source->OnPictureChanged = [&changes](TPMultiImage*) { ++changes; };
        const qsizetype windows = QApplication::topLevelWidgets().size();

        const QString output = Path(QStringLiteral("out.jpg"));
        ResizeImage_Block(nullptr, *m_source, 728, 640, 90, 2, output);

        const QByteArray written = ReadAll(output);
        QVERIFY(written.startsWith("\xFF\xD8"));
        QImageReader reader(output);
        QCOMPARE(reader.format(), QByteArray("jpeg"));
        const QImage result = reader.read();
        QVERIFY2(!result.isNull(), qPrintable(reader.errorString()));
        QCOMPARE(result.size(), expected);
        VerifyNothingWritten({QStringLiteral("out.jpg")});

        QCOMPARE(ReadAll(photo), photoBytes);
        QCOMPARE(QFileInfo(photo).lastModified(), photoTime);
        QCOMPARE(changes, 0);
        QVERIFY(m_source->Picture().BitmapOrNull());
        QVERIFY(m_source->Picture().BitmapOrNull()->Handle() == shown);
        QCOMPARE(QApplication::topLevelWidgets().size(), windows);

        // The scaled copy before sharpening is what undo brings back.
        const imaging::TBitmap unsharpened = DllSP96::UndoBitmap(0);
        QCOMPARE(unsharpened.Handle().size(), expected);
        QVERIFY(EdgeEnergy(result) > EdgeEnergy(unsharpened.Handle()));
    }

    // Only the low 8 bits of the quality reach the writer.
    void QualityLowByte()
    {
        m_source->Picture().SetBitmap(imaging::TBitmap(Checkerboard(1000, 700)));
        ResizeImage_Block(nullptr, *m_source, 728, 640, 90, 2, Path(QStringLiteral("q90.jpg")));
        ResizeImage_Block(nullptr, *m_source, 728, 640, 256 + 90, 2, Path(QStringLiteral("q346.jpg")));
        ResizeImage_Block(nullptr, *m_source, 728, 640, 256 + 10, 2, Path(QStringLiteral("q266.jpg")));
        const QByteArray q90 = ReadAll(Path(QStringLiteral("q90.jpg")));
        const QByteArray q266 = ReadAll(Path(QStringLiteral("q266.jpg")));
        QVERIFY(!q90.isEmpty());
        QCOMPARE(ReadAll(Path(QStringLiteral("q346.jpg"))), q90);
        QVERIFY(!q266.isEmpty());
        QVERIFY(q266.size() < q90.size() / 2);
    }

    // Events waiting when the call starts run inside it, before the file is written.
    void PendingEventsRunInside()
    {
        m_source->Picture().SetBitmap(imaging::TBitmap(Checkerboard(800, 600)));
        const QString output = Path(QStringLiteral("out.jpg"));
        bool ran = false;
        bool fileThen = true;
        QMetaObject::invokeMethod(
            qApp, [&] {
                ran = true;
                fileThen = QFile::exists(output);
            },
            Qt::QueuedConnection);
        ResizeImage_Block(nullptr, *m_source, 728, 640, 90, 2, output);
        QVERIFY(ran);
        QVERIFY(!fileThen);
        QVERIFY(QFile::exists(output));
    }

    // Each ends with "Input image is empty", writes nothing and leaves no
    // control behind. An icon taken as a bitmap empties the picture, and the
    // control hears of it. Width-fit makes a 1 × 1000 strip 728 × 728000:
    // more than the scaler will make, so no block comes back.
    void Failures_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<int>("threshold");
        QTest::addColumn<int>("changes");
        QTest::newRow("empty bitmap") << QString() << 640 << 0;
        QTest::newRow("icon") << QStringLiteral("icon") << 640 << 1;
        QTest::newRow("scaler refuses") << QStringLiteral("strip") << 0 << 0;
    }

    void Failures()
    {
        QFETCH(QString, source);
        QFETCH(int, threshold);
        QFETCH(int, changes);
        QStringList inputs;
        if (source == QLatin1String("icon")) {
            inputs << QStringLiteral("icon.png");
            QVERIFY(Checkerboard(32, 32).save(Path(inputs.first())));
            m_source->Picture().LoadFromFile(Path(inputs.first()));
        } else if (source == QLatin1String("strip")) {
            m_source->Picture().SetBitmap(imaging::TBitmap(Checkerboard(1, 1000)));
        }
        int changed = 0;
        m_source->OnPictureChanged = [&changed](TPMultiImage*) { ++changed; };
        const qsizetype windows = QApplication::topLevelWidgets().size();

        QString message;
        try {
            ResizeImage_Block(nullptr, *m_source, 728, threshold, 90, 2, Path(QStringLiteral("out.jpg")));
        } catch (const imaging::ErrorInvalid& error) {
            message = error.Message();
        }
        QCOMPARE(message, QStringLiteral("Input image is empty"));
        VerifyNothingWritten(inputs);
        QCOMPARE(QApplication::topLevelWidgets().size(), windows);
        QCOMPARE(changed, changes);
        QCOMPARE(m_source->Picture().GraphicKind(), imaging::TPicture::Kind::Bitmap);
        QCOMPARE(m_source->Picture().BitmapOrNull()->HandleAllocated(), source == QLatin1String("strip"));
    }

    // A side the rule rounds to 0 is written one pixel high.
    void ThinStrip()
    {
        m_source->Picture().SetBitmap(imaging::TBitmap(Checkerboard(5000, 1)));
        const QString output = Path(QStringLiteral("strip.jpg"));
        ResizeImage_Block(nullptr, *m_source, 728, 640, 90, 2, output);
        QCOMPARE(QImageReader(output).size(), QSize(728, 1));
    }
};

QTEST_MAIN(ReducePipelineTest)
#include "reduce_pipeline_test.moc"
