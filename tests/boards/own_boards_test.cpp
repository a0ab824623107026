// The seller's own boards file: what counts as a board address, what a
// damaged file gives, and that changes keep everything else in the file.
#include "TestFiles.h"
#include "boards/OwnBoards.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using boards::OwnBoard;
using boards::OwnBoardError;
using boards::OwnBoards;

namespace {

using testfiles::ReadAll;
using testfiles::WriteAll;

}  // namespace

class OwnBoardsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Typed addresses and file lines: the board they give, or why not.
    void addressesAndLines()
    {
        struct Good {
            QString text;
            bool line;
            QString host;
            QString path;
            QString address;
        };
        const Good good[] = {
            {"https://Моя-Доска.рф/add", false, "Моя-Доска.рф", "add",
             "https://xn----8sblyhmcy6j.xn--p1ai/add#fosform"},
            {"  доска.рф/board/  ", false, "доска.рф", "board/", "http://xn--80ahspp.xn--p1ai/board/#fosform"},
            {"HTTP://Doska.Example.ru", false, "Doska.Example.ru", "", "http://doska.example.ru/#fosform"},
            // The posting address brings its own fragment.
            {"doska.ru/board/index.php?ins=1#top", false, "doska.ru", "board/index.php?ins=1",
             "http://doska.ru/board/index.php?ins=1#fosform"},
            {"https://моя-доска.рф add", true, "моя-доска.рф", "add", "https://xn----8sblyhmcy6j.xn--p1ai/add#fosform"},
            {"doska.ru\t/board/i.php\r", true, "doska.ru", "board/i.php", "http://doska.ru/board/i.php#fosform"},
            {"https://doska.ru/add", true, "doska.ru", "add", "https://doska.ru/add#fosform"},
        };
        for (const Good& expected : good) {
            OwnBoardError error;
            const std::optional<OwnBoard> board = expected.line ? OwnBoards::ParseLine(expected.text, &error)
                                                                : OwnBoards::ParseAddress(expected.text, &error);
            QVERIFY2(board, qPrintable(expected.text + QStringLiteral(": ") + error.reason));
            QCOMPARE(board->host, expected.host);
            QCOMPARE(board->path, expected.path);
            QCOMPARE(board->PostingAddress(), expected.address);
            // What the file stores reads back as the same board.
            const std::optional<OwnBoard> again = OwnBoards::ParseLine(board->Line());
            QVERIFY2(again && again->host == board->host && again->path == board->path &&
                         again->https == board->https,
                     qPrintable(board->Line()));
        }

        struct Bad {
            QString text;
            bool line;
            QString reason;
        };
        const Bad bad[] = {
            {"", false, "адрес пуст"},
            {"ftp://doska.ru/add", false, "только по http или https"},
            {"моя доска.рф/add", false, "пробел"},
            {"doska", false, "не имя сайта"},
            {"-doska-.ru", false, "не имя сайта"},
            {"doska..ru", false, "не имя сайта"},
            {"doska_ru.com", false, "не имя сайта"},
            {"javascript:alert(1)", false, "не имя сайта"},
            {"doska.ru:8080/add", false, "порта"},
            {"user@doska.ru", false, "пользователя"},
            {"https:///add", false, "нет имени сайта"},
            {QStringLiteral("doska.ru/a") + QChar(0x7) + u'b', false, "непечатные"},
            {"doska.ru board/ extra", true, "не строка доски"},
            {"doska.ru/add board/", true, "дважды"},
            {"[Мои доски]", true, "не имя сайта"},
        };
        for (const Bad& expected : bad) {
            OwnBoardError error;
            const std::optional<OwnBoard> board = expected.line ? OwnBoards::ParseLine(expected.text, &error)
                                                                : OwnBoards::ParseAddress(expected.text, &error);
            QVERIFY2(!board, qPrintable(expected.text));
            QVERIFY2(error.reason.contains(expected.reason), qPrintable(expected.text + QStringLiteral(": ") + error.reason));
        }
        QVERIFY(!OwnBoards::IsBoardLine(QStringLiteral("  # comment")));
        QVERIFY(!OwnBoards::IsBoardLine(QStringLiteral(" \r")));
    }

    // A damaged file gives its good boards; the rest is listed by line.
    void loadSkipsAndReportsDamagedLines()
    {
        QTemporaryDir dir;
        const QString name = dir.filePath(QStringLiteral("boards.txt"));
        OwnBoards file(name);
        QVERIFY(file.Load());  // no file: no boards, nothing wrong
        QVERIFY(file.Boards().empty());
        QVERIFY(file.ProblemsMessage().isEmpty());

        WriteAll(name, "\xEF\xBB\xBF# saved by an editor with a BOM and CRLF\r\n"
                       "doska.example.ru board/add.php\r\n"
                       "\r\n"
                       "это не доска\r\n"
                       "https://Моя-Доска.рф add\r\n"
                       "yalta-leto.ru board/\r\n"
                       "DOSKA.example.ru other/\r\n");
        QVERIFY(!file.Load({QStringLiteral("yalta-leto.ru")}));
        QCOMPARE(file.Boards().size(), std::size_t{2});
        QCOMPARE(file.Boards()[0].host, QStringLiteral("doska.example.ru"));
        QCOMPARE(file.Boards()[0].path, QStringLiteral("board/add.php"));
        QVERIFY(file.Boards()[1].https);
        QCOMPARE(file.Boards()[1].host, QStringLiteral("Моя-Доска.рф"));
        QCOMPARE(file.Problems().size(), std::size_t{3});
        QCOMPARE(file.Problems()[0].number, 4);
        QCOMPARE(file.Problems()[0].line, QStringLiteral("это не доска"));
        QCOMPARE(file.Problems()[1].number, 6);  // the selector has it already
        QCOMPARE(file.Problems()[2].number, 7);  // an earlier line has it
        const QString message = file.ProblemsMessage();
        for (const char* part : {"строка 4: «это не доска»", "строка 6", "строка 7", "boards.txt"})
            QVERIFY2(message.contains(QString::fromUtf8(part)), qPrintable(message));

        // Not a file, or too large: nothing read, and said so.
        const QString folder = dir.filePath(QStringLiteral("folder"));
        QVERIFY(QDir().mkpath(folder));
        OwnBoards notAFile(folder);
        QVERIFY(!notAFile.Load());
        QVERIFY(!notAFile.ReadError().isEmpty());
        QVERIFY(notAFile.ProblemsMessage().contains(QStringLiteral("не прочитан")));
        const QString large = dir.filePath(QStringLiteral("large.txt"));
        WriteAll(large, QByteArray(OwnBoards::kMaxFileSize + 1, 'a'));
        OwnBoards tooLarge(large);
        QVERIFY(!tooLarge.Load());
        QVERIFY(tooLarge.Boards().empty());
        QVERIFY(tooLarge.ReadError().contains(QStringLiteral("1 МБ")));
    }

    // Adding and removing rewrite the file and keep every other line; a
    // file that cannot be read is not overwritten.
    void changesKeepTheRestOfTheFile()
    {
        QTemporaryDir dir;
        const QString name = dir.filePath(QStringLiteral("snimkorez/boards.txt"));
        OwnBoards file(name);
        const std::optional<OwnBoard> own = OwnBoards::ParseAddress(QStringLiteral("https://Моя-Доска.рф/add"));
        QVERIFY(own);
        QCOMPARE(file.Add(*own), QString());
        const QString written = QString::fromUtf8(ReadAll(name));
        QVERIFY2(written.startsWith(OwnBoards::Header() + u'\n'), qPrintable(written));
        QVERIFY(written.endsWith(QStringLiteral("\nhttps://Моя-Доска.рф add\n")));
        QCOMPARE(file.Boards().size(), std::size_t{1});

        // Hand-made lines, a damaged one among them, stay as they were.
        WriteAll(name, "# my boards\ndoska.ru board/\nэто не доска\nhttps://моя-доска.рф add\n");
        const std::optional<OwnBoard> other = OwnBoards::ParseAddress(QStringLiteral("other.ru/post"));
        QCOMPARE(file.Add(*other), QString());
        QCOMPARE(ReadAll(name), QByteArray("# my boards\ndoska.ru board/\nэто не доска\nhttps://моя-доска.рф add\n"
                                           "other.ru/post\n").replace("other.ru/post", "other.ru post"));
        // The same host again takes the place of its line.
        const std::optional<OwnBoard> moved = OwnBoards::ParseAddress(QStringLiteral("https://DOSKA.ru/new"));
        QCOMPARE(file.Add(*moved), QString());
        QCOMPARE(ReadAll(name), QByteArray("# my boards\nhttps://DOSKA.ru new\nэто не доска\n"
                                           "https://моя-доска.рф add\nother.ru post\n"));
        QCOMPARE(file.Remove(QStringLiteral("xn----8sblyhmcy6j.xn--p1ai")), QString());
        QCOMPARE(ReadAll(name), QByteArray("# my boards\nhttps://DOSKA.ru new\nэто не доска\nother.ru post\n"));
        QCOMPARE(file.Boards().size(), std::size_t{2});
        QCOMPARE(file.Remove(QStringLiteral("gone.example.ru")), QString());

        // Unreadable: refused, nothing written.
        const QString folder = dir.filePath(QStringLiteral("folder.txt"));
        QVERIFY(QDir().mkpath(folder));
        OwnBoards unreadable(folder);
        QVERIFY(unreadable.Add(*own).contains(QStringLiteral("не записана")));
        QVERIFY(QFileInfo(folder).isDir());
        // Unwritable: its folder is a file.
        WriteAll(dir.filePath(QStringLiteral("plain")), "x");
        OwnBoards unwritable(dir.filePath(QStringLiteral("plain/boards.txt")));
        QVERIFY(unwritable.Add(*own).contains(QStringLiteral("Не удалось записать")));
        QCOMPARE(ReadAll(dir.filePath(QStringLiteral("plain"))), QByteArray("x"));
    }
};

QTEST_GUILESS_MAIN(OwnBoardsTest)

#include "own_boards_test.moc"
