#include "MessageStrip.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <cmath>

namespace preview {

namespace {

// Characters per piece: a few hundred pixels at common sizes.
constexpr qsizetype kPieceLength = 64;

// Where the piece starting at `from` ends: after a space in its second half
// when there is one (shaping does not cross a space), else at a grapheme
// boundary, so no character is ever cut in two.
qsizetype PieceEnd(const QString& text, qsizetype from)
{
    const qsizetype limit = from + kPieceLength;
    if (limit >= text.size())
        return text.size();
    const qsizetype space = text.lastIndexOf(u' ', limit - 1);
    if (space >= from + kPieceLength / 2)
        return space + 1;
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, text);
    graphemes.setPosition(limit);
    if (!graphemes.isAtBoundary())
        graphemes.toPreviousBoundary();
    const qsizetype end = graphemes.position();
    if (end > from)
        return end;
    graphemes.setPosition(limit);
    return std::max(graphemes.toNextBoundary(), limit);
}

}  // namespace

void MessageStrip::Render(const QString& text, const QFont& font, const QColor& textColor, const QColor& background)
{
    Clear();
    m_font = font;
    m_textColor = textColor;
    m_background = background;
    const QFontMetricsF metrics(font);
    m_margin = static_cast<int>(std::ceil(metrics.height()));
    double advance = 0;
    for (qsizetype from = 0; from < text.size();) {
        const qsizetype end = PieceEnd(text, from);
        Piece piece;
        piece.text = text.mid(from, end - from);
        piece.x = static_cast<int>(std::lround(advance));
        advance += metrics.horizontalAdvance(piece.text);
        piece.width = static_cast<int>(std::lround(advance)) - piece.x;
        m_pieces.push_back(std::move(piece));
        from = end;
    }
    m_size = QSize(std::max(1, static_cast<int>(std::lround(advance))), std::max(1, static_cast<int>(std::ceil(metrics.height()))));
}

void MessageStrip::Clear()
{
    m_pieces.clear();
    m_size = QSize();
}

void MessageStrip::RenderPiece(Piece& piece) const
{
    piece.image = QImage(piece.width + 2 * m_margin, m_size.height(), QImage::Format_ARGB32_Premultiplied);
    piece.image.fill(Qt::transparent);
    QPainter painter(&piece.image);
    painter.setFont(m_font);
    painter.setPen(m_textColor);
    painter.drawText(QRect(m_margin, 0, piece.width + m_margin, m_size.height()),
                     Qt::AlignLeft | Qt::AlignVCenter | Qt::TextDontClip, piece.text);
}

void MessageStrip::Draw(QPainter& painter, QPoint at, const QRect& visible)
{
    if (m_size.isEmpty())
        return;
    const QRect shown = QRect(at, m_size) & visible;
    painter.save();
    painter.fillRect(shown, m_background);
    painter.setClipRect(shown, Qt::IntersectClip);
    for (Piece& piece : m_pieces) {
        const QRect area(at.x() + piece.x - m_margin, at.y(), piece.width + 2 * m_margin, m_size.height());
        if (!area.intersects(shown)) {
            piece.image = QImage();
            continue;
        }
        if (piece.image.isNull())
            RenderPiece(piece);
        painter.drawImage(area.topLeft(), piece.image);
    }
    painter.restore();
}

}  // namespace preview
