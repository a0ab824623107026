#pragma once

// The message files the preview control shows as moving text: ".SCM", one
// scrolling line, and ".CMS", credits rising line by line. Both are UTF-8
// text of "key=value" lines; blank lines and lines starting with "#" are
// skipped; keys are:
//
//   font.color   text colour, #RRGGBB            (default #FFFFFF)
//   font.height  text height in pixels, 4..400   (default: from font.size)
//   font.name    font family                     (default DejaVu Sans)
//   font.size    size in points, 4..400          (default 18)
//   font.style   any of bold, italic, underline, strikeout, comma-separated
//   background   background colour, #RRGGBB      (default #000000)
//   speed        ticks skipped between moves, 0..100 (default 0)
//   text         the message (.SCM: exactly one)
//   line         one line of the credits (.CMS: one or more, in order)
//
// Anything else — an unknown key, a bad value, no text — is refused.

#include <QColor>
#include <QFont>
#include <QString>
#include <QStringList>

namespace preview {

struct MessageFile {
    QColor fontColor{255, 255, 255};
    QFont font;
    QColor background{0, 0, 0};
    int speed = 0;
    QStringList lines;  // one for a scrolling message
};

// A message scrolls a pixel a tick; a longer file would take weeks to show
// and its line would overflow the strip's coordinates.
inline constexpr qint64 kMessageFileLimit = 1 << 20;

// Raises platform::Exception (in Russian) when the text is not a message
// of that kind, or is longer than kMessageFileLimit bytes.
[[nodiscard]] MessageFile ParseMessageFile(const QByteArray& bytes, bool credits);

}  // namespace preview
