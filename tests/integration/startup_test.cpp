// Runs the real program, copied into a temporary folder so that its settings
// file (beside the executable) is the test's own.
#include "TestFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

class StartupTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_exe = m_dir->filePath(QStringLiteral("snimkorez"));
        QVERIFY(QFile::copy(QStringLiteral(SNIMKOREZ_EXECUTABLE), m_exe));
        // The modules travel with the program, as an installed copy has them.
        const QString built = QFileInfo(QStringLiteral(SNIMKOREZ_EXECUTABLE)).path();
        for (const char* module : {"CRDE2001.so", "ISP2000.so"})
            QVERIFY(QFile::copy(built + u'/' + QLatin1String(module), m_dir->filePath(QLatin1String(module))));
    }

    void endsAtOnceWithCodeZero_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::newRow("Tag=1") << QByteArray("[Window]\nTag=1\n");
        QTest::newRow("tag = 0x1, any case") << QByteArray("[wInDoW]\r\n tag = 0x1 \r\n");
    }
    void endsAtOnceWithCodeZero()
    {
        QFETCH(QByteArray, settings);
        WriteSettings(settings);
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir->filePath(QStringLiteral("config")));
        program.setProcessEnvironment(environment);
        program.start(m_exe, {});
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        QCOMPARE(ReadSettings(), settings);  // untouched
        // The imaging layer's start-up work ran before the settings were read.
        QFile twain(m_dir->filePath(QStringLiteral("config/snimkorez/iltwain.ini")));
        QVERIFY(twain.open(QIODevice::ReadOnly));
        const QByteArray text = twain.readAll();
        QVERIFY2(text.contains("[Imaging Twain]") && text.contains("App Name=snimkorez"), text.constData());
    }

    // Started normally means: still running once start-up is over. A crash
    // or an early exit fails the test.
    void startsNormally_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::newRow("Tag=2") << QByteArray("[Window]\nTag=2\n");
        QTest::newRow("Tag=abc") << QByteArray("[Window]\nTag=abc\n");
        QTest::newRow("no settings file") << QByteArray();
        QByteArray garbage;
        for (int i = 0; i < 200000; ++i)
            garbage += static_cast<char>((i * 2654435761u) >> 24);
        QTest::newRow("binary garbage") << garbage;
        QTest::newRow("very large") << QByteArray("[Window]\nTag=1\n") + QByteArray(6 * 1024 * 1024, 'x');
        QTest::newRow("not UTF-8") << QByteArray("[Board]\nSelect=\xff\xe0\xeb\xf2\xe0.\xf0\xf4\n[Window]\nTop=\xfe\n");
    }
    void startsNormally()
    {
        QFETCH(QByteArray, settings);
        if (!settings.isEmpty())
            WriteSettings(settings);
        QProcess program;
        program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        program.start(m_exe, {});
        QVERIFY(program.waitForStarted(10000));
        QVERIFY2(!program.waitForFinished(3000), "the program ended on its own");
        program.kill();
        program.waitForFinished(5000);
        if (settings.isEmpty())
            QVERIFY(!QFile::exists(m_exe + ".ini"));  // start-up creates no file
        else
            QCOMPARE(ReadSettings(), settings);
    }

private:
    void WriteSettings(const QByteArray& bytes) { testfiles::WriteAll(m_exe + ".ini", bytes); }
    QByteArray ReadSettings() const { return testfiles::ReadAll(m_exe + ".ini"); }

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_exe;
};

QTEST_GUILESS_MAIN(StartupTest)
#include "startup_test.moc"
