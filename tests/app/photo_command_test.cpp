// The photo command on the real main window with a real photograph: the file
// beside the source, the caption and preview, the address handed to the
// browser, the settings, and every way it can end early.
#include "app/TApplication.h"
#include "app/TForm1.h"
#include "app/TForm2.h"
#include "boards/Catalogue.h"
#include "boards/TfcTreeCombo.h"
#include "boards/TfcTreeNode.h"
#include "browser/TWebHost.h"
#include "dialogs/TMMOpenDialog.h"
#include "dialogs/TPMultiMedia.h"
#include "ImagingModules.h"
#include "TestFiles.h"
#include "imaging/MessageHandler.h"
#include "platform/TIniFile.h"
#include "preview/TPMultiImage.h"

#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTimer>
#include <QWebEnginePage>

#include <csignal>
#include <memory>
#include <sys/resource.h>

using app::TForm1;

namespace {

const QString kPhoto = QStringLiteral(SNIMKOREZ_PHOTOS "/Picture_1A_by_freespace.jpg");  // 1365 × 1074
const QSize kReduced(728, 573);

// Every file written from here on larger than `bytes` fails, for root too.
class WriteLimit {
public:
    explicit WriteLimit(rlim_t bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_saved);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~WriteLimit() { Lift(); }
    void Lift() { setrlimit(RLIMIT_FSIZE, &m_saved); }

private:
    rlimit m_saved{};
};

using testfiles::ReadAll;

bool IsJpeg(const QString& path)
{
    return ReadAll(path).startsWith("\xFF\xD8\xFF");
}

}  // namespace

class PhotoCommandTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<testfiles::ImagingModules> m_modules;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TForm1> m_window;
    std::unique_ptr<app::TForm2> m_browser;
    std::optional<QString> m_chosen;
    std::optional<QString> m_saveAs;
    QStringList m_addresses;
    QStringList m_boxes;
    int m_saveDialogs = 0;
    std::function<QStringList(QWidget*)> m_realOpen;

    QString Settings() const { return m_dir->filePath(QStringLiteral("snimkorez.ini")); }

    // A copy of the photo under `name` in the temporary folder.
    QString Source(const QString& name, const char* format = nullptr)
    {
        const QString path = m_dir->filePath(name);
        if (format) {
            QImageReader reader(kPhoto);
            const QImage image = reader.read();
            if (!image.save(path, format))
                return {};
        } else if (!QFile::copy(kPhoto, path)) {
            return {};
        }
        return path;
    }

    void Select(const QString& text)
    {
        m_window->board()->SetText(text);
        m_window->board()->DropDown();
        m_window->board()->CloseUp(true);
    }

private Q_SLOTS:
    void initTestCase()
    {
        imaging::SetMessageHandler([](const QString& text) { QFAIL(qPrintable(text)); });
        QVERIFY2(QFileInfo::exists(kPhoto), "Debian's lomiri-wallpapers is not installed");
    }

    void init()
    {
        m_modules = std::make_unique<testfiles::ImagingModules>(QStringLiteral(SNIMKOREZ_MODULE_DIR));
        m_dir = std::make_unique<QTemporaryDir>();
        m_window = std::make_unique<TForm1>(m_dir->filePath(QStringLiteral("snimkorez")));
        m_browser = std::make_unique<app::TForm2>();
        m_window->SetBrowserWindow(m_browser.get());
        m_addresses.clear();
        m_boxes.clear();
        m_saveDialogs = 0;
        m_chosen.reset();
        m_saveAs.reset();
        app::TPhotoCommandSeam seam = m_window->Seam();
        m_realOpen = seam.openPhoto;
        seam.openPhoto = [this](QWidget*) { return m_chosen ? QStringList{*m_chosen} : QStringList(); };
        seam.writeErrorBox = [this](QWidget*, const QString& caption, const QString& text) {
            m_boxes << caption + u'|' + text;
        };
        seam.savePicture = [this](QWidget*) {
            ++m_saveDialogs;
            return m_saveAs;
        };
        seam.navigate = [this](const QString& address) { m_addresses << address; };
        m_window->SetSeam(seam);
        m_window->show();
    }

    void cleanup()
    {
        m_browser.reset();
        m_window.reset();
        m_dir.reset();
        m_modules.reset();
    }

    void controlsAsDefined()
    {
        QCOMPARE(m_window->submit()->text(), QStringLiteral("Выбрать фото"));
        QCOMPARE(m_window->submit()->geometry(), QRect(240, 4, 89, 25));
        QCOMPARE(m_window->Label1()->text(),
                 QStringLiteral("Сжатое фото создается в папке с оригиналом \"Оригинал_Resize728px.jpg\""));
        QCOMPARE(m_window->Label1()->geometry(), QRect(336, 10, 383, 13));
        QVERIFY(QFontMetrics(m_window->Label1()->font()).horizontalAdvance(m_window->Label1()->text()) <= 383);
        // Tab goes from the selector to the button.
        QWidget* next = m_window->board()->nextInFocusChain();
        while (next && next != m_window->board() && !(next->focusPolicy() & Qt::TabFocus))
            next = next->nextInFocusChain();
        QCOMPARE(next, m_window->submit());
        const QStringList filters = dialogs::QtNameFilters(app::kOpenFilter);
        QCOMPARE(filters.size(), 20);
        QCOMPARE(filters[4], QStringLiteral("Jpeg    (JPG)  (*.[Jj][Pp][Gg])"));
        QVERIFY(filters[0].startsWith(QStringLiteral("All Supported Media Formats (*.[Bb][Mm][Pp] *.[Cc][Mm][Ss]")));
        QVERIFY(filters[0].endsWith(QStringLiteral("*.[Aa][Vv][Ii])")));
    }

    // The open dialog's filter finds "photo.jpg" under *.JPG and in the
    // combined first entry.
    void openDialogMatchesEitherCase()
    {
        QFile::copy(kPhoto, m_dir->filePath(QStringLiteral("photo.jpg")));
        QFileDialog dialog(nullptr, QString(), m_dir->path());
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setNameFilters(dialogs::QtNameFilters(app::kOpenFilter));
        for (const int entry : {0, 4}) {
            dialog.selectNameFilter(dialogs::QtNameFilters(app::kOpenFilter)[entry]);
            auto* model = dialog.findChild<QAbstractItemModel*>(QStringLiteral("qt_filesystem_model"));
            QVERIFY(model);
            dialog.show();
            QTRY_VERIFY(!model->match(model->index(0, 0), Qt::DisplayRole, QStringLiteral("photo.jpg"), 1,
                                      Qt::MatchRecursive | Qt::MatchExactly).isEmpty());
        }
    }

    void outputBesideTheSource_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("output");
        QTest::newRow("upper-case extension") << "IMG_1.JPG" << "" << "IMG_1_Resize728px.jpg";
        QTest::newRow("two dots") << "a.b.png" << "PNG" << "a.b_Resize728px.jpg";
        QTest::newRow("no extension") << "scan" << "" << "scan_Resize728px.jpg";
        QTest::newRow("a JPEG named .png") << "photo.png" << "" << "photo_Resize728px.jpg";
    }

    void outputBesideTheSource()
    {
        QFETCH(QString, name);
        QFETCH(QString, format);
        QFETCH(QString, output);
        m_chosen = Source(name, format.isEmpty() ? nullptr : qPrintable(format));
        QVERIFY(!m_chosen->isEmpty());
        const QByteArray original = ReadAll(*m_chosen);
        Select(QStringLiteral("yalta-leto.ru"));
        m_window->submitClick();

        const QString written = m_dir->filePath(output);
        QImageReader reader(written);
        QCOMPARE(reader.format(), QByteArray("jpeg"));
        QCOMPARE(reader.size(), kReduced);
        QCOMPARE(ReadAll(*m_chosen), original);
        QCOMPARE(m_window->windowTitle(), output);
        QCOMPARE(m_window->Export()->ImageName(), m_dir->path() + QStringLiteral("//") + output);
        QCOMPARE(m_window->Export()->Picture().Bitmap().Handle().size(), kReduced);
        QVERIFY(m_browser->isVisible());
        QCOMPARE(m_addresses, QStringList{QStringLiteral("http://yalta-leto.ru/board/#fosform")});
        QVERIFY(m_boxes.isEmpty());
        const platform::TIniFile settings(Settings());
        QCOMPARE(settings.ReadInteger(QStringLiteral("Window"), QStringLiteral("Top"), -1), m_window->y());
        QCOMPARE(settings.ReadInteger(QStringLiteral("Window"), QStringLiteral("Left"), -1), m_window->x());
        QCOMPARE(settings.ReadString(QStringLiteral("Board"), QStringLiteral("Select"), QString()),
                 QStringLiteral("yalta-leto.ru"));
        QCOMPARE(m_window->LastReducedPhoto(), m_dir->path() + QStringLiteral("//") + output);
    }

    // Pictures of four colours keep them through the whole command, in a
    // GIF with a 2-bit colour table and a 2-bit PNG alike.
    void fewColoursKeepTheirColours()
    {
        for (const char* name : {"four.gif", "four.png"}) {
            const QString source = m_dir->filePath(QLatin1String(name));
            QVERIFY(QFile::copy(QStringLiteral(SNIMKOREZ_SOURCE "/tests/data/preview/") + QLatin1String(name), source));
            m_chosen = source;
            m_window->submitClick();
            QVERIFY2(m_boxes.isEmpty(), qPrintable(m_boxes.join(u'\n')));
            const QImage reduced(m_dir->filePath(QFileInfo(source).completeBaseName() + QStringLiteral("_Resize728px.jpg")));
            QVERIFY2(!reduced.isNull(), name);
            const int w = reduced.width(), h = reduced.height();
            const std::pair<QPoint, QRgb> quarters[] = {{{w / 4, h / 4}, qRgb(255, 128, 0)},
                                                        {{3 * w / 4, h / 4}, qRgb(0, 0, 255)},
                                                        {{w / 4, 3 * h / 4}, qRgb(0, 160, 0)},
                                                        {{3 * w / 4, 3 * h / 4}, qRgb(255, 0, 0)}};
            for (const auto& [at, expected] : quarters) {
                const QRgb got = reduced.pixel(at);
                QVERIFY2(qAbs(qRed(got) - qRed(expected)) <= 24 && qAbs(qGreen(got) - qGreen(expected)) <= 24 &&
                             qAbs(qBlue(got) - qBlue(expected)) <= 24,
                         qPrintable(QStringLiteral("%1 at %2,%3: %4").arg(QLatin1String(name)).arg(at.x()).arg(at.y())
                                        .arg(got, 6, 16)));
            }
        }
    }

    // Cancelled: no photo work, but the browser, the address and the settings.
    void postingAddresses_data()
    {
        QTest::addColumn<QString>("selector");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("stored");
        QTest::newRow("ASCII host of a Cyrillic one") << "ялта.рф" << "http://xn--80avv4c.xn--p1ai/board/#fosform"
                                                      << "ялта.рф";
        QTest::newRow("no posting path") << "obyavleniya.net" << "http://obyavleniya.net/#fosform"
                                         << "obyavleniya.net";
        // A category is no board: the default board's page, its host stored.
        QTest::newRow("category") << "Общетаматические" << "http://doska-krym.ru/board/i.php#fosform"
                                  << "doska-krym.ru";
        QTest::newRow("category with a space") << "Санатории Украины" << "http://doska-krym.ru/board/i.php#fosform"
                                               << "doska-krym.ru";
        QTest::newRow("nothing selected") << "no-such-board.example"
                                          << "http://doska-krym.ru/board/i.php#fosform" << "doska-krym.ru";
    }

    void postingAddresses()
    {
        QFETCH(QString, selector);
        QFETCH(QString, address);
        QFETCH(QString, stored);
        Select(selector);
        m_window->submitClick();
        QCOMPARE(m_addresses, QStringList{address});
        QVERIFY(m_browser->isVisible());
        QCOMPARE(m_window->board()->Text(), stored);
        QCOMPARE(platform::TIniFile(Settings()).ReadString(QStringLiteral("Board"), QStringLiteral("Select"), QString()),
                 stored);
        QCOMPARE(m_window->windowTitle(), QStringLiteral("Снимкорез для досок объявлений"));
    }

    // A file that is no picture ends the command with its error: no browser,
    // no settings.
    void undecodableFiles_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("name");
        QByteArray wave("RIFF\x24\x00\x00\x00WAVEfmt ", 16);
        wave += QByteArray(64, '\0');
        QTest::newRow("sound") << wave << "sound.wav";
        QTest::newRow("damaged photo") << ReadAll(kPhoto).left(3000) << "broken.jpg";
    }

    void undecodableFiles()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, name);
        QFile file(m_dir->filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        file.close();
        m_chosen = file.fileName();
        QVERIFY_THROWS_EXCEPTION(std::exception, m_window->submitClick());
        QVERIFY(!m_browser->isVisible());
        // Through the button, the error reaches the standard error box.
        QString shown;
        QTimer closer;
        connect(&closer, &QTimer::timeout, this, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                shown = box->text();
                box->accept();
            }
        });
        closer.start(20);
        m_window->submit()->click();
        closer.stop();
        QVERIFY2(!shown.isEmpty(), "no error box");
        QVERIFY(!m_browser->isVisible());
        QVERIFY(m_addresses.isEmpty());
        QVERIFY(!QFile::exists(Settings()));
    }

    // An older file of the output name is no success: when this run cannot
    // write, the write-error route is taken, and the old file stays as it was.
    void failedWriteOverAnOlderFile()
    {
        m_chosen = Source(QStringLiteral("IMG_1.JPG"));
        const QString output = m_dir->filePath(QStringLiteral("IMG_1_Resize728px.jpg"));
        QFile old(output);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("an older reduction");
        old.close();
        {
            const WriteLimit limit(4096);
            m_window->submitClick();
        }
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(m_boxes.first(),
                 QStringLiteral("Ошибка записи|Нет доступа для записи копии файла на выбранный диск.\r\n"
                                "Нажмите \"OK\" и в откывшемся окне выберите диск для сохранения измененного "
                                "изображения."));
        QCOMPARE(m_saveDialogs, 1);
        QCOMPARE(ReadAll(output), QByteArray("an older reduction"));
        QCOMPARE(m_window->windowTitle(), QStringLiteral("Снимкорез для досок объявлений"));
        // The save dialog was cancelled: the command still goes on.
        QVERIFY(m_browser->isVisible());
        QCOMPARE(m_addresses.size(), 1);
    }

    // The source folder refuses the file: the box, then the save dialog, and
    // the name chosen there holds a JPEG whatever its extension.
    void unwritableFolderGoesToTheSaveDialog()
    {
        m_chosen = Source(QStringLiteral("IMG_1.JPG"));
        const QString chosen = m_dir->filePath(QStringLiteral("elsewhere.png"));
        auto limit = std::make_unique<WriteLimit>(4096);
        app::TPhotoCommandSeam seam = m_window->Seam();
        seam.savePicture = [&](QWidget*) -> std::optional<QString> {
            ++m_saveDialogs;
            limit->Lift();  // the other disk takes the file
            return chosen;
        };
        m_window->SetSeam(seam);
        m_window->submitClick();
        limit.reset();
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(m_saveDialogs, 1);
        QVERIFY(IsJpeg(chosen));
        QCOMPARE(QImageReader(chosen, "jpeg").size(), kReduced);
        QCOMPARE(m_window->windowTitle(), chosen);
        QCOMPARE(m_window->Export()->ImageName(), chosen);
    }

    // A name chosen in the save dialog that cannot be written either: the
    // box and the dialog again until a write succeeds; given up, caption and
    // preview stay as they were.
    void failedSecondWriteAsksAgain()
    {
        m_chosen = Source(QStringLiteral("IMG_1.JPG"));
        const QString second = m_dir->filePath(QStringLiteral("second.jpg"));
        const QString third = m_dir->filePath(QStringLiteral("third.jpg"));
        auto limit = std::make_unique<WriteLimit>(4096);
        app::TPhotoCommandSeam seam = m_window->Seam();
        seam.savePicture = [&](QWidget*) -> std::optional<QString> {
            if (++m_saveDialogs == 2)
                limit->Lift();
            return m_saveDialogs == 1 ? second : third;
        };
        m_window->SetSeam(seam);
        m_window->submitClick();
        QCOMPARE(m_boxes.size(), 2);
        QCOMPARE(m_saveDialogs, 2);
        QVERIFY(!QFile::exists(second));
        QVERIFY(IsJpeg(third));
        QCOMPARE(m_window->windowTitle(), third);
        QCOMPARE(m_window->LastReducedPhoto(), third);

        // Given up after a second failure.
        m_boxes.clear();
        m_saveDialogs = 0;
        QVERIFY(QFile::remove(third));
        TForm1 other(m_dir->filePath(QStringLiteral("other")));
        seam.savePicture = [&](QWidget*) -> std::optional<QString> {
            return ++m_saveDialogs == 1 ? std::optional<QString>(second) : std::nullopt;
        };
        other.SetSeam(seam);
        limit.reset();  // the old limit's end must not lift the new one
        limit = std::make_unique<WriteLimit>(4096);
        other.submitClick();
        limit.reset();
        QCOMPARE(m_boxes.size(), 2);
        QCOMPARE(m_saveDialogs, 2);
        QCOMPARE(other.windowTitle(), QStringLiteral("Снимкорез для досок объявлений"));
        QCOMPARE(other.Export()->ImageName(), *m_chosen);
        QVERIFY(other.LastReducedPhoto().isEmpty());
    }

    // The real save dialog adds ".jpg" to a name typed without extension.
    void saveDialogAddsTheExtension()
    {
        m_chosen = Source(QStringLiteral("IMG_1.JPG"));
        auto limit = std::make_unique<WriteLimit>(4096);
        QTimer typist;
        connect(&typist, &QTimer::timeout, this, [this] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                auto* dialog = qobject_cast<QFileDialog*>(widget);
                if (dialog && dialog->isVisible()) {
                    dialog->setDirectory(m_dir->path());
                    dialog->selectFile(QStringLiteral("typed"));
                    QMetaObject::invokeMethod(dialog, "accept");
                }
            }
        });
        typist.start(20);
        app::TPhotoCommandSeam seam = m_window->Seam();
        seam.savePicture = [&](QWidget* parent) {
            limit->Lift();
            return app::SavePictureDialog(parent);
        };
        m_window->SetSeam(seam);
        m_window->submitClick();
        const QString typed = m_dir->filePath(QStringLiteral("typed.jpg"));
        QVERIFY(IsJpeg(typed));
        QCOMPARE(m_window->windowTitle(), typed);
    }

    // The window's own open dialog, with its preview, chooses the photo.
    void throughTheOpenDialog()
    {
        const QString photo = Source(QStringLiteral("IMG_1.JPG"));
        Select(QStringLiteral("yalta-leto.ru"));
        app::TPhotoCommandSeam seam = m_window->Seam();
        seam.openPhoto = m_realOpen;
        m_window->SetSeam(seam);
        QTimer chooser;
        qsizetype filters = 0;
        connect(&chooser, &QTimer::timeout, this, [&] {
            dialogs::TMMOpenDialog* dialog = m_window->MMOpenDialog1();
            if (!dialog || !dialog->isVisible())
                return;
            // Until the dialog takes it: its file list fills in the background.
            filters = dialog->nameFilters().size();
            if (dialog->directory().absolutePath() != QDir(m_dir->path()).absolutePath())
                dialog->setDirectory(m_dir->path());
            // Typed into the name field, as a user would.
            if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                name->setText(photo);
            Q_EMIT dialog->currentChanged(photo);
            QMetaObject::invokeMethod(dialog, "accept");
        });
        chooser.start(20);
        m_window->submitClick();
        chooser.stop();
        QCOMPARE(filters, 20);
        QCOMPARE(QImageReader(m_dir->filePath(QStringLiteral("IMG_1_Resize728px.jpg"))).size(), kReduced);
        QCOMPARE(m_window->windowTitle(), QStringLiteral("IMG_1_Resize728px.jpg"));
        QCOMPARE(m_addresses, QStringList{QStringLiteral("http://yalta-leto.ru/board/#fosform")});
        // It previewed the photo while it was chosen.
        QCOMPARE(m_window->MMOpenDialog1()->MultiMedia()->MediaName(), photo);
    }

    // A scrolling message chosen with the photo button shows its text: the
    // command ends at the reduction (no picture to reduce), the message runs
    // on, also after an icon was shown before it.
    void messageThroughThePhotoButton()
    {
        const QString icon = m_dir->filePath(QStringLiteral("icon.ico"));
        QVERIFY(QFile::copy(QStringLiteral(SNIMKOREZ_SOURCE "/tests/data/preview/icon.ico"), icon));
        m_window->Export()->SetImageName(icon);
        m_chosen = QStringLiteral(SNIMKOREZ_SOURCE "/data/messages/sample.scm");
        QVERIFY(QFileInfo::exists(*m_chosen));
        QVERIFY_THROWS_EXCEPTION(std::exception, m_window->submitClick());
        preview::TPMultiImage* control = m_window->Export();
        QCOMPARE(control->CurrentMessageMode(), preview::TPMultiImage::MessageMode::Scrolling);
        QCOMPARE(control->FileInfo().imageType, QStringLiteral("SCM"));
        for (int i = 0; i < 2 * 300; ++i)
            control->MessageTick();
        const QImage shown = control->grab().toImage();
        bool gold = false;
        for (int x = 400; x < 728 && !gold; x += 2)
            for (int y = 0; y < 400 && !gold; y += 2)
                gold = shown.pixelColor(x, y).red() > 200 && shown.pixelColor(x, y).blue() < 100;
        QVERIFY2(gold, "no text of the message in the preview");
    }

    // The open dialog starts where the last photo was chosen, also in the
    // next run: the folder is kept with the other settings.
    void openDialogRemembersTheFolder()
    {
        QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("дача")));
        const QString folder = m_dir->filePath(QStringLiteral("дача"));
        QVERIFY(QFile::copy(kPhoto, folder + QStringLiteral("/sofa.jpg")));
        m_chosen = folder + QStringLiteral("/sofa.jpg");
        m_window->submitClick();
        QCOMPARE(platform::TIniFile(Settings()).ReadString(QStringLiteral("Photo"), QStringLiteral("Folder"), QString()),
                 folder);

        TForm1 next(m_dir->filePath(QStringLiteral("snimkorez")));  // its own dialogs, no browser
        QString started;
        QTimer closer;
        connect(&closer, &QTimer::timeout, this, [&] {
            dialogs::TMMOpenDialog* dialog = next.MMOpenDialog1();
            if (!dialog || !dialog->isVisible())
                return;
            started = dialog->directory().absolutePath();
            QMetaObject::invokeMethod(dialog, "reject");
        });
        closer.start(20);
        next.submitClick();
        closer.stop();
        QCOMPARE(started, folder);
    }

    // A photo dropped on the window gives what choosing it gives.
    void droppedPhoto()
    {
        const QString photo = Source(QStringLiteral("dropped.jpg"));
        Select(QStringLiteral("yalta-leto.ru"));
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(photo)});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(m_window.get(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(m_window.get(), &drop);
        const QString output = m_dir->filePath(QStringLiteral("dropped_Resize728px.jpg"));
        QCOMPARE(QImageReader(output).size(), kReduced);
        QCOMPARE(m_window->windowTitle(), QStringLiteral("dropped_Resize728px.jpg"));
        QCOMPARE(m_addresses, QStringList{QStringLiteral("http://yalta-leto.ru/board/#fosform")});
        // Two files at once are two photos.
        const QString second = Source(QStringLiteral("second.jpg"));
        QMimeData two;
        two.setUrls({QUrl::fromLocalFile(photo), QUrl::fromLocalFile(second)});
        QDragEnterEvent both(QPoint(10, 10), Qt::CopyAction, &two, Qt::LeftButton, Qt::NoModifier);
        both.setAccepted(false);
        QApplication::sendEvent(m_window.get(), &both);
        QVERIFY(both.isAccepted());
        QVERIFY(QFile::remove(output));
        QDropEvent dropBoth(QPointF(10, 10), Qt::CopyAction, &two, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(m_window.get(), &dropBoth);
        QCOMPARE(QImageReader(output).size(), kReduced);
        QCOMPARE(QImageReader(m_dir->filePath(QStringLiteral("second_Resize728px.jpg"))).size(), kReduced);
        QCOMPARE(m_window->windowTitle(), QStringLiteral("2 фото"));
        QCOMPARE(m_addresses.size(), 2);
    }

    // Several photos in one command: each reduced beside itself in turn with
    // "k из N" shown, one that cannot be read listed at the end without
    // stopping the others, the browser and the settings once, after the
    // last; Escape stops after the current photo; two photos picked in the
    // open dialog's list, the second with Ctrl, are both reduced.
    void severalPhotos()
    {
        const QString broken = m_dir->filePath(QStringLiteral("broken.jpg"));
        testfiles::WriteAll(broken, ReadAll(kPhoto).left(3000));
        QStringList chosen{Source(QStringLiteral("диван.jpg")), broken, Source(QStringLiteral("stol.jpg"))};
        // Named as the command composes them: folder, "/", name.
        const QString firstOut = m_dir->path() + QStringLiteral("//диван_Resize728px.jpg");
        const QString lastOut = m_dir->path() + QStringLiteral("//stol_Resize728px.jpg");
        Select(QStringLiteral("yalta-leto.ru"));
        app::TPhotoCommandSeam seam = m_window->Seam();
        seam.openPhoto = [&](QWidget*) { return chosen; };
        QStringList failures;
        bool boxBeforeBrowser = false;
        seam.failedPhotosBox = [&](QWidget*, const QString&, const QString& text) {
            failures << text;
            boxBeforeBrowser = m_addresses.isEmpty() && !m_browser->isVisible();
        };
        // The photos written, the settings not yet.
        bool readyForNavigation = false;
        seam.navigate = [&](const QString& address) {
            m_addresses << address;
            readyForNavigation = QFile::exists(firstOut) && QFile::exists(lastOut) && !QFile::exists(Settings());
        };
        m_window->SetSeam(seam);
        QStringList progress;
        const QMetaObject::Connection watch = connect(m_window.get(), &QWidget::windowTitleChanged, this, [&] {
            progress << (m_window->BatchProgress()->isVisible() ? m_window->BatchProgress()->text() : QString());
        });
        m_window->submitClick();
        disconnect(watch);
        QCOMPARE(QImageReader(firstOut).size(), kReduced);
        QCOMPARE(QImageReader(lastOut).size(), kReduced);
        QVERIFY(!QFile::exists(m_dir->filePath(QStringLiteral("broken_Resize728px.jpg"))));
        QCOMPARE(failures.size(), 1);
        QVERIFY2(failures.first().contains(QStringLiteral("broken.jpg: Файл изображения повреждён")) &&
                     !failures.first().contains(QStringLiteral("диван")) &&
                     !failures.first().contains(QLatin1String("stol")),
                 qPrintable(failures.first()));
        QVERIFY(boxBeforeBrowser);
        QCOMPARE(m_addresses, QStringList{QStringLiteral("http://yalta-leto.ru/board/#fosform")});
        QVERIFY(readyForNavigation);
        QCOMPARE(platform::TIniFile(Settings()).ReadString(QStringLiteral("Board"), QStringLiteral("Select"), QString()),
                 QStringLiteral("yalta-leto.ru"));
        QVERIFY(m_boxes.isEmpty());
        // Each caption while the progress showed it; the count at the end.
        QCOMPARE(progress, (QStringList{QStringLiteral("1 из 3"), QStringLiteral("3 из 3"), QString()}));
        QCOMPARE(m_window->windowTitle(), QStringLiteral("2 фото"));
        QCOMPARE(m_window->Export()->ImageName(), lastOut);
        QCOMPARE(m_window->LastBatch(), (QStringList{firstOut, lastOut}));
        QVERIFY(m_window->Label1()->isVisible());

        // Escape after the first photo: the others are not begun.
        QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("stop")));
        chosen = {Source(QStringLiteral("stop/1.jpg")), Source(QStringLiteral("stop/2.jpg")),
                  Source(QStringLiteral("stop/3.jpg"))};
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        const QMetaObject::Connection stop = connect(m_window.get(), &QWidget::windowTitleChanged, this, [&] {
            QTest::keyClick(m_window.get(), Qt::Key_Escape);
        });
        m_window->submitClick();
        disconnect(stop);
        QCOMPARE(QDir(m_dir->filePath(QStringLiteral("stop"))).entryList({QStringLiteral("*_Resize728px.jpg")}),
                 QStringList{QStringLiteral("1_Resize728px.jpg")});
        QCOMPARE(m_window->windowTitle(), QStringLiteral("1_Resize728px.jpg"));
        QCOMPARE(failures.size(), 1);
        QCOMPARE(m_addresses.size(), 2);

        // Two photos picked in the open dialog's list, the second with Ctrl;
        // the preview follows the one picked last.
        QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("picked")));
        const QString picked = m_dir->filePath(QStringLiteral("picked"));
        Source(QStringLiteral("picked/a.jpg"));
        const QString second = Source(QStringLiteral("picked/b.jpg"));
        seam.openPhoto = m_realOpen;
        m_window->SetSeam(seam);
        QString previewed;
        QTimer picker;
        connect(&picker, &QTimer::timeout, this, [&] {
            dialogs::TMMOpenDialog* dialog = m_window->MMOpenDialog1();
            if (!dialog || !dialog->isVisible())
                return;
            if (dialog->directory().absolutePath() != picked) {
                dialog->setDirectory(picked);
                return;
            }
            auto* list = dialog->findChild<QListView*>(QStringLiteral("listView"));
            QVERIFY(list);
            // Until the list has both.
            const auto row = [list](const QString& name) {
                return list->model()
                    ->match(list->model()->index(0, 0, list->rootIndex()), Qt::DisplayRole, name, 1, Qt::MatchExactly)
                    .value(0);
            };
            const QModelIndex a = row(QStringLiteral("a.jpg"));
            const QModelIndex b = row(QStringLiteral("b.jpg"));
            if (!a.isValid() || !b.isValid())
                return;
            picker.stop();
            QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, list->visualRect(a).center());
            QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier, list->visualRect(b).center());
            previewed = dialog->MultiMedia()->MediaName();
            QMetaObject::invokeMethod(dialog, "accept");
        });
        picker.start(20);
        m_window->submitClick();
        picker.stop();
        QCOMPARE(previewed, second);
        QCOMPARE(QImageReader(picked + QStringLiteral("/a_Resize728px.jpg")).size(), kReduced);
        QCOMPARE(QImageReader(picked + QStringLiteral("/b_Resize728px.jpg")).size(), kReduced);
        QCOMPARE(m_window->windowTitle(), QStringLiteral("2 фото"));
    }

    // A click while the command runs does nothing: the reduction lets events
    // run, and the click arrives then.
    void noSecondRunInsideTheFirst()
    {
        m_chosen = Source(QStringLiteral("IMG_1.JPG"));
        int opened = 0;
        app::TPhotoCommandSeam seam = m_window->Seam();
        seam.openPhoto = [&](QWidget*) {
            ++opened;
            return QStringList{*m_chosen};
        };
        m_window->SetSeam(seam);
        QTimer::singleShot(0, m_window->submit(), [this] { m_window->submit()->click(); });
        m_window->submitClick();
        QCoreApplication::processEvents();
        QCOMPARE(opened, 1);
        QCOMPARE(m_addresses.size(), 1);
    }

    // The posting page's file input opens where the reduced photo is, with
    // it chosen, taking several pictures when the input does.
    void uploadHelper()
    {
        m_chosen = Source(QStringLiteral("IMG_1.JPG"));
        m_window->submitClick();
        app::TUploadChoice asked;
        bool called = false;
        app::TPhotoCommandSeam seam = m_window->Seam();
        seam.chooseUpload = [&](QWidget*, const app::TUploadChoice& choice) {
            asked = choice;
            called = true;
            return choice.preselected;
        };
        m_window->SetSeam(seam);
        // A posting page's file input, clicked as a seller would.
        browser::TWebHost* host = m_browser->WebHost();
        auto* page = qobject_cast<QWebEnginePage*>(host->Document());
        bool loaded = false;
        connect(page, &QWebEnginePage::loadFinished, this, [&] { loaded = true; });
        page->setHtml(QStringLiteral("<input type='file' id='photo' accept='image/jpeg,.png' multiple "
                                     "style='position:absolute;left:0;top:0;width:300px;height:60px'>"));
        QTRY_VERIFY_WITH_TIMEOUT(loaded, 30000);
        QWidget* view = host->ControlWidget();
        QTRY_VERIFY(view->focusProxy() != nullptr);
        QTest::qWait(300);
        QTest::mouseClick(view->focusProxy(), Qt::LeftButton, Qt::NoModifier, QPoint(40, 30));
        QTRY_VERIFY_WITH_TIMEOUT(called, 10000);
        QCOMPARE(asked.preselected, QStringList{m_dir->path() + QStringLiteral("//IMG_1_Resize728px.jpg")});
        QCOMPARE(asked.folder, m_dir->path());
        QCOMPARE(asked.mode, browser::FileRequest::Mode::OpenMultiple);
        QVERIFY2(asked.nameFilters.size() == 2 && asked.nameFilters[0].contains(QLatin1String("[Jj][Pp][Gg]")) &&
                     asked.nameFilters[0].contains(QLatin1String("[Pp][Nn][Gg]")),
                 qPrintable(asked.nameFilters.join(u'|')));
        QString chosen;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                bool done = false;
                page->runJavaScript(QStringLiteral("var f = document.getElementById('photo').files;"
                                                   "f.length ? f[0].name : ''"),
                                    [&](const QVariant& result) {
                                        chosen = result.toString();
                                        done = true;
                                    });
                return QTest::qWaitFor([&] { return done; }, 5000) && !chosen.isEmpty();
            }(),
            10000);
        QCOMPARE(chosen, QStringLiteral("IMG_1_Resize728px.jpg"));
    }

    // After several photos the chooser a posting page's file input opens
    // offers all of them: the real one opens with every one chosen; an input
    // that takes one file is offered the first.
    void uploadHelperOffersTheBatch()
    {
        QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("sofa")));
        m_window->RunPhotoCommand({Source(QStringLiteral("sofa/left.jpg")), Source(QStringLiteral("sofa/right.jpg")),
                                   Source(QStringLiteral("sofa/back.jpg"))});
        const QStringList reduced = m_window->LastBatch();
        QCOMPARE(reduced.size(), 3);
        // The real chooser, confirmed as it opens; whatever is open after that
        // (its complaint, itself) closed.
        int tries = 0;
        QTimer confirm;
        connect(&confirm, &QTimer::timeout, this, [&] {
            if (QWidget* modal = QApplication::activeModalWidget())
                QMetaObject::invokeMethod(modal, ++tries == 1 ? "accept" : "reject", Qt::QueuedConnection);
        });
        confirm.start(20);
        browser::FileRequest request;
        request.mode = browser::FileRequest::Mode::OpenMultiple;
        request.accept = {QStringLiteral("image/*")};
        QStringList offered = m_browser->WebHost()->OnChooseFiles(request);
        QStringList expected = QStringList(reduced).replaceInStrings(QStringLiteral("//"), QStringLiteral("/"));
        offered.sort();
        expected.sort();
        QCOMPARE(offered, expected);
        request.mode = browser::FileRequest::Mode::Open;
        QCOMPARE(app::UploadChoiceFor(request, reduced, QString()).preselected, QStringList{reduced.first()});
    }

    // Where the upload dialog opens and what it offers, before any photo
    // was reduced and for inputs that want no pictures.
    void uploadChoiceRules()
    {
        using Mode = browser::FileRequest::Mode;
        // A home of the test's own, without a pictures folder at first.
        const QByteArray realHome = qgetenv("HOME");
        QTemporaryDir home;
        qputenv("HOME", home.path().toLocal8Bit());
        const auto restore = qScopeGuard([&] { qputenv("HOME", realHome); });
        const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
        QVERIFY(pictures.startsWith(home.path()));
        browser::FileRequest request;
        QCOMPARE(app::UploadChoiceFor(request, QString(), QString()).folder, home.path());
        QVERIFY(QDir().mkpath(pictures));
        QCOMPARE(app::UploadChoiceFor(request, QString(), QString()).folder, pictures);
        QCOMPARE(app::UploadChoiceFor(request, QString(), m_dir->path()).folder, m_dir->path());
        const QString photo = m_dir->filePath(QStringLiteral("a_Resize728px.jpg"));
        QCOMPARE(app::UploadChoiceFor(request, photo, pictures).folder, m_dir->path());
        // No accept list: every file, the photo chosen.
        QCOMPARE(app::UploadChoiceFor(request, photo, QString()).nameFilters, QStringList{QStringLiteral("Все файлы (*)")});
        QCOMPARE(app::UploadChoiceFor(request, photo, QString()).preselected, QStringList{photo});
        // Pictures of any kind.
        request.accept = {QStringLiteral("image/*")};
        const QStringList any = app::UploadChoiceFor(request, photo, QString()).nameFilters;
        QVERIFY2(any.size() == 2 && any[0].contains(QLatin1String("[Jj][Pp][Gg]")), qPrintable(any.join(u'|')));
        // Anything else: all files, nothing chosen for it.
        request.accept = {QStringLiteral("image/png"), QStringLiteral("application/pdf")};
        QCOMPARE(app::UploadChoiceFor(request, photo, QString()).nameFilters, QStringList{QStringLiteral("Все файлы (*)")});
        QVERIFY(app::UploadChoiceFor(request, photo, QString()).preselected.isEmpty());
        // A folder input chooses a folder.
        request = {};
        request.mode = Mode::Folder;
        QVERIFY(app::UploadChoiceFor(request, photo, QString()).preselected.isEmpty());
        QCOMPARE(app::UploadChoiceFor(request, photo, QString()).mode, Mode::Folder);
    }

    // The main window with a scrolling message mid-way, for
    // docs/message-mode.png (SNIMKOREZ_MESSAGE_SHOT=<file.png>).
    void messageScreenshot()
    {
        const QString target = qEnvironmentVariable("SNIMKOREZ_MESSAGE_SHOT");
        if (target.isEmpty())
            QSKIP("set SNIMKOREZ_MESSAGE_SHOT=<file.png> to write the screenshot");
        preview::TPMultiImage* preview = m_window->Export();
        preview->SetMessageTickInterval(0);
        preview->SetImageName(QStringLiteral(SNIMKOREZ_SOURCE "/data/messages/sample.scm"));
        QCOMPARE(preview->CurrentMessageMode(), preview::TPMultiImage::MessageMode::Scrolling);
        // Until the middle of the text passes the middle of the preview.
        const int travel = preview->width() / 2 + preview->MessageStripSize().width() / 2;
        for (int tick = 0; tick < 2 * travel; ++tick)
            preview->MessageTick();
        QTest::qWait(200);
        QVERIFY(m_window->grab().save(target));
    }

    // The main window after a real photo's reduction, for docs/main-window.png
    // (run under Xvfb with SNIMKOREZ_MAIN_SHOT=<file.png>).
    void screenshot()
    {
        const QString target = qEnvironmentVariable("SNIMKOREZ_MAIN_SHOT");
        if (target.isEmpty())
            QSKIP("set SNIMKOREZ_MAIN_SHOT=<file.png> to write the screenshot");
        const QString photo = m_dir->filePath(QStringLiteral("Kleiber.jpg"));
        QVERIFY(QFile::copy(QStringLiteral(SNIMKOREZ_PHOTOS "/Kleiber_by_Lukas_Baubkus.jpg"), photo));
        m_chosen = photo;
        Select(QStringLiteral("yalta-leto.ru"));
        m_window->submitClick();
        m_browser->hide();
        m_window->activateWindow();
        QTest::qWait(500);
        QVERIFY(m_window->grab().save(target));
    }
};

int main(int argc, char** argv)
{
    browser::PrepareEngine();
    app::TApplication application(argc, argv);
    PhotoCommandTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "photo_command_test.moc"
