// The preview control's input: the clipboard commands and their keys,
// panning a large picture with the grab hand, and the selection band.
#include "TPMultiImage.h"

#include "PreviewLayout.h"

#include "imaging/DllSP96.h"
#include "imaging/ErrorInvalid.h"
#include "imaging/ILDibCls.h"

#include <QApplication>
#include <QClipboard>
#include <QHash>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QtEndian>

#include <cstring>

namespace preview {

namespace {

constexpr int16_t kGrabHand = 5;
const char* const kBmpMime = "image/bmp";

// The grab hand: an open palm of our own drawing, white with a black rim,
// its hot spot in the middle of the palm.
QCursor GrabHand()
{
    QPixmap hand(32, 32);
    hand.fill(Qt::transparent);
    QPainter painter(&hand);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath outline;
    outline.addRoundedRect(QRectF(9, 13, 14, 12), 4, 4);
    for (int finger = 0; finger < 4; ++finger)
        outline.addRoundedRect(QRectF(9.5 + finger * 3.4, 5 + (finger == 0 || finger == 3 ? 2 : 0), 3, 11), 1.5, 1.5);
    outline.addRoundedRect(QRectF(4, 14, 8, 3.5), 1.5, 1.5);  // the thumb
    painter.setPen(QPen(Qt::black, 1.2));
    painter.setBrush(Qt::white);
    painter.drawPath(outline.simplified());
    painter.end();
    return QCursor(hand, 16, 18);
}

QHash<int, QCursor>& Cursors()
{
    static QHash<int, QCursor> cursors{{kGrabHand, GrabHand()}};
    return cursors;
}

TMouseButton ButtonOf(Qt::MouseButton button)
{
    switch (button) {
    case Qt::RightButton:
        return TMouseButton::mbRight;
    case Qt::MiddleButton:
        return TMouseButton::mbMiddle;
    default:
        return TMouseButton::mbLeft;
    }
}

// A BMP file around a packed DIB: what other programs read as image/bmp.
QByteArray BmpFile(const QByteArray& packed)
{
    if (packed.size() < 40)
        return {};
    const auto* header = reinterpret_cast<const uchar*>(packed.constData());
    const uint32_t headerSize = qFromLittleEndian<quint32>(header);
    const uint16_t bits = qFromLittleEndian<quint16>(header + 14);
    uint32_t colours = qFromLittleEndian<quint32>(header + 32);
    if (colours == 0 && bits <= 8)
        colours = 1u << bits;
    const uint32_t offset = 14 + headerSize + 4 * colours;
    QByteArray file(14, '\0');
    auto* out = reinterpret_cast<uchar*>(file.data());
    out[0] = 'B';
    out[1] = 'M';
    qToLittleEndian<quint32>(static_cast<quint32>(14 + packed.size()), out + 2);
    qToLittleEndian<quint32>(offset, out + 10);
    return file + packed;
}

}  // namespace

QCursor TPMultiImage::ControlCursor(int16_t index)
{
    return Cursors().value(index, QCursor(Qt::ArrowCursor));
}

void TPMultiImage::SetGrabHandCursor(int16_t index)
{
    m_grabHandCursor = index;
    // The hand is there under whatever index the control is given.
    if (!Cursors().contains(index))
        Cursors().insert(index, GrabHand());
}

// ---- clipboard ---------------------------------------------------------------

void TPMultiImage::Copy()
{
    imaging::TBitmap& bitmap = m_picture.Bitmap();
    const QList<QRgb> palette = bitmap.Palette();
    // An empty bitmap raises "Input image is empty" here, before the clipboard.
    HGLOBAL block = imaging::BitmapToDib(bitmap.Handle(), palette.isEmpty() ? nullptr : &palette);
    if (!block)
        return;
    QByteArray packed(static_cast<qsizetype>(GlobalSize(block)), '\0');
    std::memcpy(packed.data(), GlobalLock(block), static_cast<size_t>(packed.size()));
    GlobalUnlock(block);
    imaging::FreeDib(block);
    auto* data = new QMimeData;
    data->setImageData(bitmap.Handle());
    data->setData(QString::fromLatin1(kBmpMime), BmpFile(packed));
    QGuiApplication::clipboard()->setMimeData(data);
}

void TPMultiImage::Cut()
{
    if (!m_picture.HasGraphic())
        return;
    Copy();
    if (m_ilUndo)
        imaging::DllSP96::PushUndo(m_picture.Bitmap());
    m_picture.Clear();
    update();
}

void TPMultiImage::Paste()
{
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (!data || !(data->hasImage() || data->hasFormat(QString::fromLatin1(kBmpMime))))
        return;
    EndMessageMode(false);
    if (const imaging::TBitmap* current = m_picture.BitmapOrNull(); m_ilUndo && current && current->HandleAllocated())
        imaging::DllSP96::PushUndo(*current);
    QImage image = qvariant_cast<QImage>(data->imageData());
    if (image.isNull())
        image = QImage::fromData(data->data(QString::fromLatin1(kBmpMime)), "BMP");
    if (image.isNull())
        return;  // a picture in no form we read: the picture stays
    HGLOBAL block = nullptr;
    if (!imaging::BitmapToDib(imaging::TBitmap(image), ReadBits(), m_imageDither ? 1 : 0, nullptr, nullptr, block))
        return;
    imaging::TBitmap bitmap;
    const bool converted = imaging::DibToBitmap(block, bitmap);
    imaging::FreeDib(block);
    if (!converted)
        return;
    // A paste keeps the view where it was.
    const int originX = m_originX, originY = m_originY;
    m_picture.SetBitmap(bitmap);
    m_originX = originX;
    m_originY = originY;
    if (m_stretchRatio)
        ApplyFittingScale();
    update();
}

void TPMultiImage::keyPressEvent(QKeyEvent* event)
{
    const Qt::KeyboardModifiers mods = event->modifiers();
    const bool shift = mods & Qt::ShiftModifier;
    const bool control = mods & Qt::ControlModifier;
    switch (event->key()) {
    case Qt::Key_Insert:
        if (shift) {
            Paste();
            return;
        }
        if (control) {
            Copy();
            return;
        }
        break;
    case Qt::Key_Delete:
        if (shift) {
            Cut();
            return;
        }
        break;
    case Qt::Key_C:
        if (control) {
            Copy();
            return;
        }
        break;
    case Qt::Key_V:
        if (control) {
            Paste();
            return;
        }
        break;
    case Qt::Key_X:
        if (control) {
            Cut();
            return;
        }
        break;
    default:
        break;
    }
    QWidget::keyPressEvent(event);
}

// ---- panning and the selection band -----------------------------------------

bool TPMultiImage::PicturePans() const
{
    const imaging::TBitmap* bitmap = m_picture.BitmapOrNull();
    return m_picture.HasGraphic() && !m_stretch && bitmap && bitmap->HandleAllocated() && Overflows(View());
}

void TPMultiImage::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && TabStop())
        setFocus(Qt::MouseFocusReason);
    if ((m_picture.GraphicKind() == imaging::TPicture::Kind::Metafile))
        return;
    const QPoint at = event->position().toPoint();
    if (m_allowRubberBand) {
        const TMouseButton button = ButtonOf(event->button());
        if (button == m_rubberBandBtn && button != TMouseButton::mbMiddle) {
            m_banding = true;
            m_bandButton = button;
            m_bandAnchor = at;
            m_bandCorner = at;
            update();
        }
        return;
    }
    if (event->button() != Qt::LeftButton)
        return;
    m_lastMouse = at;
    if (!PicturePans())
        return;
    m_panning = true;
    m_savedCursor = cursor();
    setCursor(ControlCursor(m_grabHandCursor));
    QApplication::setOverrideCursor(ControlCursor(m_grabHandCursor));
    m_screenCursorSet = true;
}

void TPMultiImage::mouseMoveEvent(QMouseEvent* event)
{
    if ((m_picture.GraphicKind() == imaging::TPicture::Kind::Metafile))
        return;
    const QPoint at = event->position().toPoint();
    if (m_banding) {
        const BandCorner corner = BandCornerFor(m_bandAnchor.x(), m_bandAnchor.y(), at.x(), at.y(), width(), height());
        m_bandCorner = QPoint(corner.x, corner.y);
        update();
        return;
    }
    if (m_panning)
        PanTo(at.x(), at.y());
}

void TPMultiImage::PanTo(int x, int y)
{
    const imaging::TBitmap& bitmap = m_picture.Bitmap();
    const ViewGeometry view = View();
    const bool bars = m_scrolling && !m_stretch && !m_stretchRatio && Overflows(view) && m_showScrollbars;
    const int reserved = bars ? m_scrollbarWidth : 0;
    const int dx = m_lastMouse.x() - x;
    const int dy = m_lastMouse.y() - y;
    m_lastMouse = QPoint(x, y);
    m_originX = PanAxis(m_originX, dx, width(), bitmap.Width(), m_scale, reserved);
    m_originY = PanAxis(m_originY, dy, height(), bitmap.Height(), m_scale, reserved);
    repaint();
}

void TPMultiImage::mouseReleaseEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    if (m_banding && ButtonOf(event->button()) == m_bandButton) {
        m_banding = false;
        update();
        if (OnRubberband)
            OnRubberband(this, m_bandButton, event->modifiers(), m_bandAnchor.x(), m_bandAnchor.y(), m_bandCorner.x(),
                         m_bandCorner.y());
        return;
    }
    if (event->button() != Qt::LeftButton)
        return;
    // Every left release ends a pan and puts both cursors back.
    m_lastMouse = at;
    m_panning = false;
    setCursor(m_savedCursor);
    if (m_screenCursorSet) {
        QApplication::restoreOverrideCursor();
        m_screenCursorSet = false;
    }
}

// The band inverts what lies under it.
void TPMultiImage::PaintBand(QPainter& painter) const
{
    if (!m_banding)
        return;
    painter.save();
    painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    painter.setPen(QPen(Qt::white, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRect(m_bandAnchor, m_bandCorner).normalized());
    painter.restore();
}

}  // namespace preview
