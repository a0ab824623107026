#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace boards {

// A board the seller added: a host as typed (Cyrillic kept), the path of its
// posting page without a leading "/", and whether it posts over https.
struct OwnBoard {
    QString host;
    QString path;
    bool https = false;

    // The host's IDNA ASCII form, lower case ("xn--…" labels for Cyrillic).
    [[nodiscard]] QString AsciiHost() const;
    // "http://" or "https://".
    [[nodiscard]] QString Scheme() const;
    // Scheme + ASCII host + "/" + path + "#fosform".
    [[nodiscard]] QString PostingAddress() const;
    // The line the file stores: "[https://]host[ path]".
    [[nodiscard]] QString Line() const;
};

// An address or a line that is no board, with the reason in Russian (a
// clause in lower case, without a full stop).
struct OwnBoardError {
    QString reason;
};

// A line of the file that was skipped. `number` counts from 1.
struct OwnBoardsProblem {
    int number = 0;
    QString line;
    QString reason;
};

// The seller's own boards: a text file in UTF-8, one board a line,
// "host [path]" as in the built-in catalogue's source, the host optionally
// preceded by "https://" (or "http://"); "#" starts a comment line. A line
// may also hold a whole address, "https://host/path".
//
// Every change re-reads the file first and rewrites it whole through a
// temporary file renamed into place, keeping every other line as it was
// (comments, and lines that are no boards, which the seller may still want
// to mend). A file the program creates starts with a comment describing this.
class OwnBoards {
public:
    // Larger files are no list of boards and are not read.
    static constexpr qint64 kMaxFileSize = 1 << 20;

    // The per-user configuration folder's "snimkorez/boards.txt".
    [[nodiscard]] static QString DefaultFileName();
    // The comment a new file starts with.
    [[nodiscard]] static QString Header();

    explicit OwnBoards(QString fileName) : m_fileName(std::move(fileName)) {}

    [[nodiscard]] const QString& FileName() const noexcept { return m_fileName; }

    // What the seller typed, as a board; nothing and the reason when it is
    // none: only http and https, a host name of letters, digits and hyphens
    // with at least one dot, no spaces, port or user. A fragment is dropped,
    // the posting address brings its own.
    [[nodiscard]] static std::optional<OwnBoard> ParseAddress(const QString& typed, OwnBoardError* error = nullptr);
    // A line of the file: a board, or nothing with the reason. Blank and
    // comment lines are no concern of this; see IsBoardLine.
    [[nodiscard]] static std::optional<OwnBoard> ParseLine(const QString& line, OwnBoardError* error = nullptr);
    // False for blank lines and comments.
    [[nodiscard]] static bool IsBoardLine(const QString& line);

    // Reads the file again. A missing file holds no boards and is no error.
    // Lines that are no boards, and boards whose ASCII host is in `taken`
    // (already in the selector) or on an earlier line, are skipped and
    // listed in Problems(). A file that cannot be read, or is too large,
    // holds no boards and sets ReadError(). Returns true when nothing was
    // skipped or refused.
    bool Load(const QSet<QString>& taken = {});
    [[nodiscard]] const std::vector<OwnBoard>& Boards() const noexcept { return m_boards; }
    [[nodiscard]] const std::vector<OwnBoardsProblem>& Problems() const noexcept { return m_problems; }
    // Empty when the last Load read the file (or found none).
    [[nodiscard]] const QString& ReadError() const noexcept { return m_readError; }
    // The last Load's problems as a message for the seller, naming the file
    // and each skipped line; empty when there were none.
    [[nodiscard]] QString ProblemsMessage() const;

    // Adds `board`, or puts it in place of the line that held the same ASCII
    // host. Re-reads the file first and refuses to write one it cannot read.
    // Returns an empty string, or why nothing was written (Russian, a whole
    // sentence). Afterwards the file is loaded again with the last `taken`.
    [[nodiscard]] QString Add(const OwnBoard& board);
    // Removes the line of the board with this ASCII host; a board no longer
    // in the file is no error.
    [[nodiscard]] QString Remove(const QString& asciiHost);

private:
    // The file's lines for a change; false (with `error` set) when it cannot be read.
    bool ReadLines(QStringList& lines, QString& error) const;
    [[nodiscard]] QString WriteLines(const QStringList& lines) const;
    // Where a board with this ASCII host sits in `lines`, or -1.
    [[nodiscard]] static int FindLine(const QStringList& lines, const QString& asciiHost);

    QString m_fileName;
    QSet<QString> m_taken;
    std::vector<OwnBoard> m_boards;
    std::vector<OwnBoardsProblem> m_problems;
    QString m_readError;
};

}  // namespace boards
