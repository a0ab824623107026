// Turns the readable catalogue (data/boards.txt) into the node stream the
// program embeds, so nobody edits binary data or types an xn-- form by hand.
//
//   make_catalogue SOURCE.txt OUT.stream OUT.cpp

#include "boards/TfcTreeComboTreeNode.h"
#include "boards/TfcTreeNodes.h"

#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <QString>
#include <QUrl>

#include <cstdio>
#include <memory>

namespace {

[[noreturn]] void Fail(const QString& where, const QString& message)
{
    std::fprintf(stderr, "%s: %s\n", qPrintable(where), qPrintable(message));
    std::exit(1);
}

bool HasNonAscii(const QString& text)
{
    for (const QChar c : text) {
        if (c.unicode() > 0x7F)
            return true;
    }
    return false;
}

void Save(const QString& fileName, const QByteArray& bytes)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        Fail(fileName, QStringLiteral("cannot write"));
}

QByteArray AsCppSource(const QByteArray& stream)
{
    QByteArray out = "// Generated from data/boards.txt by tools/make_catalogue. Do not edit.\n"
                     "#include <cstddef>\n"
                     "extern const unsigned char kCatalogueStreamBytes[];\n"
                     "extern const std::size_t kCatalogueStreamSize;\n"
                     "const unsigned char kCatalogueStreamBytes[] = {";
    for (qsizetype i = 0; i < stream.size(); ++i) {
        if (i % 16 == 0)
            out += "\n ";
        out += ' ' + QByteArray::number(static_cast<unsigned char>(stream[i])) + ',';
    }
    out += "\n};\nconst std::size_t kCatalogueStreamSize = " + QByteArray::number(stream.size()) + ";\n";
    return out;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: make_catalogue SOURCE.txt OUT.stream OUT.cpp\n");
        return 2;
    }
    const QString source = QString::fromLocal8Bit(argv[1]);
    QFile file(source);
    if (!file.open(QIODevice::ReadOnly))
        Fail(source, QStringLiteral("cannot read"));

    boards::TfcTreeNodes items([](boards::TfcTreeNodes* owner) {
        return std::make_unique<boards::TfcTreeComboTreeNode>(owner);
    });
    static const QRegularExpression category(QStringLiteral(R"(^\[(.+)\]\s*(\w*)$)"));
    static const QRegularExpression board(QStringLiteral(R"(^(\S+)(?:\s+(\S+))?$)"));

    boards::TfcTreeNode* current = nullptr;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString where = source + u':' + QString::number(i + 1);
        const QString line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        if (const auto match = category.match(line); match.hasMatch()) {
            const QString flag = match.captured(2);
            if (!flag.isEmpty() && flag != u"unselectable")
                Fail(where, QStringLiteral("unknown category flag \"%1\"").arg(flag));
            current = items.AddRoot(match.captured(1).trimmed());
            static_cast<boards::TfcTreeComboTreeNode*>(current)->SetSelectable(flag.isEmpty());
            continue;
        }
        const auto match = board.match(line);
        if (!match.hasMatch())
            Fail(where, QStringLiteral("expected \"host [path]\""));
        if (!current)
            Fail(where, QStringLiteral("board before the first [category]"));
        const QString host = match.captured(1);
        boards::TfcTreeNode* node = current->AddChild(host);
        node->SetDataText1(match.captured(2));
        if (HasNonAscii(host)) {
            const QByteArray ace = QUrl::toAce(host);
            if (ace.isEmpty())
                Fail(where, QStringLiteral("\"%1\" is not a valid international host name").arg(host));
            node->SetDataText2(QString::fromLatin1(ace));
        }
    }

    const QByteArray stream = items.WriteData();
    Save(QString::fromLocal8Bit(argv[2]), stream);
    Save(QString::fromLocal8Bit(argv[3]), AsCppSource(stream));
    return 0;
}
