// The command-line reduction run as users run it: no display, several photos,
// one of them broken.
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QImage Photo(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixelColor(x, y, QColor((x * 7) % 256, (y * 5) % 256, ((x + y) * 3) % 256));
    }
    return image;
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
        const QByteArray original = Read(landscape);

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
        QCOMPARE(Read(landscape), original);
        QVERIFY(!QFile::exists(m_dir->filePath(QStringLiteral("broken_Resize728px.jpg"))));
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

    // A name without a folder writes into the current one; "--jobs=N" is
    // the same option; a missing photo is named with the module's reason.
    void relativeNamesAndMissingPhotos()
    {
        QVERIFY(Photo(800, 600).save(m_dir->filePath(QStringLiteral("стол")), "JPEG"));
        const Run run = Start({QStringLiteral("--jobs=1"), QStringLiteral("стол"), QStringLiteral("нет.jpg")},
                              m_dir->path());
        QCOMPARE(run.code, 1);
        QCOMPARE(QString::fromUtf8(run.out), QStringLiteral("./стол_Resize728px.jpg 728x546\n"));
        QVERIFY(QFile::exists(m_dir->filePath(QStringLiteral("стол_Resize728px.jpg"))));
        QCOMPARE(QString::fromUtf8(run.err),
                 QStringLiteral("snimkorez-reduce: нет.jpg: Не удалось открыть файл изображения\n"));
    }

private:
    struct Run {
        int code = -1;
        QByteArray out;
        QByteArray err;
    };

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
        Run run;
        if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit)
            return run;
        run.code = process.exitCode();
        run.out = process.readAllStandardOutput();
        run.err = process.readAllStandardError();
        return run;
    }

    static QByteArray Read(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_MAIN(ReduceCliTest)
#include "reduce_cli_test.moc"
