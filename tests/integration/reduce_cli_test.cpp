// The command-line reduction run as users run it: no display, several photos,
// one of them broken.
#include "Finished.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <libheif/heif.h>

#include <algorithm>
#include <cstring>

namespace {

using testfiles::ReadAll;
using testfiles::Run;
using testfiles::WriteAll;

QImage Photo(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixelColor(x, y, QColor((x * 7) % 256, (y * 5) % 256, ((x + y) * 3) % 256));
    }
    return image;
}

// `image` saved as a HEIC shown turned 90° clockwise, as a phone held
// upright stores its sensor's picture.
bool SaveTurnedHeic(const QImage& image, const QString& path)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    heif_image* picture = nullptr;
    heif_image_create(rgb.width(), rgb.height(), heif_colorspace_RGB, heif_chroma_interleaved_RGB, &picture);
    heif_image_add_plane(picture, heif_channel_interleaved, rgb.width(), rgb.height(), 8);
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(picture, heif_channel_interleaved, &stride);
    for (int y = 0; y < rgb.height(); ++y)
        std::memcpy(plane + static_cast<ptrdiff_t>(stride) * y, rgb.constScanLine(y), static_cast<size_t>(rgb.width()) * 3);
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder);
    heif_encoding_options* options = heif_encoding_options_alloc();
    options->image_orientation = heif_orientation_rotate_90_cw;
    const bool saved = heif_context_encode_image(context, picture, encoder, options, nullptr).code == heif_error_Ok &&
                       heif_context_write_to_file(context, QFile::encodeName(path).constData()).code == heif_error_Ok;
    heif_encoding_options_free(options);
    heif_encoder_release(encoder);
    heif_context_free(context);
    heif_image_release(picture);
    return saved;
}

}  // namespace

class ReduceCliTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }

    void reducesEachPhotoAndReportsTheBrokenOne()
    {
        const QString landscape = m_dir->filePath(QStringLiteral("дача.v2.jpg"));
        const QString portrait = m_dir->filePath(QStringLiteral("sofa.PNG"));
        const QString small = m_dir->filePath(QStringLiteral("small.bmp"));
        const QString broken = m_dir->filePath(QStringLiteral("broken.jpg"));
        QVERIFY(Photo(1600, 1200).save(landscape, "JPEG", 95));
        QVERIFY(Photo(1200, 1600).save(portrait, "PNG"));
        QVERIFY(Photo(500, 300).save(small, "BMP"));
        QFile bad(broken);
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write(QByteArray(4096, 'x'));
        bad.close();
        const QByteArray original = ReadAll(landscape);

        const Run run = Start({QStringLiteral("--jobs"), QStringLiteral("2"), landscape, portrait, broken, small});
        QCOMPARE(run.code, 1);
        const QStringList lines = QString::fromUtf8(run.out).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        const struct {
            QString output;
            QSize size;
        } expected[] = {
            {m_dir->filePath(QStringLiteral("дача.v2_Resize728px.jpg")), {728, 546}},
            {m_dir->filePath(QStringLiteral("sofa_Resize728px.jpg")), {546, 728}},
            {m_dir->filePath(QStringLiteral("small_Resize728px.jpg")), {500, 300}},  // kept: under 640
        };
        for (const auto& file : expected) {
            const QString line = file.output + QStringLiteral(" %1x%2").arg(file.size.width()).arg(file.size.height());
            QVERIFY2(lines.contains(line), qPrintable(line + QStringLiteral(" not in:\n") + lines.join(u'\n')));
            QImageReader reader(file.output);
            QCOMPARE(reader.format(), QByteArray("jpeg"));
            QCOMPARE(reader.size(), file.size);
        }
        QVERIFY(QString::fromUtf8(run.err).contains(broken));
        QCOMPARE(ReadAll(landscape), original);
        QVERIFY(!QFile::exists(m_dir->filePath(QStringLiteral("broken_Resize728px.jpg"))));
    }

    // A single-scan photo whose data break off or turn to garbage partway:
    // an error, and no file written, not even a temporary one.
    void brokenHalfwayWritesNothing()
    {
        const QString cut = m_dir->filePath(QStringLiteral("cut.jpg"));
        const QString spoilt = m_dir->filePath(QStringLiteral("spoilt.jpg"));
        QVERIFY(Photo(1600, 1200).save(cut, "JPEG", 95));
        QByteArray whole = ReadAll(cut);
        WriteAll(cut, whole.left(whole.size() * 2 / 3));
        std::fill(whole.begin() + whole.size() / 2, whole.begin() + whole.size() * 3 / 4, char(0xFF));
        WriteAll(spoilt, whole);

        const Run run = Start({QStringLiteral("--jobs"), QStringLiteral("1"), cut, spoilt});
        QCOMPARE(run.code, 1);
        QVERIFY(run.out.isEmpty());
        QVERIFY2(run.err.contains(QFile::encodeName(cut)) && run.err.contains(QFile::encodeName(spoilt)), run.err);
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
                 QStringList({QStringLiteral("cut.jpg"), QStringLiteral("spoilt.jpg")}));
    }

    // A phone's HEIC, stored sideways and shown upright: reduced by the
    // size it is shown at.
    void reducesHeic()
    {
        const QString photo = m_dir->filePath(QStringLiteral("IMG_0001.HEIC"));
        QVERIFY(SaveTurnedHeic(Photo(1600, 1200), photo));
        const Run run = Start({photo});
        QCOMPARE(QString::fromUtf8(run.err), QString());
        QCOMPARE(run.code, 0);
        const QString output = m_dir->filePath(QStringLiteral("IMG_0001_Resize728px.jpg"));
        QCOMPARE(QString::fromUtf8(run.out), output + QStringLiteral(" 546x728\n"));
        QImageReader reader(output);
        QCOMPARE(reader.format(), QByteArray("jpeg"));
        QCOMPARE(reader.size(), QSize(546, 728));
    }

    void usage()
    {
        const Run help = Start({QStringLiteral("--help")});
        QCOMPARE(help.code, 0);
        QVERIFY(help.out.startsWith("Использование: snimkorez-reduce"));
        QCOMPARE(Start({}).code, 2);
        for (const QString& count : {QStringLiteral("0"), QStringLiteral("two"), QStringLiteral("-1")})
            QCOMPARE(Start({QStringLiteral("--jobs"), count, QStringLiteral("x.jpg")}).code, 2);
        QCOMPARE(Start({QStringLiteral("--jobs")}).code, 2);
        QCOMPARE(Start({QStringLiteral("--frobnicate")}).code, 2);
    }

    // A name without a folder writes into the current one; a name that is
    // all extension loses it, as in the main window; "--jobs=N" is the same
    // option; a missing photo is named with the module's reason.
    void relativeNamesAndMissingPhotos()
    {
        QVERIFY(Photo(800, 600).save(m_dir->filePath(QStringLiteral("стол")), "JPEG"));
        QVERIFY(Photo(800, 600).save(m_dir->filePath(QStringLiteral(".jpg")), "JPEG"));
        const Run run = Start({QStringLiteral("--jobs=1"), QStringLiteral("стол"), QStringLiteral(".jpg"),
                               QStringLiteral("нет.jpg")},
                              m_dir->path());
        QCOMPARE(run.code, 1);
        QCOMPARE(QString::fromUtf8(run.out),
                 QStringLiteral("./стол_Resize728px.jpg 728x546\n./_Resize728px.jpg 728x546\n"));
        QVERIFY(QFile::exists(m_dir->filePath(QStringLiteral("стол_Resize728px.jpg"))));
        QCOMPARE(QString::fromUtf8(run.err),
                 QStringLiteral("snimkorez-reduce: нет.jpg: Не удалось открыть файл изображения\n"));
    }

private:
    // No display and no platform plug-in chosen: the tool must not need one.
    static Run Start(const QStringList& arguments, const QString& folder = QString())
    {
        QProcess process;
        process.setWorkingDirectory(folder);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(SNIMKOREZ_REDUCE), arguments);
        return testfiles::Finished(process, 120000);
    }

    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_MAIN(ReduceCliTest)
#include "reduce_cli_test.moc"
