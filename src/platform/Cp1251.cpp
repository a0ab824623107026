#include "Cp1251.h"

#include <QHash>
#include <QStringDecoder>

namespace platform {

namespace {

// The converter would put its own substitute byte (0x1A) for characters the
// code page lacks; Windows puts '?', which is also what readers expect.
const QHash<char16_t, char>& EncodingTable()
{
    static const QHash<char16_t, char> table = [] {
        QHash<char16_t, char> result;
        QStringDecoder decoder("windows-1251");
        for (int byte = 0; byte < 256; ++byte) {
            const char b = static_cast<char>(byte);
            const QString decoded = decoder.decode(QByteArrayView(&b, 1));
            if (decoded.size() == 1 && decoded[0] != QChar::ReplacementCharacter)
                result.insert(decoded[0].unicode(), b);
        }
        return result;
    }();
    return table;
}

}  // namespace

QByteArray ToCp1251(QStringView text)
{
    const QHash<char16_t, char>& table = EncodingTable();
    QByteArray bytes;
    bytes.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i].unicode();
        if (QChar::isHighSurrogate(unit) && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;  // one character, one '?'
        bytes += table.value(unit, '?');
    }
    return bytes;
}

QString FromCp1251(QByteArrayView bytes)
{
    QStringDecoder decoder("windows-1251");
    return decoder.decode(bytes);
}

bool IsValidUtf8(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    [[maybe_unused]] const QString text = decoder.decode(bytes);
    return !decoder.hasError();
}

}  // namespace platform
