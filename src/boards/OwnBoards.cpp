#include "OwnBoards.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUrl>

#include <algorithm>

namespace boards {

namespace {

const QString kHttp = QStringLiteral("http://");
const QString kHttps = QStringLiteral("https://");
// Lines listed by name in the message; the rest are counted.
constexpr int kListedProblems = 10;

std::optional<OwnBoard> Fail(OwnBoardError* error, const QString& reason)
{
    if (error)
        error->reason = reason;
    return std::nullopt;
}

// Letters, digits and inner hyphens per label, two labels at least.
bool IsHostName(const QString& ascii)
{
    static const QRegularExpression name(QStringLiteral(
        R"(^[a-z0-9](?:[a-z0-9-]{0,61}[a-z0-9])?(?:\.[a-z0-9](?:[a-z0-9-]{0,61}[a-z0-9])?)+$)"));
    return ascii.size() <= 253 && name.match(ascii).hasMatch();
}

// The posting address brings its own fragment, and the stored path has no
// leading "/".
QString CleanPath(QString path)
{
    const qsizetype hash = path.indexOf(u'#');
    if (hash >= 0)
        path.truncate(hash);
    if (path.startsWith(u'/'))
        path.remove(0, 1);
    return path;
}

QString Shortened(const QString& line)
{
    constexpr qsizetype kLongest = 60;
    return line.size() <= kLongest ? line : line.left(kLongest - 1) + u'…';
}

}  // namespace

QString OwnBoard::AsciiHost() const
{
    return QString::fromLatin1(QUrl::toAce(host)).toLower();
}

QString OwnBoard::Scheme() const
{
    return https ? kHttps : kHttp;
}

QString OwnBoard::PostingAddress() const
{
    return Scheme() + AsciiHost() + u'/' + path + QStringLiteral("#fosform");
}

QString OwnBoard::Line() const
{
    return (https ? kHttps : QString()) + host + (path.isEmpty() ? QString() : u' ' + path);
}

QString OwnBoards::DefaultFileName()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/snimkorez/boards.txt");
}

QString OwnBoards::Header()
{
    return QStringLiteral(
        "# Свои доски Снимкореза: раздел «Мои доски» в выборе сайта.\n"
        "# Одна доска на строку: имя сайта и через пробел путь к странице подачи\n"
        "# объявления (то, что в адресе идёт после имени сайта и «/»). Без пути\n"
        "# открывается главная страница. Доска открывается по http, а если перед\n"
        "# именем сайта стоит «https://» — по https. Например:\n"
        "#   doska.example.ru board/add.php\n"
        "#   https://моя-доска.рф add\n"
        "# Строки, которые начинаются с «#», и пустые строки пропускаются.\n"
        "# Изменения, сделанные вручную, видны при следующем запуске программы.");
}

std::optional<OwnBoard> OwnBoards::ParseAddress(const QString& typed, OwnBoardError* error)
{
    QString text = typed.trimmed();
    if (text.isEmpty())
        return Fail(error, QStringLiteral("адрес пуст"));
    for (const QChar c : text) {
        if (c.isSpace())
            return Fail(error, QStringLiteral("в адресе не должно быть пробелов"));
        if (!c.isPrint())
            return Fail(error, QStringLiteral("в адресе есть непечатные символы"));
    }

    OwnBoard board;
    static const QRegularExpression scheme(QStringLiteral("^([A-Za-z][A-Za-z0-9+.-]*)://"));
    if (const QRegularExpressionMatch match = scheme.match(text); match.hasMatch()) {
        const QString name = match.captured(1).toLower();
        if (name != u"http" && name != u"https")
            return Fail(error, QStringLiteral("доска открывается только по http или https, а не по %1")
                                   .arg(match.captured(1)));
        board.https = name == u"https";
        text.remove(0, match.capturedLength());
    }

    qsizetype end = text.size();
    for (const QChar separator : {u'/', u'?', u'#'}) {
        const qsizetype at = text.indexOf(separator);
        if (at >= 0)
            end = std::min(end, at);
    }
    const QString host = text.left(end);
    if (host.isEmpty())
        return Fail(error, QStringLiteral("нет имени сайта"));
    if (host.contains(u'@'))
        return Fail(error, QStringLiteral("укажите имя сайта без имени пользователя"));
    static const QRegularExpression port(QStringLiteral(R"(^[^:]+:\d*$)"));
    if (port.match(host).hasMatch())
        return Fail(error, QStringLiteral("укажите имя сайта без номера порта"));
    board.host = host;
    if (!IsHostName(board.AsciiHost()))
        return Fail(error, QStringLiteral("«%1» — не имя сайта (буквы, цифры, дефисы и хотя бы одна точка)")
                               .arg(host));
    board.path = CleanPath(text.mid(end));
    return board;
}

bool OwnBoards::IsBoardLine(const QString& line)
{
    const QString trimmed = line.trimmed();
    return !trimmed.isEmpty() && !trimmed.startsWith(u'#');
}

std::optional<OwnBoard> OwnBoards::ParseLine(const QString& line, OwnBoardError* error)
{
    static const QRegularExpression blanks(QStringLiteral(R"(\s+)"));
    const QStringList fields = line.split(blanks, Qt::SkipEmptyParts);
    if (fields.isEmpty())
        return Fail(error, QStringLiteral("пустая строка"));
    if (fields.size() > 2)
        return Fail(error, QStringLiteral("не строка доски: ожидается «сайт путь»"));
    std::optional<OwnBoard> board = ParseAddress(fields[0], error);
    if (!board || fields.size() == 1)
        return board;
    if (!board->path.isEmpty())
        return Fail(error, QStringLiteral("путь указан дважды"));
    for (const QChar c : fields[1]) {
        if (!c.isPrint())
            return Fail(error, QStringLiteral("в пути есть непечатные символы"));
    }
    board->path = CleanPath(fields[1]);
    return board;
}

bool OwnBoards::Load(const QSet<QString>& taken)
{
    m_taken = taken;
    m_boards.clear();
    m_problems.clear();
    m_readError.clear();
    QStringList lines;
    if (!ReadLines(lines, m_readError))
        return false;
    QSet<QString> seen = taken;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (!IsBoardLine(lines[i]))
            continue;
        const int number = static_cast<int>(i + 1);
        OwnBoardError error;
        const std::optional<OwnBoard> board = ParseLine(lines[i], &error);
        if (!board) {
            m_problems.push_back({number, lines[i].trimmed(), error.reason});
            continue;
        }
        const QString ascii = board->AsciiHost();
        if (seen.contains(ascii)) {
            m_problems.push_back({number, lines[i].trimmed(),
                                  QStringLiteral("доска %1 уже есть в списке").arg(board->host)});
            continue;
        }
        seen.insert(ascii);
        m_boards.push_back(*board);
    }
    return m_problems.empty();
}

QString OwnBoards::ProblemsMessage() const
{
    if (!m_readError.isEmpty())
        return QStringLiteral("Файл своих досок не прочитан:\n%1\n(%2).\n\n"
                              "Раздел «Мои доски» не показан; остальные доски на месте.")
            .arg(QDir::toNativeSeparators(m_fileName), m_readError);
    if (m_problems.empty())
        return QString();
    QString text = QStringLiteral("В файле своих досок\n%1\nпропущены строки:\n\n")
                       .arg(QDir::toNativeSeparators(m_fileName));
    const int listed = std::min(static_cast<int>(m_problems.size()), kListedProblems);
    for (int i = 0; i < listed; ++i) {
        const OwnBoardsProblem& problem = m_problems[static_cast<std::size_t>(i)];
        text += QStringLiteral("строка %1: «%2» — %3\n").arg(problem.number).arg(Shortened(problem.line), problem.reason);
    }
    if (static_cast<int>(m_problems.size()) > listed)
        text += QStringLiteral("и ещё строк: %1\n").arg(static_cast<int>(m_problems.size()) - listed);
    text += QStringLiteral("\nОстальные доски — в разделе «Мои доски». Исправьте эти строки в файле или удалите их.");
    return text;
}

QString OwnBoards::Add(const OwnBoard& board)
{
    QStringList lines;
    QString error;
    if (!ReadLines(lines, error))
        return QStringLiteral("Файл своих досок\n%1\nне прочитан (%2), поэтому доска в него не записана.")
            .arg(QDir::toNativeSeparators(m_fileName), error);
    // A file with nothing in it yet gets the description first.
    if (std::all_of(lines.cbegin(), lines.cend(), [](const QString& line) { return line.trimmed().isEmpty(); }))
        lines = Header().split(u'\n');
    const int at = FindLine(lines, board.AsciiHost());
    if (at >= 0)
        lines[at] = board.Line();
    else
        lines.append(board.Line());
    const QString written = WriteLines(lines);
    Load(m_taken);
    return written;
}

QString OwnBoards::Remove(const QString& asciiHost)
{
    QStringList lines;
    QString error;
    if (!ReadLines(lines, error))
        return QStringLiteral("Файл своих досок\n%1\nне прочитан (%2), поэтому доска из него не удалена.")
            .arg(QDir::toNativeSeparators(m_fileName), error);
    const int at = FindLine(lines, asciiHost.toLower());
    QString written;
    if (at >= 0) {
        lines.removeAt(at);
        written = WriteLines(lines);
    }
    Load(m_taken);
    return written;
}

bool OwnBoards::ReadLines(QStringList& lines, QString& error) const
{
    lines.clear();
    const QFileInfo info(m_fileName);
    if (!info.exists())
        return true;
    // Checked before opening: a pipe or a device would block the read.
    if (!info.isFile()) {
        error = QStringLiteral("это не обычный файл");
        return false;
    }
    if (info.size() > kMaxFileSize) {
        error = QStringLiteral("файл больше 1 МБ — это не список досок");
        return false;
    }
    QFile file(m_fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("нет доступа к файлу");
        return false;
    }
    const QByteArray bytes = file.read(kMaxFileSize + 1);
    if (file.error() != QFileDevice::NoError) {
        error = QStringLiteral("ошибка чтения");
        return false;
    }
    if (bytes.size() > kMaxFileSize) {
        error = QStringLiteral("файл больше 1 МБ — это не список досок");
        return false;
    }
    // fromUtf8 drops the byte order mark some Windows editors write.
    lines = QString::fromUtf8(bytes).split(u'\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return true;
}

QString OwnBoards::WriteLines(const QStringList& lines) const
{
    const QString folder = QFileInfo(m_fileName).absolutePath();
    QDir().mkpath(folder);
    const QByteArray bytes = (lines.join(u'\n') + u'\n').toUtf8();
    QSaveFile file(m_fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return QStringLiteral("Не удалось записать файл своих досок\n%1\n(%2).")
            .arg(QDir::toNativeSeparators(m_fileName), QStringLiteral("нет места или доступа к папке"));
    return QString();
}

int OwnBoards::FindLine(const QStringList& lines, const QString& asciiHost)
{
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (!IsBoardLine(lines[i]))
            continue;
        const std::optional<OwnBoard> board = ParseLine(lines[i]);
        if (board && board->AsciiHost() == asciiHost)
            return static_cast<int>(i);
    }
    return -1;
}

}  // namespace boards
