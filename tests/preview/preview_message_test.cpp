// The message modes: the file formats, then a real control loading the
// sample files by name and moving their text tick by tick.
#include "ImagingModules.h"
#include "preview/MessageFile.h"
#include "preview/TPMultiImage.h"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <sys/resource.h>

using preview::MessageFile;
using preview::ParseMessageFile;
using preview::TPMultiImage;

namespace {

const QString kData = QStringLiteral(SNIMKOREZ_DATA);

}  // namespace

class PreviewMessageTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<testfiles::ImagingModules> m_modules;
    std::unique_ptr<TPMultiImage> m_control;
    QTemporaryDir m_dir;

    QString Write(const QString& name, const QByteArray& text)
    {
        QFile file(m_dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly))
            return {};
        file.write(text);
        return file.fileName();
    }

    void Ticks(int n)
    {
        for (int i = 0; i < n; ++i)
            m_control->MessageTick();
    }

private Q_SLOTS:
    void init()
    {
        m_modules = std::make_unique<testfiles::ImagingModules>(QStringLiteral(SNIMKOREZ_MODULE_DIR));
        m_control = std::make_unique<TPMultiImage>();
        m_control->SetBounds(0, 0, 400, 120);
        m_control->SetColor(Qt::green);
        m_control->SetMessageTickInterval(0);  // the test brings the ticks
        m_control->Loaded();
        m_control->show();
    }

    void cleanup()
    {
        m_control.reset();
        m_modules.reset();
    }

    void parsesEveryKey()
    {
        const MessageFile m = ParseMessageFile("# comment\r\n\nfont.color=#102030\nfont.name=DejaVu Serif\n"
                                               "font.size=12\nfont.height=30\nfont.style=bold, underline\n"
                                               "background=#405060\nspeed=3\ntext= Диван = 5000 ₽ \n",
                                               false);
        QCOMPARE(m.fontColor, QColor(0x10, 0x20, 0x30));
        QCOMPARE(m.font.family(), QStringLiteral("DejaVu Serif"));
        QCOMPARE(m.font.pixelSize(), 30);
        QVERIFY(m.font.bold() && m.font.underline() && !m.font.italic() && !m.font.strikeOut());
        QCOMPARE(m.background, QColor(0x40, 0x50, 0x60));
        QCOMPARE(m.speed, 3);
        QCOMPARE(m.lines, QStringList{QStringLiteral(" Диван = 5000 ₽ ")});
        const MessageFile credits = ParseMessageFile("line=один\nline=\nline=три\n", true);
        QCOMPARE(credits.lines, (QStringList{QStringLiteral("один"), QString(), QStringLiteral("три")}));
        QCOMPARE(credits.speed, 0);
        QCOMPARE(credits.background, QColor(0, 0, 0));
    }

    void refusesBadFiles_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("credits");
        QTest::newRow("no text") << QByteArray("speed=1\n") << false;
        QTest::newRow("two texts") << QByteArray("text=a\ntext=b\n") << false;
        QTest::newRow("line in a scrolling message") << QByteArray("line=a\n") << false;
        QTest::newRow("text in credits") << QByteArray("text=a\n") << true;
        QTest::newRow("unknown key") << QByteArray("text=a\ncolour=#000000\n") << false;
        QTest::newRow("bad colour") << QByteArray("text=a\nbackground=red\n") << false;
        QTest::newRow("speed out of range") << QByteArray("text=a\nspeed=101\n") << false;
        QTest::newRow("no equals sign") << QByteArray("text=a\nhello\n") << false;
        QTest::newRow("unknown style") << QByteArray("text=a\nfont.style=shiny\n") << false;
        QTest::newRow("longer than a megabyte") << QByteArray("text=") + QByteArray(1 << 20, 'a') << false;
        QTest::newRow("not UTF-8") << QByteArray("text=\xC4\xE8\xE2\xE0\xED\n") << false;
    }

    void refusesBadFiles()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, credits);
        QVERIFY_THROWS_EXCEPTION(std::exception, (void)ParseMessageFile(text, credits));
    }

    // Loading the sample scrolling message: empty picture, its background,
    // the line at the right edge, centred, a pixel left every second tick.
    void scrollingMessage()
    {
        m_control->SetImageName(kData + QStringLiteral("/sample.scm"));
        QCOMPARE(m_control->CurrentMessageMode(), TPMultiImage::MessageMode::Scrolling);
        QVERIFY(!m_control->Picture().HasGraphic());
        QCOMPARE(m_control->Color(), QColor(0x00, 0x00, 0x80));
        const QSize strip = m_control->MessageStripSize();
        QVERIFY(strip.width() > 400);
        QCOMPARE(m_control->MessagePosition(), QPoint(400, (120 - strip.height()) / 2));
        Ticks(1);
        QCOMPARE(m_control->MessagePosition().x(), 400);  // speed 1: every second tick
        Ticks(1);
        QCOMPARE(m_control->MessagePosition().x(), 399);
        // The text shows where the strip is.
        Ticks(2 * 150);
        const QImage shown = m_control->grab().toImage();
        QCOMPARE(shown.pixelColor(0, 0), QColor(0x00, 0x00, 0x80));
        bool gold = false;
        for (int x = 250; x < 400 && !gold; ++x)
            for (int y = 0; y < 120 && !gold; ++y)
                gold = shown.pixelColor(x, y).red() > 200 && shown.pixelColor(x, y).blue() < 100;
        QVERIFY(gold);
        // Once gone off the left, again from the right edge.
        Ticks(2 * (250 + strip.width()));
        QCOMPARE(m_control->MessagePosition().x(), 400);
        // The next load by name ends the mode and gives Color back.
        m_control->SetImageName(m_dir.filePath(QStringLiteral("missing.jpg")));
        QCOMPARE(m_control->CurrentMessageMode(), TPMultiImage::MessageMode::Off);
        QCOMPARE(m_control->Color(), QColor(Qt::green));
    }

    // Credits rise one line at a time from the bottom, the next after the
    // current has risen more than its height + 5 above the top, the first
    // again after the last.
    void creditMessage()
    {
        m_control->SetImageName(kData + QStringLiteral("/sample.cms"));
        QCOMPARE(m_control->CurrentMessageMode(), TPMultiImage::MessageMode::Credits);
        QCOMPARE(m_control->Color(), QColor(0x20, 0x20, 0x20));
        const int lineHeight = m_control->MessageStripSize().height();
        QCOMPARE(m_control->MessagePosition().y(), 120);
        QCOMPARE(m_control->MessagePosition().x(), (400 - m_control->MessageStripSize().width()) / 2);
        Ticks(120 + lineHeight + 5);
        QCOMPARE(m_control->MessageLine(), 0);
        QCOMPARE(m_control->MessagePosition().y(), -(lineHeight + 5));
        Ticks(1);
        QCOMPARE(m_control->MessageLine(), 1);
        QCOMPARE(m_control->MessagePosition().y(), 120);
        Ticks(2 * (120 + lineHeight + 6));
        QCOMPARE(m_control->MessageLine(), 0);  // after the third, the first
    }

    // A line of 600 KB costs memory in proportion to the control, not to the
    // line, and still shows its text as it moves in.
    void longLine()
    {
        QByteArray line;
        while (line.size() < 600 * 1024)
            line += "Продаётся диван, почти новый. ";
        const QString name = Write(QStringLiteral("long.scm"), "font.color=#FFD700\ntext=" + line + '\n');
        const auto peak = [] {
            rusage usage{};
            getrusage(RUSAGE_SELF, &usage);
            return usage.ru_maxrss / 1024;  // MB
        };
        const long before = peak();
        m_control->SetImageName(name);
        QCOMPARE(m_control->CurrentMessageMode(), TPMultiImage::MessageMode::Scrolling);
        QVERIFY(m_control->MessageStripSize().width() > 1'000'000);
        Ticks(300);
        const QImage shown = m_control->grab().toImage();
        bool gold = false;
        for (int x = 100; x < 400 && !gold; ++x)
            for (int y = 0; y < 120 && !gold; ++y)
                gold = shown.pixelColor(x, y).red() > 200 && shown.pixelColor(x, y).blue() < 100;
        QVERIFY(gold);
        QVERIFY2(peak() - before < 64, qPrintable(QStringLiteral("%1 MB more").arg(peak() - before)));
    }

    // A paste ends the mode and keeps the message's background; the next
    // load by name still gives Color back.
    void colorBackAfterAPaste()
    {
        m_control->SetImageName(kData + QStringLiteral("/sample.scm"));
        QCOMPARE(m_control->Color(), QColor(0x00, 0x00, 0x80));
        QImage picture(30, 20, QImage::Format_RGB32);
        picture.fill(Qt::red);
        QGuiApplication::clipboard()->setImage(picture);
        QVERIFY(QMetaObject::invokeMethod(m_control.get(), "Paste"));
        QCOMPARE(m_control->CurrentMessageMode(), TPMultiImage::MessageMode::Off);
        QCOMPARE(m_control->Color(), QColor(0x00, 0x00, 0x80));
        m_control->SetImageName(m_dir.filePath(QStringLiteral("missing.jpg")));
        QCOMPARE(m_control->Color(), QColor(Qt::green));
    }

    // A file that cannot be read or parsed leaves the picture empty, no mode.
    void brokenMessageFile()
    {
        const QString broken = Write(QStringLiteral("broken.SCM"), "speed=1\n");
        m_control->SetImageName(broken);
        QCOMPARE(m_control->CurrentMessageMode(), TPMultiImage::MessageMode::Off);
        QVERIFY(!m_control->Picture().HasGraphic());
        QCOMPARE(m_control->Color(), QColor(Qt::green));
    }

    // The control's own timer moves the text without any help.
    void timerMovesTheText()
    {
        m_control->SetMessageTickInterval(5);
        m_control->SetImageName(kData + QStringLiteral("/sample.scm"));
        QTRY_VERIFY(m_control->MessagePosition().x() < 395);
    }
};

QTEST_MAIN(PreviewMessageTest)
#include "preview_message_test.moc"
