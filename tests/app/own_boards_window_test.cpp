// The seller's own boards on the real main window: the selector's menu
// adding and removing a board, the posting address of an https board, the
// category from the file and the choice kept to the next start.
#include "TestFiles.h"
#include "app/TApplication.h"
#include "app/TForm1.h"
#include "boards/Catalogue.h"
#include "boards/OwnBoardsCategory.h"
#include "boards/TfcTreeCombo.h"
#include "boards/TfcTreeComboTreeNode.h"
#include "imaging/DLL96V1.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

using app::TForm1;
using boards::OwnBoardsCategory;
using testfiles::ReadAll;

class OwnBoardsWindowTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QStringList m_addresses;
    QStringList m_messages;

    QString BoardsFile() const { return m_dir.filePath(QStringLiteral("config/snimkorez/boards.txt")); }

    // The program as it starts, its browser and messages answered here.
    std::unique_ptr<TForm1> Start()
    {
        m_addresses.clear();
        m_messages.clear();
        auto window = std::make_unique<TForm1>(m_dir.filePath(QStringLiteral("snimkorez")));
        app::TPhotoCommandSeam seam = window->Seam();
        seam.navigate = [this](const QString& address) { m_addresses << address; };
        window->SetSeam(seam);
        if (OwnBoardsCategory* own = OwnBoardsCategory::Of(window->board())) {
            own->ShowMessage = [this](QWidget*, const QString& text) { m_messages << text; };
            own->Confirm = [](QWidget*, const QString&) { return true; };
        }
        window->show();
        return window;
    }

    // Picks `text` from the selector's menu, opened as a right click does;
    // false when the item was not there or not enabled.
    static bool PickFromMenu(TForm1& window, const QString& text)
    {
        QAction* picked = nullptr;
        QTimer picker;
        connect(&picker, &QTimer::timeout, &picker, [&] {
            if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                for (QAction* action : menu->actions())
                    if (action->text() == text && action->isEnabled())
                        picked = action;
                menu->close();
            }
        });
        picker.start(10);
        QWidget* selector = window.board();
        const QPoint at = selector->rect().center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, selector->mapToGlobal(at));
        QApplication::sendEvent(selector, &event);
        if (picked)
            picked->trigger();
        return picked;
    }

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("config"))));
    }

    // "Добавить доску…" stores the board and chooses it, the photo command
    // posts to it over https; at the next start, the file mended by hand
    // meanwhile, it is chosen again under the last category and a damaged
    // line is named in one message; "Удалить доску" takes it away and
    // chooses the default board.
    void ownBoards()
    {
        std::unique_ptr<TForm1> window = Start();
        OwnBoardsCategory* own = OwnBoardsCategory::Of(window->board());
        QVERIFY(own && !own->Category());  // no file, no category
        QStringList answers{QStringLiteral("моя доска.рф/add"), QStringLiteral("https://Моя-Доска.рф/add")};
        QStringList offered;
        own->AskAddress = [&](QWidget*, const QString& typed) -> std::optional<QString> {
            offered << typed;
            return answers.isEmpty() ? std::nullopt : std::optional(answers.takeFirst());
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

        const QString address = QStringLiteral("https://xn----8sblyhmcy6j.xn--p1ai/add#fosform");
        for (int start = 0; start < 2; ++start) {
            if (start) {
                // The next start, the file mended by hand meanwhile.
                testfiles::WriteAll(BoardsFile(), "# mine\n"
                                                  "doska.example.ru board/add.php\n"
                                                  "это не доска\n"
                                                  "https://Моя-Доска.рф add\n");
                window.reset();
                window = Start();
            }
            const boards::TfcTreeNode* chosen = window->board()->SelectedNode();
            QVERIFY(chosen && chosen->Parent());
            QCOMPARE(chosen->Parent()->Text() + u'/' + chosen->Text(), QStringLiteral("Мои доски/Моя-Доска.рф"));
            window->RunPhotoCommand({});
            QCOMPARE(m_addresses, QStringList{address});
        }
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
        // Reading the file wrote nothing to it.
        QCOMPARE(ReadAll(BoardsFile()).count('\n'), 4);

        m_messages.clear();
        QVERIFY(PickFromMenu(*window, QStringLiteral("Удалить доску")));
        QCOMPARE(ReadAll(BoardsFile()), QByteArray("# mine\ndoska.example.ru board/add.php\nэто не доска\n"));
        own = OwnBoardsCategory::Of(window->board());
        QVERIFY(own->Category() && own->Category()->Count() == 1);
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
