#include "PrivateProfile.h"

#include "Cp1251.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <optional>
#include <vector>

namespace platform {

namespace {

enum class LineKind { Other, Section, Key };

struct ProfileLine {
    QByteArray raw;  // without the line break
    LineKind kind = LineKind::Other;
    QString name;    // section or key name, trimmed
    QString value;   // key value, trimmed and unquoted
};

struct ProfileDocument {
    std::vector<ProfileLine> lines;
    QByteArray lineBreak = "\n";
    QByteArray bom;
};

QString DecodeLine(const QByteArray& raw)
{
    return IsValidUtf8(raw) ? QString::fromUtf8(raw) : FromCp1251(raw);
}

QString Unquote(const QString& value)
{
    if (value.size() >= 2) {
        const QChar first = value.front();
        if ((first == u'"' || first == u'\'') && value.back() == first)
            return value.mid(1, value.size() - 2);
    }
    return value;
}

ProfileLine ParseLine(QByteArray raw)
{
    ProfileLine line;
    line.raw = std::move(raw);
    const QString text = DecodeLine(line.raw).trimmed();
    if (text.startsWith(u'[')) {
        const qsizetype close = text.indexOf(u']');
        line.kind = LineKind::Section;
        line.name = (close < 0 ? text.mid(1) : text.mid(1, close - 1)).trimmed();
        return line;
    }
    const qsizetype equals = text.indexOf(u'=');
    if (equals >= 0) {
        line.kind = LineKind::Key;
        line.name = text.left(equals).trimmed();
        line.value = Unquote(text.mid(equals + 1).trimmed());
    }
    return line;
}

ProfileDocument ParseDocument(QByteArray bytes)
{
    ProfileDocument document;
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        document.bom = bytes.left(3);
        bytes.remove(0, 3);
    }
    const qsizetype firstBreak = bytes.indexOf('\n');
    if (firstBreak > 0 && bytes.at(firstBreak - 1) == '\r')
        document.lineBreak = "\r\n";
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype end = bytes.indexOf('\n', start);
        if (end < 0)
            end = bytes.size();
        QByteArray raw = bytes.mid(start, end - start);
        if (raw.endsWith('\r'))
            raw.chop(1);
        document.lines.push_back(ParseLine(std::move(raw)));
        start = end + 1;
    }
    return document;
}

enum class ReadOutcome { Read, Missing, Refused };

ReadOutcome ReadFileBytes(const QString& fileName, QByteArray& bytes)
{
    const QFileInfo info(fileName);
    if (!info.exists())
        return ReadOutcome::Missing;
    if (!info.isFile() || info.size() > kMaxPrivateProfileSize)
        return ReadOutcome::Refused;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return ReadOutcome::Refused;
    // Read one byte past the limit: the file may have grown since we looked.
    bytes = file.read(kMaxPrivateProfileSize + 1);
    if (bytes.size() > kMaxPrivateProfileSize || file.error() != QFileDevice::NoError)
        return ReadOutcome::Refused;
    return ReadOutcome::Read;
}

bool SameName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Index of the first "[section]" line, or npos.
std::optional<std::size_t> FindSection(const ProfileDocument& document, const QString& section)
{
    const QString wanted = section.trimmed();
    for (std::size_t i = 0; i < document.lines.size(); ++i) {
        const ProfileLine& line = document.lines[i];
        if (line.kind == LineKind::Section && SameName(line.name, wanted))
            return i;
    }
    return std::nullopt;
}

// One past the last line belonging to the section that starts at `header`.
std::size_t SectionEnd(const ProfileDocument& document, std::size_t header)
{
    std::size_t i = header + 1;
    while (i < document.lines.size() && document.lines[i].kind != LineKind::Section)
        ++i;
    return i;
}

std::optional<std::size_t> FindKey(const ProfileDocument& document, std::size_t header,
                                   const QString& key)
{
    const QString wanted = key.trimmed();
    const std::size_t end = SectionEnd(document, header);
    for (std::size_t i = header + 1; i < end; ++i) {
        const ProfileLine& line = document.lines[i];
        if (line.kind == LineKind::Key && SameName(line.name, wanted))
            return i;
    }
    return std::nullopt;
}

bool IsBlank(const ProfileLine& line)
{
    return line.raw.trimmed().isEmpty();
}

bool SaveDocument(const ProfileDocument& document, const QString& fileName)
{
    QByteArray bytes = document.bom;
    for (const ProfileLine& line : document.lines) {
        bytes += line.raw;
        bytes += document.lineBreak;
    }
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

// Loads the document for a change; false when the file exists but must not be
// rewritten (unreadable, not a file, too large).
bool LoadForChange(const QString& fileName, ProfileDocument& document)
{
    QByteArray bytes;
    switch (ReadFileBytes(fileName, bytes)) {
    case ReadOutcome::Refused:
        return false;
    case ReadOutcome::Missing:
        document = ProfileDocument{};
        return true;
    case ReadOutcome::Read:
        document = ParseDocument(std::move(bytes));
        return true;
    }
    return false;
}

ProfileLine MakeLine(const QString& text)
{
    return ParseLine(text.toUtf8());
}

}  // namespace

QString GetPrivateProfileString(const QString& section, const QString& key, const QString& fallback,
                                const QString& fileName)
{
    QByteArray bytes;
    if (ReadFileBytes(fileName, bytes) != ReadOutcome::Read)
        return fallback;
    const ProfileDocument document = ParseDocument(std::move(bytes));
    const auto header = FindSection(document, section);
    if (!header)
        return fallback;
    const auto line = FindKey(document, *header, key);
    return line ? document.lines[*line].value : fallback;
}

bool WritePrivateProfileString(const QString& section, const QString& key, const QString& value,
                               const QString& fileName)
{
    ProfileDocument document;
    if (!LoadForChange(fileName, document))
        return false;
    ProfileLine entry = MakeLine(key.trimmed() + u'=' + value);
    auto header = FindSection(document, section);
    if (!header) {
        if (!document.lines.empty() && !IsBlank(document.lines.back()))
            document.lines.push_back(MakeLine(QString()));
        document.lines.push_back(MakeLine(u'[' + section.trimmed() + u']'));
        document.lines.push_back(std::move(entry));
        return SaveDocument(document, fileName);
    }
    if (const auto existing = FindKey(document, *header, key)) {
        document.lines[*existing] = std::move(entry);
        return SaveDocument(document, fileName);
    }
    // New keys go after the section's last non-blank line, so the blank line
    // that separates it from the next section stays where it was.
    std::size_t insertAt = SectionEnd(document, *header);
    while (insertAt > *header + 1 && IsBlank(document.lines[insertAt - 1]))
        --insertAt;
    document.lines.insert(document.lines.begin() + static_cast<std::ptrdiff_t>(insertAt),
                          std::move(entry));
    return SaveDocument(document, fileName);
}

bool DeletePrivateProfileKey(const QString& section, const QString& key, const QString& fileName)
{
    ProfileDocument document;
    if (!LoadForChange(fileName, document))
        return false;
    const auto header = FindSection(document, section);
    const auto line = header ? FindKey(document, *header, key) : std::nullopt;
    if (!line)
        return true;
    document.lines.erase(document.lines.begin() + static_cast<std::ptrdiff_t>(*line));
    return SaveDocument(document, fileName);
}

bool DeletePrivateProfileSection(const QString& section, const QString& fileName)
{
    ProfileDocument document;
    if (!LoadForChange(fileName, document))
        return false;
    const auto header = FindSection(document, section);
    if (!header)
        return true;
    const std::size_t end = SectionEnd(document, *header);
    document.lines.erase(document.lines.begin() + static_cast<std::ptrdiff_t>(*header),
                         document.lines.begin() + static_cast<std::ptrdiff_t>(end));
    return SaveDocument(document, fileName);
}

}  // namespace platform
