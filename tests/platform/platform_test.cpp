#include "TestFiles.h"
#include "platform/Cp1251.h"
#include "platform/FloatingPointEnvironment.h"
#include "platform/PrivateProfile.h"
#include "platform/ProfileInteger.h"
#include "platform/TIniFile.h"
#include "platform/TMemoryStream.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cfenv>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

using namespace platform;

namespace {

using testfiles::ReadAll;
using testfiles::WriteAll;

// A folder that even root cannot write into: the immutable attribute. Not
// every file system has it, so the caller skips when it cannot be set.
class ImmutableFolder {
public:
    explicit ImmutableFolder(const QString& path) : m_path(path) { m_set = SetFlag(true); }
    ~ImmutableFolder()
    {
        if (m_set)
            SetFlag(false);
    }
    [[nodiscard]] bool Active() const { return m_set; }

private:
    bool SetFlag(bool on)
    {
        const int fd = ::open(QFile::encodeName(m_path).constData(), O_RDONLY | O_DIRECTORY);
        if (fd < 0)
            return false;
        int flags = 0;
        bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        if (ok) {
            flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
            ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        ::close(fd);
        return ok;
    }

    QString m_path;
    bool m_set = false;
};

}  // namespace

class PlatformTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { QVERIFY(m_dir.isValid()); m_ini = m_dir.filePath(QStringLiteral("s.ini")); QFile::remove(m_ini); }

    void integerReadingRule_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected");  // 777 stands for "the default"
        QTest::newRow("decimal") << "1" << 1;
        QTest::newRow("negative") << "-225" << -225;
        QTest::newRow("plus sign") << "+7" << 7;
        QTest::newRow("hex lower") << "0x1" << 1;
        QTest::newRow("hex upper X and digits") << "0X1f" << 31;
        QTest::newRow("hex all ones is -1") << "0xFFFFFFFF" << -1;
        QTest::newRow("hex too long") << "0x100000000" << 777;
        QTest::newRow("bare 0x is two characters: decimal, not a number") << "0x" << 777;
        QTest::newRow("hex with a bad digit") << "0x1g" << 777;
        QTest::newRow("letters") << "abc" << 777;
        QTest::newRow("empty") << "" << 777;
        QTest::newRow("trailing junk") << "12px" << 777;
        QTest::newRow("inner blank") << "1 2" << 777;
        QTest::newRow("int32 max") << "2147483647" << 2147483647;
        QTest::newRow("int32 min") << "-2147483648" << int(-2147483647 - 1);
        QTest::newRow("overflow") << "2147483648" << 777;
        QTest::newRow("huge") << "99999999999999999999999" << 777;
        QTest::newRow("sign only") << "-" << 777;
        QTest::newRow("negative hex is not hex") << "-0x1" << 777;
    }
    void integerReadingRule()
    {
        QFETCH(QString, text);
        QFETCH(int, expected);
        QCOMPARE(ProfileIntegerOr(text, 777), expected);
    }

    void cp1251RoundTripsCyrillicAndMarksTheRest()
    {
        const QString text = QStringLiteral("Отдых в Крыму ёЁ №");
        const QByteArray bytes = ToCp1251(text);
        QCOMPARE(bytes.size(), text.size());
        QCOMPARE(static_cast<unsigned char>(bytes[0]), 0xCE);  // О
        QCOMPARE(FromCp1251(bytes), text);
        QCOMPARE(ToCp1251(QStringLiteral("a\u4e2db\U0001F600c")), QByteArray("a?b?c"));
        QCOMPARE(ToCp1251(QStringLiteral("\x1a")), QByteArray("\x1a"));
        QVERIFY(IsValidUtf8(QByteArray("ялта")));
        QVERIFY(!IsValidUtf8(ToCp1251(QStringLiteral("ялта"))));
    }

    void readsWithWindowsSemantics()
    {
        WriteAll(m_ini, "top=1\n"                   // before any section: belongs to none
                        "[ window ]\n"
                        "  TOP  =  42  \n"
                        "Left=\"  7 \"\n"
                        "Name='quoted'\n"
                        "Half=\"open\n"
                        "top=99\n"                  // a later duplicate loses
                        "[Раздел]\n"
                        "Ключ=значение\n"
                        "[WINDOW]\n"
                        "Extra=from second section\n");
        QCOMPARE(GetPrivateProfileString("Window", "Top", "d", m_ini), QString("42"));
        QCOMPARE(GetPrivateProfileString("WINDOW", "left", "d", m_ini), QString("  7 "));
        QCOMPARE(GetPrivateProfileString("Window", "Name", "d", m_ini), QString("quoted"));
        QCOMPARE(GetPrivateProfileString("Window", "Half", "d", m_ini), QString("\"open"));
        QCOMPARE(GetPrivateProfileString("раздел", "КЛЮЧ", "d", m_ini), QString("значение"));
        QCOMPARE(GetPrivateProfileString("Window", "Extra", "d", m_ini), QString("d"));
        QCOMPARE(GetPrivateProfileString("Window", "Missing", "d", m_ini), QString("d"));
        QCOMPARE(GetPrivateProfileString("Nowhere", "Top", "d", m_ini), QString("d"));
        QCOMPARE(GetPrivateProfileString("Window", "Top", "d", m_dir.filePath("absent.ini")), QString("d"));
    }

    void readsLegacyCodePageValuesAndCrLf()
    {
        WriteAll(m_ini, "\xEF\xBB\xBF[Board]\r\nSelect=" + ToCp1251(QStringLiteral("ялта.рф")) + "\r\n");
        QCOMPARE(GetPrivateProfileString("board", "select", "d", m_ini), QStringLiteral("ялта.рф"));
    }

    void garbageAndOversizedFilesGiveDefaults()
    {
        QByteArray garbage;
        for (int i = 0; i < 70000; ++i)
            garbage += static_cast<char>((i * 7919) % 256);
        WriteAll(m_ini, garbage);
        QCOMPARE(TIniFile(m_ini).ReadInteger("Window", "Tag", 5), 5);

        QByteArray huge = "[Window]\nTag=1\n";
        huge += QByteArray(kMaxPrivateProfileSize, 'x');
        WriteAll(m_ini, huge);
        QCOMPARE(TIniFile(m_ini).ReadInteger("Window", "Tag", 0), 0);
        // Rewriting it would replace megabytes of someone's data: refused, untouched.
        QVERIFY(!WritePrivateProfileString("Window", "Top", "1", m_ini));
        QCOMPARE(QFileInfo(m_ini).size(), huge.size());

        QVERIFY(QDir(m_dir.path()).mkdir("a-folder.ini"));
        QCOMPARE(GetPrivateProfileString("Window", "Top", "d", m_dir.filePath("a-folder.ini")), QString("d"));
    }

    void writeCreatesTheFile()
    {
        TIniFile settings(m_ini);
        settings.WriteInteger("Window", "Top", -5);
        settings.WriteInteger("Window", "Left", 300);
        settings.WriteString("Board", "Select", QStringLiteral("ялта.рф"));
        QCOMPARE(ReadAll(m_ini), QStringLiteral("[Window]\nTop=-5\nLeft=300\n\n[Board]\nSelect=ялта.рф\n").toUtf8());
        QCOMPARE(settings.ReadInteger("window", "top", 0), -5);
    }

    void writeKeepsEveryOtherLine()
    {
        const QByteArray before = "; my settings\r\n"
                                  "[Other]\r\n"
                                  "Keep=\xff\xfe raw bytes\r\n"
                                  "\r\n"
                                  "[WINDOW]\r\n"
                                  "# a note\r\n"
                                  "TOP=1\r\n"
                                  "Tag=0\r\n"
                                  "\r\n"
                                  "[Last]\r\n"
                                  "x=y";
        WriteAll(m_ini, before);
        TIniFile settings(m_ini);
        settings.WriteInteger("Window", "Top", 17);
        settings.WriteInteger("window", "Left", -3);
        settings.WriteString("New", "Key", "v");
        QCOMPARE(ReadAll(m_ini), QByteArray("; my settings\r\n"
                                            "[Other]\r\n"
                                            "Keep=\xff\xfe raw bytes\r\n"
                                            "\r\n"
                                            "[WINDOW]\r\n"
                                            "# a note\r\n"
                                            "Top=17\r\n"
                                            "Tag=0\r\n"
                                            "Left=-3\r\n"
                                            "\r\n"
                                            "[Last]\r\n"
                                            "x=y\r\n"
                                            "\r\n"
                                            "[New]\r\n"
                                            "Key=v\r\n"));
        // Nothing but the settings file is left in the folder.
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files), QStringList{"s.ini"});
    }

    void deleteKeyAndSection()
    {
        WriteAll(m_ini, "[A]\nx=1\ny=2\n[B]\nz=3\n");
        TIniFile settings(m_ini);
        settings.DeleteKey("a", "X");
        settings.DeleteKey("a", "absent");
        QVERIFY(DeletePrivateProfileSection("b", m_ini));
        QCOMPARE(ReadAll(m_ini), QByteArray("[A]\ny=2\n"));
    }

    void refusedWriteRaisesAndKeepsTheOldFile()
    {
        // A path below a regular file cannot be created by anyone, root included.
        WriteAll(m_dir.filePath("plain"), "not a folder");
        const QString path = m_dir.filePath("plain/s.ini");
        TIniFile settings(path);
        try {
            settings.WriteInteger("Window", "Top", 1);
            QFAIL("the write should have raised");
        } catch (const EIniFileException& error) {
            QCOMPARE(error.Message(), "Unable to write to " + path);
        }
    }

    void immutableFolderRefusesWrites()
    {
        const QString folder = m_dir.filePath("locked");
        QVERIFY(QDir().mkdir(folder));
        const QString path = folder + "/s.ini";
        WriteAll(path, "[Window]\nTop=1\n");
        ImmutableFolder lock(folder);
        if (!lock.Active())
            QSKIP("this file system has no immutable attribute");
        QVERIFY_THROWS_EXCEPTION(EIniFileException, TIniFile(path).WriteInteger("Window", "Top", 2));
        QCOMPARE(TIniFile(path).ReadInteger("Window", "Top", 0), 1);
    }

    void memoryStreamReadsAndFailsCleanly()
    {
        TMemoryStream stream(QByteArray("\x01\x00\x00\x80\x05", 5));
        QCOMPARE(stream.ReadInt32(), int(0x80000001));
        QVERIFY_THROWS_EXCEPTION(EReadError, (void)stream.ReadInt32());
        QCOMPARE(stream.Position(), 4);  // a failed read takes nothing
        QCOMPARE(stream.ReadByte(), 5);
        stream.Seek(100);
        QCOMPARE(stream.Remaining(), 0);
        QVERIFY_THROWS_EXCEPTION(EReadError, (void)stream.ReadBytes(1));
        stream.SetPosition(-3);
        QVERIFY_THROWS_EXCEPTION(EReadError, (void)stream.ReadByte());
        QVERIFY_THROWS_EXCEPTION(EReadError, (void)stream.ReadBytes(-1));

        TMemoryStream out;
        out.WriteInt32(-2);
        out.SetPosition(6);
        out.WriteByte(9);
        QCOMPARE(out.Data(), QByteArray("\xfe\xff\xff\xff\x00\x00\x09", 7));
    }

    void floatingPointEnvironmentIsRestored()
    {
        const int original = std::fegetround();
        FloatingPointEnvironment environment;
        environment.Remember();
        QVERIFY(environment.Remembered());
        std::fesetround(FE_UPWARD);
        environment.Restore();
        QCOMPARE(std::fegetround(), original);
    }

private:
    QTemporaryDir m_dir;
    QString m_ini;
};

QTEST_GUILESS_MAIN(PlatformTest)
#include "platform_test.moc"
