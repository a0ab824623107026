// The program as installed: into a temporary DESTDIR, run from there; the
// menu entry; the Debian package; and the settings of a program whose folder
// cannot be written.
#include "app/TForm1.h"
#include "Finished.h"
#include "ImagingModules.h"
#include "platform/TIniFile.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sys/mount.h>

namespace {

const QString kBuild = QStringLiteral(SNIMKOREZ_BUILD_DIR);

using testfiles::Run;

Run Start(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment = {})
{
    QProcess process;
    QProcessEnvironment env = environment.isEmpty() ? QProcessEnvironment::systemEnvironment() : environment;
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    return testfiles::Finished(process, 180000);
}

}  // namespace

class InstallTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_root;

    QString Installed(const QString& path) const { return m_root.filePath(QStringLiteral("usr/") + path); }

private Q_SLOTS:
    void initTestCase()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DESTDIR"), m_root.path());
        const Run install = Start(QStringLiteral("cmake"),
                                  {QStringLiteral("--install"), kBuild, QStringLiteral("--prefix"), QStringLiteral("/usr")},
                                  env);
        QVERIFY2(install.code == 0, install.err.constData());
    }

    void filesInTheirPlaces()
    {
        for (const char* path : {"bin/snimkorez", "bin/snimkorez-reduce", "lib/snimkorez/CRDE2001.so",
                                 "lib/snimkorez/CRDE2001-tiff-heif.so", "lib/snimkorez/ISP2000.so", "lib/snimkorez/snimkorez-webengine.so",
                                 "share/applications/snimkorez.desktop",
                                 "share/icons/hicolor/scalable/apps/snimkorez.svg",
                                 "share/icons/hicolor/48x48/apps/snimkorez.png",
                                 "share/icons/hicolor/256x256/apps/snimkorez.png"})
            QVERIFY2(QFile::exists(Installed(QString::fromLatin1(path))), path);
        const Run validate = Start(QStringLiteral("desktop-file-validate"),
                                   {Installed(QStringLiteral("share/applications/snimkorez.desktop"))});
        QVERIFY2(validate.code == 0, (validate.out + validate.err).constData());
    }

    // Started from its installed folder with Tag=1 it finds its modules
    // through its run path (the window's preview needs them before the
    // check) and ends at once.
    void installedProgramStarts()
    {
        platform::TIniFile(Installed(QStringLiteral("bin/snimkorez.ini")))
            .WriteInteger(QStringLiteral("Window"), QStringLiteral("Tag"), 1);
        const Run run = Start(Installed(QStringLiteral("bin/snimkorez")), {});
        QCOMPARE(run.code, 0);
        QVERIFY2(!run.err.contains("Can't load"), run.err.constData());
        QFile::remove(Installed(QStringLiteral("bin/snimkorez.ini")));
    }

    void installedReductionWorks()
    {
        const QString photo = m_root.filePath(QStringLiteral("диван.jpg"));
        QVERIFY(QFile::copy(QStringLiteral("/usr/share/backgrounds/Picture_1A_by_freespace.jpg"), photo));
        const Run run = Start(Installed(QStringLiteral("bin/snimkorez-reduce")), {photo});
        QVERIFY2(run.code == 0, run.err.constData());
        QVERIFY(QFile::exists(m_root.filePath(QStringLiteral("диван_Resize728px.jpg"))));
    }

    // The package: its run-time dependencies and its files.
    void debianPackage()
    {
        QTemporaryDir out;
        const Run pack = Start(QStringLiteral("cpack"),
                               {QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("-B"), out.path(),
                                QStringLiteral("--config"), kBuild + QStringLiteral("/CPackConfig.cmake")});
        QVERIFY2(pack.code == 0, (pack.out + pack.err).constData());
        const QStringList debs = QDir(out.path()).entryList({QStringLiteral("snimkorez_*.deb")});
        QCOMPARE(debs.size(), 1);
        const QString deb = out.filePath(debs.first());
        const Run info = Start(QStringLiteral("dpkg-deb"), {QStringLiteral("--info"), deb});
        for (const char* needed : {"libqt6webenginewidgets6", "libqt6webenginecore6-bin", "libqt6multimedia6",
                                   "gstreamer1.0-plugins-good", "fonts-dejavu-core", "libjpeg62-turbo", "libtiff6",
                                   "qt6-translations-l10n"})
            QVERIFY2(info.out.contains(needed), needed);
        const Run contents = Start(QStringLiteral("dpkg-deb"), {QStringLiteral("--contents"), deb});
        for (const char* file : {"./usr/bin/snimkorez", "./usr/bin/snimkorez-reduce", "./usr/lib/snimkorez/CRDE2001.so",
                                 "./usr/lib/snimkorez/CRDE2001-tiff-heif.so", "./usr/share/applications/snimkorez.desktop"})
            QVERIFY2(contents.out.contains(file), file);
    }

    // A program in a folder nobody may write, root included (a read-only
    // mount): its settings go to the per-user folder and come back from there.
    void unwritableFolderKeepsSettingsPerUser()
    {
        QTemporaryDir folder;
        if (::mount("tmpfs", QFile::encodeName(folder.path()).constData(), "tmpfs", MS_RDONLY, "size=64k") != 0)
            QSKIP("mounting a read-only folder needs root");
        const QString program = folder.filePath(QStringLiteral("snimkorez"));
        const QString file = app::TForm1::SettingsFileFor(program);
        ::umount(QFile::encodeName(folder.path()).constData());
        QCOMPARE(file, QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                           QStringLiteral("/snimkorez/snimkorez.ini"));
        // A writable folder keeps them beside the program, as a portable copy;
        // one under /usr never does, even for root.
        QCOMPARE(app::TForm1::SettingsFileFor(program), folder.filePath(QStringLiteral("snimkorez.ini")));
        QCOMPARE(app::TForm1::SettingsFileFor(QStringLiteral("/usr/bin/snimkorez")), file);

        // The window writes there and the next one reads them back.
        const testfiles::ImagingModules modules(kBuild);
        QVERIFY(::mount("tmpfs", QFile::encodeName(folder.path()).constData(), "tmpfs", MS_RDONLY, "size=64k") == 0);
        QFile::remove(file);
        {
            app::TForm1 window(program);
            QCOMPARE(window.SettingsPath(), file);
            window.move(123, 45);
            window.WriteSettings();
        }
        const app::TForm1 again(program);
        ::umount(QFile::encodeName(folder.path()).constData());
        QCOMPARE(platform::TIniFile(file).ReadInteger(QStringLiteral("Window"), QStringLiteral("Left"), -1), 123);
        QCOMPARE(again.x(), 123);
        QCOMPARE(again.y(), 45);
    }
};

QTEST_MAIN(InstallTest)
#include "install_test.moc"
