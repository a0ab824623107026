#include "TestFiles.h"
#include "app/Startup.h"
#include "app/TApplication.h"
#include "app/TForm1.h"
#include "boards/Catalogue.h"
#include "boards/TfcPopupTreeView.h"
#include "imaging/DLL96V1.h"
#include "preview/TPMultiImage.h"
#include "boards/TfcTreeCombo.h"
#include "boards/TfcTreeNode.h"
#include "platform/FloatingPointEnvironment.h"
#include "platform/TIniFile.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QPainter>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <cfenv>
#include <memory>

using app::TApplication;
using app::TForm1;

namespace {

// Counts top-level windows being shown, to prove that some start-ups show none.
class ShowCounter : public QObject {
public:
    int shown = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show && watched->isWidgetType() &&
            static_cast<QWidget*>(watched)->isWindow())
            ++shown;
        return false;
    }
};

// Closes the next modal message box and keeps what it showed.
class MessageBoxWatcher : public QObject {
public:
    MessageBoxWatcher()
    {
        connect(&m_timer, &QTimer::timeout, this, [this] { Poll(); });
        m_timer.start(10);
    }

    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool seen = false;

private:
    void Poll()
    {
        auto* shown = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!shown)
            return;
        m_timer.stop();
        title = shown->windowTitle();
        text = shown->text();
        icon = shown->icon();
        seen = true;
        shown->button(QMessageBox::Ok)->click();
    }

    QTimer m_timer;
};

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_exe = m_dir->filePath(QStringLiteral("snimkorez"));
        m_ini = m_dir->filePath(QStringLiteral("snimkorez.ini"));
    }

    void settingsPathBesideTheExecutable()
    {
        QCOMPARE(TForm1::SettingsPathFor("/opt/s/snimkorez"), QString("/opt/s/snimkorez.ini"));
        QCOMPARE(TForm1::SettingsPathFor("/opt/s/Project1.exe"), QString("/opt/s/Project1.ini"));
        QCOMPARE(TForm1::SettingsPathFor("/opt/v1.2/snimkorez"), QString("/opt/v1.2/snimkorez.ini"));
        QCOMPARE(TForm1::SettingsPathFor("/opt/s/.hidden"), QString("/opt/s/.hidden.ini"));
    }

    void designedWindowWithoutSettings()
    {
        TForm1 form(m_exe);
        QVERIFY(!form.ExitRequested());
        QCOMPARE(form.SettingsPath(), m_ini);
        QCOMPARE(form.pos(), QPoint(225, 92));
        QCOMPARE(form.size(), QSize(728, 440));
        QCOMPARE(form.minimumSize(), form.maximumSize());
        QVERIFY(!(form.windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(form.windowTitle(), QStringLiteral("Снимкорез для досок объявлений"));
        QCOMPARE(form.board()->Text(), boards::DefaultBoardHost());
        QVERIFY(form.board()->SelectedNode());
        QCOMPARE(form.board()->SelectedNode()->DataText1(), QStringLiteral("board/i.php"));
        QVERIFY(!QFile::exists(m_ini));  // reading creates nothing
    }

    void storedPosition_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QPoint>("position");
        QTest::newRow("both") << QByteArray("[Window]\nTop=300\nLeft=-40\n") << QPoint(-40, 300);
        QTest::newRow("top only keeps the designed left") << QByteArray("[window]\nTOP=10\n") << QPoint(225, 10);
        QTest::newRow("hex") << QByteArray("[Window]\nLeft=0x20\n") << QPoint(32, 92);
        QTest::newRow("not a number") << QByteArray("[Window]\nTop=high\nLeft=\n") << QPoint(225, 92);
    }
    void storedPosition()
    {
        QFETCH(QByteArray, settings);
        QFETCH(QPoint, position);
        Write(settings);
        TForm1 form(m_exe);
        QCOMPARE(form.pos(), position);
    }

    // A position off every screen comes back onto the primary screen; one
    // that shows the selector and the button stays as stored.
    void unreachablePositionComesBack()
    {
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        Write("[Window]\nTop=-5000\nLeft=99999\n");
        {
            TForm1 form(m_exe);
            QCOMPARE(form.pos(), QPoint(area.right() + 1 - form.width(), area.top()));
        }
        Write("[Window]\nTop=99999\nLeft=-99999\n");
        {
            TForm1 form(m_exe);
            QCOMPARE(form.pos(), QPoint(area.left(), area.bottom() + 1 - form.height()));
        }
        Write("[Window]\nTop=20\nLeft=-40\n");
        TForm1 form(m_exe);
        QCOMPARE(form.pos(), QPoint(-40, 20));
    }

    void storedBoardSelectsItsNode_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("selected");
        QTest::newRow("other letter case") << "DOSKA-Krym.RU" << boards::DefaultBoardHost() << true;
        QTest::newRow("category that users cannot pick") << "Отдых в Крыму" << "Отдых в Крыму" << true;
        QTest::newRow("unknown board") << "nowhere.example" << "nowhere.example" << false;
        QTest::newRow("Cyrillic case differs") << "ЯЛТА.РФ" << "ЯЛТА.РФ" << false;
        QTest::newRow("empty") << "" << "" << false;
    }
    void storedBoardSelectsItsNode()
    {
        QFETCH(QString, stored);
        QFETCH(QString, text);
        QFETCH(bool, selected);
        Write("[Board]\nSelect=" + stored.toUtf8() + "\n");
        TForm1 form(m_exe);
        QCOMPARE(form.board()->Text(), text);
        QCOMPARE(form.board()->SelectedNode() != nullptr, selected);
        if (selected)
            QCOMPARE(form.board()->SelectedNode()->Text(), text);
        // The start-up went through the real drop-down; the next one opens
        // where that left the tree.
        form.board()->DropDown();
        QCOMPARE(form.board()->TreeSelection(), form.board()->SelectedNode());
        if (!selected)
            QCOMPARE(form.board()->TreeView()->TopRow(), 0);
        form.board()->CloseUp(false);
    }

    // The selector on the shown main window, its popup open under a Cyrillic
    // category. SNIMKOREZ_SELECTOR_SHOT names a file to keep the picture in.
    void selectorPopupOnTheMainWindow()
    {
        Write("[Board]\nSelect=Yalta-Leto.ru\n");
        TForm1 form(m_exe);
        form.show();
        form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        boards::TfcTreeCombo* board = form.board();
        board->setFocus();
        QTest::keyClick(board, Qt::Key_F4);
        QWidget* popup = board->Popup();
        QVERIFY(popup->isVisible());
        QCOMPARE(QApplication::activeWindow(), &form);
        QCOMPARE(board->TreeSelection()->Text(), QStringLiteral("yalta-leto.ru"));

        const QRect frame = form.geometry();
        const QRect all = frame.united(popup->geometry());
        QImage shot(all.size(), QImage::Format_RGB32);
        shot.fill(Qt::white);
        {
            QPainter painter(&shot);
            painter.drawPixmap(frame.topLeft() - all.topLeft(), form.grab());
            painter.drawPixmap(popup->geometry().topLeft() - all.topLeft(), popup->grab());
        }
        const boards::TfcPopupTreeView* view = board->TreeView();
        const QRect label = view->LabelRect(board->TreeSelection());
        const QPoint inShot = view->viewport()->mapTo(popup, label.topLeft()) +
                              popup->geometry().topLeft() - all.topLeft() + QPoint(1, 1);
        QCOMPARE(shot.pixelColor(inShot), view->palette().color(QPalette::Active, QPalette::Highlight));
        const QString path = qEnvironmentVariable("SNIMKOREZ_SELECTOR_SHOT");
        if (!path.isEmpty())
            QVERIFY(shot.save(path));
        QTest::keyClick(board, Qt::Key_Escape);
        QVERIFY(!popup->isVisible());
    }

    // The preview as the window defines it: black, no bars, until a photo
    // arrives, which shows at 1:1 from its top-left corner with both bars.
    // SNIMKOREZ_PREVIEW_SHOT names a file to keep the picture of it in.
    void previewShowsAPhotoAtItsOwnSize()
    {
        TForm1 form(m_exe);
        preview::TPMultiImage* view = form.Export();
        QCOMPARE(view->geometry(), QRect(0, 0, 728, 400));
        QCOMPARE(view->Color(), QColor(Qt::black));
        QCOMPARE(view->ScrollbarWidth(), 16);
        QCOMPARE(int(view->JPegSaveQuality()), 90);
        QCOMPARE(int(view->JPegSaveSmooth()), 5);
        QVERIFY(view->Scrolling() && view->IsLoaded());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QImage empty = view->grab().toImage();
        for (int y = 0; y < empty.height(); y += 37) {
            for (int x = 0; x < empty.width(); x += 41)
                QCOMPARE(empty.pixelColor(x, y), QColor(Qt::black));
        }
        QVERIFY(!view->VerticalBar()->isVisible() || view->VerticalBar()->width() <= 0);

        const QString photo = QStringLiteral("/usr/share/backgrounds/Wine_by_Jakkub_Mede.jpg");
        QVERIFY2(QFile::exists(photo), "scripts/install-deps installs lomiri-wallpapers");
        view->SetImageName(photo);
        QVERIFY(view->Picture().HasGraphic());
        QVERIFY(view->VerticalBar()->isVisible() && view->HorizontalBar()->isVisible());
        QCOMPARE(view->OriginX(), 0);
        QCOMPARE(view->OriginY(), 0);
        const QImage expected = QImage(photo).convertToFormat(QImage::Format_RGB888);
        const QImage shown = view->grab().toImage();
        for (const QPoint at : {QPoint(5, 5), QPoint(300, 200), QPoint(700, 370)}) {
            const QColor a = shown.pixelColor(at), b = expected.pixelColor(at);
            QVERIFY2(std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
                             std::abs(a.blue() - b.blue()) <= 12,
                     qPrintable(QStringLiteral("%1,%2").arg(at.x()).arg(at.y())));
        }
        const QString path = qEnvironmentVariable("SNIMKOREZ_PREVIEW_SHOT");
        if (!path.isEmpty())
            QVERIFY(form.grab().save(path));
    }

    void settingsWriteStoresPositionAndBoard()
    {
        Write("; keep me\n[Other]\nx=1\n[Board]\nSelect=Doska-Krym.ru\n");
        TForm1 form(m_exe);
        form.move(-12, 345);
        form.WriteSettings();
        const platform::TIniFile settings(m_ini);
        QCOMPARE(settings.ReadInteger("Window", "Top", 0), 345);
        QCOMPARE(settings.ReadInteger("Window", "Left", 0), -12);
        QCOMPARE(settings.ReadString("Board", "Select", ""), boards::DefaultBoardHost());
        QCOMPARE(settings.ReadString("Other", "x", ""), QString("1"));
        QVERIFY(Read().startsWith("; keep me\n"));
        QVERIFY(Read().contains("Left=-12\n"));
    }

    void settingsWriteWithoutSelectedNodeStoresDefaultHost()
    {
        Write("[Board]\nSelect=nowhere.example\n");
        TForm1 form(m_exe);
        QVERIFY(!form.board()->SelectedNode());
        form.WriteSettings();
        QCOMPARE(platform::TIniFile(m_ini).ReadString("Board", "Select", ""), boards::DefaultBoardHost());
    }

    void refusedWriteIsShownInTheStandardErrorBox()
    {
        // The "folder" is a regular file: no one can create the settings file there.
        QFile blocker(m_dir->filePath("blocked"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        TForm1 form(m_dir->filePath("blocked/snimkorez"));
        MessageBoxWatcher box;
        bool reachedTheEnd = false;
        TApplication::HandleEvent([&] {
            form.WriteSettings();
            reachedTheEnd = true;
        });
        QVERIFY(!reachedTheEnd);
        QVERIFY(box.seen);
        QCOMPARE(box.title, QStringLiteral("Лето - это отдых в Крыму!"));
        QCOMPARE(box.icon, QMessageBox::Critical);
        QCOMPARE(box.text, "Unable to write to " + m_dir->filePath("blocked/snimkorez.ini") + ".");
    }

    void refusedWriteStopsAtTheFailedKey()
    {
        // Existing but not rewritable: a settings file far too large to be ours.
        QByteArray big = "[Window]\nTop=1\n" + QByteArray(5 * 1024 * 1024, '#');
        Write(big);
        TForm1 form(m_exe);
        QVERIFY_THROWS_EXCEPTION(platform::EIniFileException, form.WriteSettings());
        QCOMPARE(Read().size(), big.size());
    }

    void errorMessageFullStopRule_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("shown");
        QTest::newRow("letter") << "Input image is empty" << "Input image is empty.";
        QTest::newRow("already a full stop") << "Done." << "Done.";
        QTest::newRow("exclamation sorts before") << "Stop!" << "Stop!";
        QTest::newRow("digit sorts after") << "Code 5" << "Code 5.";
        QTest::newRow("Cyrillic") << "Ошибка" << "Ошибка.";
        QTest::newRow("empty") << "" << "";
    }
    void errorMessageFullStopRule()
    {
        QFETCH(QString, message);
        QFETCH(QString, shown);
        QCOMPARE(TApplication::FormatErrorMessage(message), shown);
    }

    void errorLeavingAnEventHandlerIsShownAndTheProgramGoesOn()
    {
        QObject target;
        struct Thrower : QObject {
            bool event(QEvent* e) override
            {
                if (e->type() == QEvent::User)
                    throw platform::Exception(QStringLiteral("Сбой"));
                return QObject::event(e);
            }
        } thrower;
        MessageBoxWatcher box;
        QEvent event(QEvent::User);
        QCoreApplication::sendEvent(&thrower, &event);
        QVERIFY(box.seen);
        QCOMPARE(box.text, QStringLiteral("Сбой."));
    }

    void tagOneEndsStartupWithoutShowingAWindow()
    {
        Write("[Window]\nTag=1\n");
        ShowCounter counter;
        qApp->installEventFilter(&counter);
        platform::FloatingPointEnvironment start;
        start.Remember();
        std::fesetround(FE_TOWARDZERO);
        const int code = app::RunProgram(*static_cast<TApplication*>(qApp), m_exe, start);
        qApp->removeEventFilter(&counter);
        QCOMPARE(code, 0);
        QCOMPARE(counter.shown, 0);
        QCOMPARE(std::fegetround(), FE_TONEAREST);  // the exit work ran
    }

    void normalStartupShowsTheWindowAndClosingWritesNothing()
    {
        Write("[Window]\nTag=2\nTop=50\nLeft=60\n");
        const QByteArray before = Read();
        ShowCounter counter;
        qApp->installEventFilter(&counter);
        QPoint shownAt;
        QTimer::singleShot(50, [&shownAt] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (w->isVisible() && qobject_cast<TForm1*>(w)) {
                    shownAt = w->pos();
                    w->move(400, 400);  // moved, then closed: nothing is stored
                    w->close();
                }
            }
        });
        platform::FloatingPointEnvironment start;
        start.Remember();
        const int code = app::RunProgram(*static_cast<TApplication*>(qApp), m_exe, start);
        qApp->removeEventFilter(&counter);
        QCOMPARE(code, 0);
        QVERIFY(counter.shown >= 1);
        QCOMPARE(shownAt, QPoint(60, 50));
        QCOMPARE(Read(), before);
    }

private:
    void Write(const QByteArray& bytes) { testfiles::WriteAll(m_ini, bytes); }
    QByteArray Read() const { return testfiles::ReadAll(m_ini); }

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_exe;
    QString m_ini;
};

int main(int argc, char** argv)
{
    TApplication application(argc, argv);
    // The program finds its imaging modules beside itself; the test binary
    // lives elsewhere.
    imaging::DLL96V1::SetDllDirectory(QStringLiteral(SNIMKOREZ_MODULE_DIR));
    MainWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "main_window_test.moc"
