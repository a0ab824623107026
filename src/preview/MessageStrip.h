#pragma once

// A message line drawn as it moves. The whole line is measured but only the
// pieces crossing the control are rendered and kept, so a line of any length
// costs memory in proportion to the control, not to the text.

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <vector>

class QPainter;

namespace preview {

class MessageStrip {
public:
    void Render(const QString& text, const QFont& font, const QColor& textColor, const QColor& background);
    void Clear();
    [[nodiscard]] QSize Size() const noexcept { return m_size; }
    // Draws the strip with its top-left corner at `at`, within `visible`.
    void Draw(QPainter& painter, QPoint at, const QRect& visible);

private:
    struct Piece {
        QString text;
        int x = 0;      // from the strip's left edge
        int width = 0;  // its advance
        QImage image;   // while it crosses the control
    };
    void RenderPiece(Piece& piece) const;

    std::vector<Piece> m_pieces;
    QSize m_size;
    QFont m_font;
    QColor m_textColor;
    QColor m_background;
    int m_margin = 0;  // room for glyphs that reach past their advance
};

}  // namespace preview
