#include "MessageFile.h"

#include "platform/Exception.h"

#include <QStringDecoder>

namespace preview {

namespace {

[[noreturn]] void Refuse(const QString& why)
{
    throw platform::Exception(QStringLiteral("Файл сообщения не прочитан: ") + why);
}

QColor Colour(const QString& value, const QString& key)
{
    const QColor colour(value);
    if (!value.startsWith(u'#') || value.size() != 7 || !colour.isValid())
        Refuse(key + QStringLiteral(" — ожидается цвет вида #RRGGBB"));
    return colour;
}

int Number(const QString& value, const QString& key, int low, int high)
{
    bool ok = false;
    const int number = value.toInt(&ok);
    if (!ok || number < low || number > high)
        Refuse(key + QStringLiteral(" — ожидается число от %1 до %2").arg(low).arg(high));
    return number;
}

}  // namespace

MessageFile ParseMessageFile(const QByteArray& bytes, bool credits)
{
    if (bytes.size() > kMessageFileLimit)
        Refuse(QStringLiteral("файл больше %1 КБ").arg(kMessageFileLimit / 1024));
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8(bytes);
    if (utf8.hasError())
        Refuse(QStringLiteral("текст не в UTF-8"));
    MessageFile message;
    message.font = QFont(QStringLiteral("DejaVu Sans"), 18);
    int height = 0;
    for (QString line : text.split(u'\n')) {
        if (line.endsWith(u'\r'))
            line.chop(1);
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(u'#'))
            continue;
        const qsizetype equals = line.indexOf(u'=');
        if (equals < 0)
            Refuse(QStringLiteral("строка без «=»: ") + trimmed);
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1);
        if (key == QLatin1String("font.color")) {
            message.fontColor = Colour(value.trimmed(), key);
        } else if (key == QLatin1String("font.height")) {
            height = Number(value.trimmed(), key, 4, 400);
        } else if (key == QLatin1String("font.name")) {
            message.font.setFamily(value.trimmed());
        } else if (key == QLatin1String("font.size")) {
            message.font.setPointSize(Number(value.trimmed(), key, 4, 400));
        } else if (key == QLatin1String("font.style")) {
            for (const QString& style : value.split(u',', Qt::SkipEmptyParts)) {
                const QString s = style.trimmed();
                if (s == QLatin1String("bold"))
                    message.font.setBold(true);
                else if (s == QLatin1String("italic"))
                    message.font.setItalic(true);
                else if (s == QLatin1String("underline"))
                    message.font.setUnderline(true);
                else if (s == QLatin1String("strikeout"))
                    message.font.setStrikeOut(true);
                else
                    Refuse(QStringLiteral("неизвестное начертание ") + s);
            }
        } else if (key == QLatin1String("background")) {
            message.background = Colour(value.trimmed(), key);
        } else if (key == QLatin1String("speed")) {
            message.speed = Number(value.trimmed(), key, 0, 100);
        } else if (key == QLatin1String(credits ? "line" : "text")) {
            if (!credits && !message.lines.isEmpty())
                Refuse(QStringLiteral("в бегущей строке один текст"));
            message.lines << value;
        } else {
            Refuse(QStringLiteral("неизвестный ключ ") + key);
        }
    }
    if (height > 0)
        message.font.setPixelSize(height);
    if (message.lines.isEmpty())
        Refuse(credits ? QStringLiteral("нет ни одной строки") : QStringLiteral("нет текста"));
    return message;
}

}  // namespace preview
