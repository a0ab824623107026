// The preview control's display side: construction, painting, scroll bars
// and what happens when the picture changes.
#include "TPMultiImage.h"

#include "PreviewLayout.h"
#include "imaging/DLL96V1.h"
#include "imaging/ModuleLoader.h"

#include <QApplication>
#include <QFrame>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <QScrollBar>
#include <QSignalBlocker>

#include <algorithm>
#include <utility>

namespace preview {

namespace {

// The annotation layer's callbacks carry no arguments, so a relay cannot
// tell which control it is for; there is nothing to raise and it returns.
void RelayAnnoDone() {}
void RelayCustomAnnotationDraw() {}
void RelayCustomAnnotationHardDraw() {}
void RelayBeforeAnnotationDraw() {}
void RelayAfterAnnotationDraw() {}

QRect ToRect(const Box& box)
{
    return {box.x, box.y, box.width, box.height};
}

uint16_t ToOffset(int value)
{
    return static_cast<uint16_t>(std::clamp(value, 0, 0xFFFF));
}

}  // namespace

TPMultiImage::TPMultiImage(QWidget* parent) : QWidget(parent)
{
    (void)m_picture.Bitmap();
    m_picture.OnChange = [this] { PictureChanged(); };

    setFocusPolicy(Qt::StrongFocus);
    resize(105, 105);
    m_color = palette().color(QPalette::Button);

    m_verticalBar = new QScrollBar(Qt::Vertical, this);
    m_horizontalBar = new QScrollBar(Qt::Horizontal, this);
    for (QScrollBar* bar : {m_verticalBar, m_horizontalBar}) {
        bar->setFocusPolicy(Qt::NoFocus);
        bar->setGeometry(0, 0, 0, 0);
        connect(bar, &QScrollBar::valueChanged, this,
                [this, bar](int position) { ScrollTo(bar, position); });
    }
    m_corner = new QFrame(this);
    m_corner->setFrameStyle(QFrame::Panel | QFrame::Raised);
    m_corner->setAutoFillBackground(true);
    QPalette cornerPalette = m_corner->palette();
    cornerPalette.setColor(QPalette::Window, palette().color(QPalette::Button));
    m_corner->setPalette(cornerPalette);
    m_corner->setGeometry(0, 0, 0, 0);
}

TPMultiImage::~TPMultiImage()
{
    // Failing to release the annotation layer must not escape a destructor.
    try {
        imaging::DLL96V1::DestroyAnnotation(this);
    } catch (...) {
    }
    m_picture.OnChange = nullptr;
}

void TPMultiImage::Loaded()
{
    m_loaded = true;
    for (QScrollBar* bar : {m_verticalBar, m_horizontalBar}) {
        const QSignalBlocker quiet(bar);
        bar->setRange(0, 100);
        bar->setValue(0);
        bar->setSingleStep(5);
        bar->setPageStep(25);
    }
    m_corner->setFrameStyle(QFrame::NoFrame);
    LayOutScrollbars();
    imaging::DLL96V1::InitAnnotation(
        this, static_cast<QWidget*>(this), this, &RelayAnnoDone, &RelayCustomAnnotationDraw,
        &RelayCustomAnnotationHardDraw, &RelayBeforeAnnotationDraw, &RelayAfterAnnotationDraw,
        imaging::WindowsFolder() + QStringLiteral("/il_anno.ini"));
}

void TPMultiImage::SetBounds(int left, int top, int width, int height)
{
    setGeometry(left, top, width, height);
    // A hidden widget gets its resize event only when shown.
    AfterResize();
}

void TPMultiImage::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    AfterResize();
}

void TPMultiImage::AfterResize()
{
    if (!m_loaded)
        return;
    LayOutScrollbars();
    if (m_stretchRatio)
        ApplyFittingScale();
}

void TPMultiImage::ApplyFittingScale()
{
    const imaging::TBitmap* bitmap = m_picture.BitmapOrNull();
    if (bitmap && bitmap->HandleAllocated())
        m_scale = FittingScale(width(), height(), bitmap->Width(), bitmap->Height(), m_scale);
}

QList<QRgb> TPMultiImage::GetPalette() const
{
    return imaging::DLL96V1::SharedPalette();
}

void TPMultiImage::SetPicture(const imaging::TPicture& picture)
{
    m_picture.Assign(picture);
}

// ---- setters ------------------------------------------------------------------

void TPMultiImage::SetColor(const QColor& color)
{
    if (std::exchange(m_color, color) != color)
        update();
}

void TPMultiImage::SetParentColor(bool parentColor)
{
    if (std::exchange(m_parentColor, parentColor) != parentColor)
        update();
}

QColor TPMultiImage::EraseColour() const
{
    if (m_parentColor && parentWidget())
        return parentWidget()->palette().color(QPalette::Window);
    return m_color;
}

void TPMultiImage::SetScrolling(bool scrolling)
{
    m_scrolling = scrolling;
    LayOutScrollbars();
    m_verticalBar->setEnabled(scrolling);
    m_horizontalBar->setEnabled(scrolling);
    m_corner->setEnabled(scrolling);
    PictureChanged();
}

void TPMultiImage::SetShowScrollbars(bool show)
{
    if (m_picture.GraphicKind() == imaging::TPicture::Kind::Metafile)
        return;
    if (!show && m_showScrollbars && m_picture.BitmapOrNull()) {
        const Origin origin = PullBack(View());
        m_originX = origin.x;
        m_originY = origin.y;
    }
    m_showScrollbars = show;
    LayOutScrollbars();
    PictureChanged();
}

void TPMultiImage::SetScrollbarWidth(int width)
{
    if (width == m_scrollbarWidth)
        return;
    m_scrollbarWidth = width;
    BarsFollowView();
    repaint();
}

void TPMultiImage::SetStretch(bool stretch)
{
    if (stretch == m_stretch)
        return;
    m_stretch = stretch;
    BarsFollowView();
    update();
    // Through the setter, so that the view kept while fitting comes back.
    if (stretch)
        SetStretchRatio(false);
}

void TPMultiImage::SetStretchRatio(bool ratio)
{
    if (ratio != m_stretchRatio && m_picture.GraphicKind() == imaging::TPicture::Kind::Bitmap) {
        const bool haveBitmap = m_picture.BitmapOrNull()->HandleAllocated();
        if (ratio && haveBitmap) {
            m_savedOriginX = m_originX;
            m_savedOriginY = m_originY;
            m_savedScale = m_scale;
            m_originX = 0;
            m_originY = 0;
            ApplyFittingScale();
        } else {
            m_originX = m_savedOriginX;
            m_originY = m_savedOriginY;
            m_scale = m_savedScale;
        }
    }
    if (ratio != m_stretchRatio) {
        m_stretchRatio = ratio;
        if (ratio)
            m_stretch = false;
    }
    BarsFollowView();
    update();
}

void TPMultiImage::SetCenter(bool center)
{
    if (std::exchange(m_center, center) != center)
        update();
}

void TPMultiImage::SetTileWindow(bool tile)
{
    if (std::exchange(m_tileWindow, tile) != tile)
        update();
}

void TPMultiImage::SetBlitMode(TBlitMode mode)
{
    m_blitMode = mode;
    repaint();
}

void TPMultiImage::SetAutoSize(bool autoSize)
{
    m_autoSize = autoSize;
    PictureChanged();
}

void TPMultiImage::SetBorderStyle(TBorderStyle style)
{
    if (std::exchange(m_borderStyle, style) != style)
        update();
}

bool TPMultiImage::TabStop() const
{
    return (focusPolicy() & Qt::TabFocus) != 0;
}

void TPMultiImage::SetTabStop(bool tabStop)
{
    setFocusPolicy(tabStop ? Qt::StrongFocus : Qt::NoFocus);
    LayOutScrollbars();
}

void TPMultiImage::SetText(const QString& text)
{
    if (std::exchange(m_text, text) != text)
        update();
}

void TPMultiImage::SetTextLeft(int left)
{
    if (std::exchange(m_textLeft, left) != left)
        update();
}

void TPMultiImage::SetTextTop(int top)
{
    if (std::exchange(m_textTop, top) != top)
        update();
}

void TPMultiImage::SetTextRotate(int degrees)
{
    if (std::exchange(m_textRotate, degrees) != degrees)
        update();
}

void TPMultiImage::SetTextShadow(bool shadow)
{
    if (std::exchange(m_textShadow, shadow) != shadow)
        update();
}

void TPMultiImage::SetTextTransParent(bool transparent)
{
    if (std::exchange(m_textTransParent, transparent) != transparent)
        update();
}

// ---- picture changes and scrolling ------------------------------------------------

void TPMultiImage::PictureChanged()
{
    const int w = m_picture.Width();
    const int h = m_picture.Height();
    if (m_autoSize && w > 0 && h > 0)
        SetBounds(x(), y(), w, h);

    m_opaque = m_picture.GraphicKind() == imaging::TPicture::Kind::Bitmap && w == width() &&
               h == height();
    setAttribute(Qt::WA_OpaquePaintEvent, m_opaque);

    if (m_resetViewOnChange) {
        m_scale = 1.0;
        m_originX = m_originY = 0;
        m_savedOriginX = m_savedOriginY = 0;
        m_savedScale = 1.0;
        if (m_stretchRatio)
            ApplyFittingScale();
    }
    BarsFollowView();
    if (OnPictureChanged)
        OnPictureChanged(this);
    update();
}

void TPMultiImage::ScrollTo(QScrollBar* bar, int position)
{
    if (bar == m_horizontalBar)
        m_originX = OriginForPosition(position, m_scale);
    else
        m_originY = OriginForPosition(position, m_scale);
    repaint();
}

ViewGeometry TPMultiImage::View() const
{
    return {width(), height(), m_picture.Width(), m_picture.Height(), m_scale, m_originX,
            m_originY};
}

const QImage* TPMultiImage::SourceImage() const
{
    // An icon keeps its own pixels: it is drawn as it is, never turned into
    // an empty bitmap just to be painted.
    switch (m_picture.GraphicKind()) {
    case imaging::TPicture::Kind::Bitmap:
        return &m_picture.BitmapOrNull()->Handle();
    case imaging::TPicture::Kind::Icon:
    case imaging::TPicture::Kind::Metafile:
        return &m_picture.Drawing();
    case imaging::TPicture::Kind::None:
        break;
    }
    return nullptr;
}

void TPMultiImage::LayOutScrollbars()
{
    const QImage* image = SourceImage();
    BarConditions conditions;
    conditions.hasGraphic = m_picture.HasGraphic();
    conditions.stretch = m_stretch;
    conditions.stretchRatio = m_stretchRatio;
    conditions.handleAllocated = image && !image->isNull();
    conditions.scrolling = m_scrolling;
    conditions.showScrollbars = m_showScrollbars;
    const BarLayout layout = LayOutBars(View(), conditions, m_scrollbarWidth);

    const Qt::FocusPolicy barFocus = layout.shown && TabStop() ? Qt::StrongFocus : Qt::NoFocus;
    const auto place = [&](QWidget* child, const Box& box) {
        child->setGeometry(ToRect(box));
        child->setVisible(layout.shown);
    };
    place(m_verticalBar, layout.vertical);
    place(m_horizontalBar, layout.horizontal);
    place(m_corner, layout.corner);
    m_verticalBar->setFocusPolicy(barFocus);
    m_horizontalBar->setFocusPolicy(barFocus);
    if (!layout.shown)
        return;

    // Moving the bars here is not the user scrolling.
    const QSignalBlocker quietH(m_horizontalBar);
    const QSignalBlocker quietV(m_verticalBar);
    m_horizontalBar->setMaximum(layout.horizontalMax);
    m_horizontalBar->setValue(layout.horizontalPosition);
    m_verticalBar->setMaximum(layout.verticalMax);
    m_verticalBar->setValue(layout.verticalPosition);
}

// ---- painting -------------------------------------------------------------------

void TPMultiImage::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    // The window's own background erase, which an opaque control skips:
    // the draw path and the reserved strip rely on it.
    if (!m_opaque)
        painter.fillRect(event->rect(), EraseColour());
    Paint(painter);
    PaintBand(painter);
}

void TPMultiImage::SetStretchingRule(QPainter& painter) const
{
    // Every rule drops pixels rather than blending them: colour pictures stay
    // sharp and a 1-bit picture keeps pure black and white. Qt has no
    // AND/OR-combining reduction, so sDark and sLightest pick pixels as
    // sLight does.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
}

void TPMultiImage::FillBackground(QPainter& painter, const Box& picture, int reserved) const
{
    const QRegion control(0, 0, width() - reserved, height() - reserved);
    const QRegion margin = control.xored(QRegion(ToRect(picture)));
    for (const QRect& rect : margin)
        painter.fillRect(rect, m_color);
}

void TPMultiImage::BarsFollowView()
{
    // Qt leaves out of a paint what the visible children cover, so the bars
    // are shown or hidden as soon as the view changes, before the paint that
    // lays them out again.
    // With no graphic there is nothing to scroll: the bars go too.
    if (PaintLaysOutBars() || !m_picture.HasGraphic())
        LayOutScrollbars();
}

bool TPMultiImage::PaintLaysOutBars() const
{
    const QString& type = m_fileInfo.imageType;
    if (type == QLatin1String("ICO") || type == QLatin1String("WMF") || m_tileWindow ||
        !m_picture.HasGraphic())
        return false;
    return m_stretch || m_scrolling || m_stretchRatio;
}

void TPMultiImage::Paint(QPainter& painter)
{
    const QString& type = m_fileInfo.imageType;
    if (type == QLatin1String("ICO") || type == QLatin1String("WMF")) {
        PaintDrawPath(painter);
        return;
    }
    if (m_tileWindow) {
        PaintTiles(painter);
        return;
    }

    if (!m_picture.HasGraphic()) {
        painter.fillRect(rect(), m_color);
    } else {
        const QImage* image = SourceImage();
        const int w = m_picture.Width();
        const int h = m_picture.Height();
        Box area;
        if (m_stretch) {
            SetStretchingRule(painter);
            if (!image->isNull())
                painter.drawImage(rect(), *image);
            area = {0, 0, w, h};
            LayOutScrollbars();
        }
        if (!m_stretch && !m_stretchRatio && !m_scrolling) {
            area = PlacePlain(width(), height(), w, h, m_center);
            if (!image->isNull())
                painter.drawImage(area.x, area.y, *image);
            FillBackground(painter, area, 0);
        }
        if ((m_scrolling && !m_stretch) || m_stretchRatio)
            area = PaintScrolling(painter);
        if (OnPaintArea)
            OnPaintArea(this, area.x, area.y, area.width, area.height);
    }
    // The message shows whatever the picture became meanwhile (an empty
    // bitmap is a graphic too).
    if (m_messageMode != MessageMode::Off)
        m_strip.Draw(painter, m_stripPosition, rect());
    if (!m_text.isEmpty())
        PaintText(painter);
    if (m_borderStyle == TBorderStyle::bsSingle) {
        painter.setPen(palette().color(QPalette::WindowText));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
    if (OnPaint)
        OnPaint(this);
}

Box TPMultiImage::PaintScrolling(QPainter& painter)
{
    const QImage* image = SourceImage();
    const ScrollPlacement placement =
        PlaceScrolling(View(), m_center, m_showScrollbars, m_scrollbarWidth);
    m_centerOffsetX = ToOffset(placement.offsetX);
    m_centerOffsetY = ToOffset(placement.offsetY);
    m_scrollbarsReserved = placement.reserved;

    SetStretchingRule(painter);
    FillBackground(painter, placement.destination, placement.reservedWidth);
    // Qt reads a zero or negative size as "all of it": a control smaller
    // than its bars shows nothing instead.
    if (image && !image->isNull() && !placement.source.IsEmpty() &&
        !placement.destination.IsEmpty())
        painter.drawImage(ToRect(placement.destination), *image, ToRect(placement.source));
    LayOutScrollbars();
    imaging::DLL96V1::DrawAnnotation(this, m_scale, m_originX, m_originY, m_centerOffsetX,
                                     m_centerOffsetY, placement.reservedWidth);
    // The bars and the corner are children: Qt paints them over the picture
    // after this, so they need no invalidation of their own.
    return placement.destination;
}

void TPMultiImage::PaintDrawPath(QPainter& painter)
{
    const int w = m_picture.Width();
    const int h = m_picture.Height();
    Box box;
    if (m_stretch)
        box = {0, 0, width(), height()};
    else
        box = PlacePlain(width(), height(), w, h, m_center);
    const QImage* image = SourceImage();
    if (image && !image->isNull() && !box.IsEmpty()) {
        SetStretchingRule(painter);
        painter.drawImage(ToRect(box), *image);
    }
    if (!m_text.isEmpty())
        PaintText(painter);
    if (OnPaintArea)
        OnPaintArea(this, box.x, box.y, box.Right(), box.Bottom());
    if (OnPaint)
        OnPaint(this);
}

void TPMultiImage::PaintTiles(QPainter& painter)
{
    const QImage* image = SourceImage();
    if (!image || image->isNull())
        return;
    const int w = image->width();
    const int h = image->height();
    for (int y = 0; y < height(); y += h)
        for (int x = 0; x < width(); x += w)
            painter.drawImage(x, y, *image);
}

void TPMultiImage::PaintText(QPainter& painter)
{
    painter.save();
    painter.setFont(font());
    painter.setBackgroundMode(m_textTransParent ? Qt::TransparentMode : Qt::OpaqueMode);
    painter.setBackground(m_color);
    const int ascent = painter.fontMetrics().ascent();
    // The position is the text's top-left corner; the angle turns it
    // counter-clockwise about that corner.
    const auto draw = [&](int left, int top, const QColor& colour) {
        painter.save();
        painter.translate(left, top);
        painter.rotate(-m_textRotate);
        painter.setPen(colour);
        painter.drawText(0, ascent, m_text);
        painter.restore();
    };
    if (m_textShadow)
        draw(m_textLeft + 2, m_textTop + 2, m_textShadowColor);
    draw(m_textLeft, m_textTop, palette().color(QPalette::WindowText));
    painter.restore();
}

}  // namespace preview
