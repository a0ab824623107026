// The seller's own boards on the real main window: the category from the
// file at start, the selector's menu adding and removing a board, the
// posting address of an https board, and the choice kept to the next start.
#include "TestFiles.h"
#include "app/TApplication.h"
#include "app/TForm1.h"
#include "boards/Catalogue.h"
#include "boards/OwnBoardsCategory.h"
#include "boards/TfcTreeCombo.h"
#include "boards/TfcTreeComboTreeNode.h"
#include "imaging/DLL96V1.h"
#include "platform/TIniFile.h"

#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

using app::TForm1;
using boards::OwnBoardsCategory;

namespace {

using testfiles::ReadAll;

}  // namespace

class OwnBoardsWindowTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QStringList m_addresses;
    QStringList m_messages;

    QString BoardsFile() const { return m_dir->filePath(QStringLiteral("config/snimkorez/boards.txt")); }
    QString Settings() const { return m_dir->filePath(QStringLiteral("snimkorez.ini")); }

    // The program as it starts, its browser and messages answered here.
    std::unique_ptr<TForm1> Start()
    {
        auto window = std::make_unique<TForm1>(m_dir->filePath(QStringLiteral("snimkorez")));
        app::TPhotoCommandSeam seam = window->Seam();
        seam.navigate = [this](const QString& address) { m_addresses << address; };
        window->SetSeam(seam);
        OwnBoardsCategory* own = OwnBoardsCategory::Of(window->board());
        if (own) {
            own->ShowMessage = [this](QWidget*, const QString& text) { m_messages << text; };
            own->Confirm = [](QWidget*, const QString&) { return true; };
        }
        window->show();
        return window;
    }

    // Opens the selector's menu as a right click does and picks `text`;
    // false when the item was not there or not enabled.
    static bool PickFromMenu(TForm1& window, const QString& text)
    {
        bool picked = false;
        QTimer picker;
        connect(&picker, &QTimer::timeout, &picker, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu)
                return;
            picker.stop();
            for (QAction* action : menu->actions()) {
                if (action->text() == text && action->isEnabled()) {
                    menu->setActiveAction(action);
                    picked = true;
                }
            }
            if (picked)
                QTest::keyClick(menu, Qt::Key_Return);
            else
                menu->close();
        });
        picker.start(10);
        QWidget* selector = window.board();
        const QPoint at = selector->rect().center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, selector->mapToGlobal(at));
        QApplication::sendEvent(selector, &event);
        return picked;
    }

    static void Select(TForm1& window, const QString& text)
    {
        window.board()->SetText(text);
        window.board()->DropDown();
        window.board()->CloseUp(true);
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir->filePath(QStringLiteral("config"))));
        m_addresses.clear();
        m_messages.clear();
    }

    // A file with two boards and a damaged line: the boards under the last
    // category, the line named in one message and skipped.
    void boardsFromTheFileAtStart()
    {
        QVERIFY(QDir().mkpath(QFileInfo(BoardsFile()).path()));
        QFile file(BoardsFile());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("# mine\n"
                   "doska.example.ru board/add.php\n"
                   "это не доска\n"
                   "https://Моя-Доска.рф add\n");
        file.close();
        const std::unique_ptr<TForm1> window = Start();
        QTRY_COMPARE(m_messages.size(), 1);
        QVERIFY2(m_messages[0].contains(QStringLiteral("строка 3: «это не доска»")), qPrintable(m_messages[0]));

        const boards::TfcTreeNodes& items = window->board()->Items();
        const boards::TfcTreeNode* category = items.Item(items.Count() - 1);
        QCOMPARE(items.Count(), 5);
        QCOMPARE(category->Text(), QStringLiteral("Мои доски"));
        QVERIFY(!dynamic_cast<const boards::TfcTreeComboTreeNode&>(*category).Selectable());
        QCOMPARE(category->Count(), 2);
        QCOMPARE(category->Item(0)->Text(), QStringLiteral("doska.example.ru"));
        QCOMPARE(category->Item(1)->Text(), QStringLiteral("Моя-Доска.рф"));

        Select(*window, QStringLiteral("doska.example.ru"));
        window->RunPhotoCommand({});
        QCOMPARE(m_addresses, QStringList{QStringLiteral("http://doska.example.ru/board/add.php#fosform")});
        // Reading the file wrote nothing to it.
        QCOMPARE(ReadAll(BoardsFile()).count('\n'), 4);
    }

    // "Добавить доску…" stores the board and chooses it; the photo command
    // posts to it over https; the next start chooses it again; "Удалить
    // доску" takes it away.
    void boardAddedThroughTheMenu()
    {
        std::unique_ptr<TForm1> window = Start();
        OwnBoardsCategory* own = OwnBoardsCategory::Of(window->board());
        QVERIFY(own);
        QVERIFY(!own->Category());  // no file, no category
        QStringList answers{QStringLiteral("моя доска.рф/add"), QStringLiteral("https://Моя-Доска.рф/add")};
        QStringList offered;
        own->AskAddress = [&](QWidget*, const QString& typed) -> std::optional<QString> {
            offered << typed;
            if (answers.isEmpty())
                return std::nullopt;
            return answers.takeFirst();
        };
        QVERIFY(PickFromMenu(*window, QStringLiteral("Добавить доску…")));
        // The wrong address was explained and offered again for mending.
        QCOMPARE(m_messages.size(), 1);
        QVERIFY2(m_messages[0].contains(QStringLiteral("пробел")), qPrintable(m_messages[0]));
        QCOMPARE(offered, (QStringList{QString(), QStringLiteral("моя доска.рф/add")}));

        const QString stored = QString::fromUtf8(ReadAll(BoardsFile()));
        QVERIFY2(stored.startsWith(u'#') && stored.endsWith(QStringLiteral("\nhttps://Моя-Доска.рф add\n")),
                 qPrintable(stored));
        QCOMPARE(window->board()->Text(), QStringLiteral("Моя-Доска.рф"));
        QVERIFY(window->board()->SelectedNode());
        QCOMPARE(window->board()->SelectedNode()->Parent()->Text(), QStringLiteral("Мои доски"));

        window->RunPhotoCommand({});
        const QString address = QStringLiteral("https://xn----8sblyhmcy6j.xn--p1ai/add#fosform");
        QCOMPARE(m_addresses, QStringList{address});
        QCOMPARE(platform::TIniFile(Settings()).ReadString(QStringLiteral("Board"), QStringLiteral("Select"), QString()),
                 QStringLiteral("Моя-Доска.рф"));

        // The next start.
        window.reset();
        m_addresses.clear();
        m_messages.clear();
        window = Start();
        const boards::TfcTreeNode* chosen = window->board()->SelectedNode();
        QVERIFY(chosen);
        QCOMPARE(chosen->Text(), QStringLiteral("Моя-Доска.рф"));
        QCOMPARE(chosen->Parent()->Text(), QStringLiteral("Мои доски"));
        window->RunPhotoCommand({});
        QCOMPARE(m_addresses, QStringList{address});

        QVERIFY(PickFromMenu(*window, QStringLiteral("Удалить доску")));
        QVERIFY(!ReadAll(BoardsFile()).contains("Моя-Доска"));
        QVERIFY(!OwnBoardsCategory::Of(window->board())->Category());
        QCOMPARE(window->board()->Text(), boards::DefaultBoardHost());
        QVERIFY(window->board()->SelectedNode());
        // A built-in board cannot be removed.
        QVERIFY(!PickFromMenu(*window, QStringLiteral("Удалить доску")));
        QCOMPARE(m_messages.size(), 0);
    }
};

int main(int argc, char** argv)
{
    app::TApplication application(argc, argv);
    imaging::DLL96V1::SetDllDirectory(QStringLiteral(SNIMKOREZ_MODULE_DIR));
    OwnBoardsWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "own_boards_window_test.moc"
