// The seller's own boards file: what counts as a board address, what a
// damaged file gives, and that changes keep everything else in the file.
#include "TestFiles.h"
#include "boards/OwnBoards.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

using boards::OwnBoard;
using boards::OwnBoardError;
using boards::OwnBoards;
using testfiles::ReadAll;
using testfiles::WriteAll;

class OwnBoardsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Typed addresses and (with `line`) file lines: the board they give, as
    // "host|path|posting address", or why they are none.
    void addressesAndLines()
    {
        const std::tuple<QString, bool, QString> cases[] = {
            {"https://Моя-Доска.рф/add", false, "Моя-Доска.рф|add|https://xn----8sblyhmcy6j.xn--p1ai/add#fosform"},
            {"HTTP://Doska.Example.ru", false, "Doska.Example.ru||http://doska.example.ru/#fosform"},
            // The posting address brings its own fragment.
            {"doska.ru/board/index.php?ins=1#top", false,
             "doska.ru|board/index.php?ins=1|http://doska.ru/board/index.php?ins=1#fosform"},
            {"doska.ru\t/board/i.php\r", true, "doska.ru|board/i.php|http://doska.ru/board/i.php#fosform"},
            {"https://doska.ru/add", true, "doska.ru|add|https://doska.ru/add#fosform"},
            {"ftp://doska.ru/add", false, "только по http или https"},
            {"javascript:alert(1)", false, "не имя сайта"},
            {"https:///add", false, "нет имени сайта"},
            {QStringLiteral("doska.ru/a") + QChar(0x7) + u'b', false, "непечатные"},
            {"doska.ru board/ extra", true, "не строка доски"},
            {"doska.ru/add board/", true, "дважды"},
        };
        for (const auto& [text, line, expected] : cases) {
            OwnBoardError error;
            const std::optional<OwnBoard> board = line ? OwnBoards::ParseLine(text, &error)
                                                       : OwnBoards::ParseAddress(text, &error);
            const QString got =
                board ? board->host + u'|' + board->path + u'|' + board->PostingAddress() : error.reason;
            QVERIFY2(board ? got == expected : got.contains(expected), qPrintable(text + QStringLiteral(": ") + got));
        }
    }

    // A damaged file gives its good boards and lists the rest by line;
    // changes rewrite it keeping every other line; a file that cannot be read
    // or written is left as it was, and that is said.
    void theFile()
    {
        QTemporaryDir dir;
        const QString name = dir.filePath(QStringLiteral("boards.txt"));
        OwnBoards file(name);
        QVERIFY(file.Load() && file.Boards().empty() && file.ProblemsMessage().isEmpty());  // no file

        WriteAll(name, "\xEF\xBB\xBF# saved by an editor with a BOM and CRLF\r\n"
                       "doska.example.ru board/add.php\r\n"
                       "\r\n"
                       "это не доска\r\n"
                       "https://Моя-Доска.рф add\r\n"
                       "yalta-leto.ru board/\r\n"
                       "DOSKA.example.ru other/\r\n");
        QVERIFY(!file.Load({QStringLiteral("yalta-leto.ru")}));
        QStringList boards;
        for (const OwnBoard& board : file.Boards())
            boards << board.Line();
        QCOMPARE(boards, (QStringList{"doska.example.ru board/add.php", "https://Моя-Доска.рф add"}));
        // Line 6: the selector has it already; line 7: an earlier line has it.
        QCOMPARE(file.Problems().size(), std::size_t{3});
        const QString message = file.ProblemsMessage();
        for (const char* part : {"строка 4: «это не доска»", "строка 6", "строка 7", "boards.txt"})
            QVERIFY2(message.contains(QString::fromUtf8(part)), qPrintable(message));

        // Hand-made lines, a damaged one among them, stay as they were.
        WriteAll(name, "# my boards\ndoska.ru board/\nэто не доска\nhttps://моя-доска.рф add\n");
        QCOMPARE(file.Add(OwnBoards::ParseAddress(QStringLiteral("other.ru/post")).value()), QString());
        QCOMPARE(ReadAll(name), QByteArray("# my boards\ndoska.ru board/\nэто не доска\nhttps://моя-доска.рф add\n"
                                           "other.ru post\n"));
        // The same host again takes the place of its line.
        QCOMPARE(file.Add(OwnBoards::ParseAddress(QStringLiteral("https://DOSKA.ru/new")).value()), QString());
        QCOMPARE(ReadAll(name), QByteArray("# my boards\nhttps://DOSKA.ru new\nэто не доска\n"
                                           "https://моя-доска.рф add\nother.ru post\n"));
        QCOMPARE(file.Remove(QStringLiteral("xn----8sblyhmcy6j.xn--p1ai")), QString());
        QCOMPARE(ReadAll(name), QByteArray("# my boards\nhttps://DOSKA.ru new\nэто не доска\nother.ru post\n"));
        QCOMPARE(file.Remove(QStringLiteral("gone.example.ru")), QString());

        // Not a file (a pipe would block the read): nothing read, nothing written.
        const QString folder = dir.filePath(QStringLiteral("folder"));
        QVERIFY(QDir().mkpath(folder));
        OwnBoards unread(folder);
        QVERIFY(!unread.Load());
        QVERIFY(unread.ReadError().contains(QStringLiteral("не обычный файл")));
        QVERIFY(unread.ProblemsMessage().contains(QStringLiteral("не прочитан")));
        QVERIFY(unread.Add(file.Boards()[0]).contains(QStringLiteral("не записана")));
        QVERIFY(QFileInfo(folder).isDir());
        // Unwritable: its folder is a file.
        OwnBoards unwritable(name + QStringLiteral("/boards.txt"));
        QVERIFY(unwritable.Add(file.Boards()[0]).contains(QStringLiteral("Не удалось записать")));
        QCOMPARE(ReadAll(name), QByteArray("# my boards\nhttps://DOSKA.ru new\nэто не доска\nother.ru post\n"));
    }
};

QTEST_GUILESS_MAIN(OwnBoardsTest)

#include "own_boards_test.moc"
