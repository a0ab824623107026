#include "TfcPopupTreeView.h"

#include "TfcCustomTreeCombo.h"
#include "TfcTreeNode.h"

#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyleOptionButton>

#include <algorithm>

namespace boards {

namespace {

constexpr int kButtonSize = 9;
constexpr int kLabelPadding = 2;

// Everything in the popup is painted as in an active window: it never is one.
QColor Colour(const QWidget* widget, QPalette::ColorRole role)
{
    return widget->palette().color(QPalette::Active, role);
}

}  // namespace

TfcPopupPanel::TfcPopupPanel(QWidget* owner)
    : QFrame(owner, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus)
{
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setLineWidth(1);
    setAutoFillBackground(true);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, colours.color(QPalette::Active, QPalette::Base));
    colours.setColor(QPalette::WindowText, colours.color(QPalette::Active, QPalette::WindowText));
    setPalette(colours);
}

void TfcPopupPanel::SetContent(QWidget* content)
{
    m_content = content;
    m_content->setGeometry(contentsRect());
}

void TfcPopupPanel::resizeEvent(QResizeEvent* event)
{
    QFrame::resizeEvent(event);
    if (m_content)
        m_content->setGeometry(contentsRect());
}

TfcPopupTreeView::TfcPopupTreeView(TfcCustomTreeCombo* combo, QWidget* parent)
    : QAbstractScrollArea(parent), m_combo(combo)
{
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::NoFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setMouseTracking(true);
    viewport()->setAutoFillBackground(true);
    viewport()->setBackgroundRole(QPalette::Base);
    verticalScrollBar()->setFocusPolicy(Qt::NoFocus);
}

int TfcPopupTreeView::RowHeight() const
{
    return fontMetrics().height() + 3;
}

int TfcPopupTreeView::TopRow() const
{
    return verticalScrollBar()->value();
}

int TfcPopupTreeView::VisibleRowCount() const
{
    return std::max(m_visibleRows > 0 ? m_visibleRows : viewport()->height() / RowHeight(), 1);
}

void TfcPopupTreeView::SetVisibleRows(int rows)
{
    m_visibleRows = rows;
    UpdateScrollBar();
}

int TfcPopupTreeView::RowOf(const TfcTreeNode* node) const
{
    const auto it = std::find(m_rows.begin(), m_rows.end(), node);
    return it == m_rows.end() ? -1 : static_cast<int>(it - m_rows.begin());
}

void TfcPopupTreeView::Relayout()
{
    m_rows = m_combo->Items().VisibleNodes();
    UpdateScrollBar();
    viewport()->update();
}

void TfcPopupTreeView::UpdateScrollBar()
{
    const int rows = static_cast<int>(m_rows.size());
    verticalScrollBar()->setRange(0, std::max(rows - VisibleRowCount(), 0));
    verticalScrollBar()->setPageStep(VisibleRowCount());
    verticalScrollBar()->setSingleStep(1);
}

void TfcPopupTreeView::SetSelected(TfcTreeNode* node)
{
    if (node == m_selected)
        return;
    m_selected = node;
    viewport()->update();
    m_combo->TreeSelectionChanged(node);
}

void TfcPopupTreeView::MakeVisible(TfcTreeNode* node)
{
    // A node under a collapsed parent shows its parent's row.
    int row = -1;
    for (; node && row < 0; node = node->Parent())
        row = RowOf(node);
    if (row < 0)
        return;
    const int top = TopRow();
    if (row < top)
        verticalScrollBar()->setValue(row);
    else if (row >= top + VisibleRowCount())
        verticalScrollBar()->setValue(row - VisibleRowCount() + 1);
}

void TfcPopupTreeView::ScrollToTop()
{
    verticalScrollBar()->setValue(0);
}

int TfcPopupTreeView::WidestRow() const
{
    const QFontMetrics metrics = fontMetrics();
    int widest = 0;
    for (const TfcTreeNode* node : m_rows) {
        const int check = node->CheckKind() == TfcCheckKind::None ? 0 : kCheckWidth;
        widest = std::max(widest, (node->Level() + 1) * kIndent + check +
                                      metrics.horizontalAdvance(node->Text()) + 2 * kLabelPadding);
    }
    return widest;
}

QRect TfcPopupTreeView::RowRect(const TfcTreeNode* node) const
{
    const int row = RowOf(node);
    if (row < 0)
        return {};
    return {0, (row - TopRow()) * RowHeight(), viewport()->width(), RowHeight()};
}

QRect TfcPopupTreeView::ButtonRect(const TfcTreeNode* node) const
{
    const QRect row = RowRect(node);
    if (row.isEmpty() || node->Count() == 0)
        return {};
    const int centreX = node->Level() * kIndent + kIndent / 2;
    const int centreY = row.top() + row.height() / 2;
    return {centreX - kButtonSize / 2, centreY - kButtonSize / 2, kButtonSize, kButtonSize};
}

QRect TfcPopupTreeView::CheckRect(const TfcTreeNode* node) const
{
    const QRect row = RowRect(node);
    if (row.isEmpty() || node->CheckKind() == TfcCheckKind::None)
        return {};
    return {(node->Level() + 1) * kIndent, row.top(), kCheckWidth, row.height()};
}

QRect TfcPopupTreeView::LabelRect(const TfcTreeNode* node) const
{
    const QRect row = RowRect(node);
    if (row.isEmpty())
        return {};
    const int check = node->CheckKind() == TfcCheckKind::None ? 0 : kCheckWidth;
    const int left = (node->Level() + 1) * kIndent + check;
    return {left, row.top(), fontMetrics().horizontalAdvance(node->Text()) + 2 * kLabelPadding,
            row.height()};
}

TreeHit TfcPopupTreeView::HitTest(QPoint point) const
{
    if (!viewport()->rect().contains(point))
        return {};
    const int row = TopRow() + point.y() / RowHeight();
    if (row < 0 || row >= static_cast<int>(m_rows.size()))
        return {};
    TfcTreeNode* node = m_rows[static_cast<std::size_t>(row)];
    // The button's whole indent column toggles, as small boxes are hard to hit.
    const QRect button = ButtonRect(node);
    if (!button.isEmpty() && point.x() >= node->Level() * kIndent &&
        point.x() < (node->Level() + 1) * kIndent)
        return {node, TreeHitPart::Button};
    if (CheckRect(node).contains(point))
        return {node, TreeHitPart::CheckMark};
    const QRect label = LabelRect(node);
    if (point.x() < label.left())
        return {node, TreeHitPart::Indent};
    if (point.x() <= label.right())
        return {node, TreeHitPart::Label};
    return {node, TreeHitPart::RightOfLabel};
}

void TfcPopupTreeView::ResetMouse()
{
    m_lastMouse = QPoint(-1, -1);
    m_leftDown = false;
    m_pressedOutside = false;
    m_pressedOnButton = false;
    m_dragTimer.stop();
}

void TfcPopupTreeView::paintEvent(QPaintEvent*)
{
    QPainter painter(viewport());
    painter.fillRect(viewport()->rect(), Colour(this, QPalette::Base));
    const int first = TopRow();
    const int last = std::min(static_cast<int>(m_rows.size()), first + VisibleRowCount() + 1);
    for (int row = first; row < last; ++row) {
        const TfcTreeNode* node = m_rows[static_cast<std::size_t>(row)];
        const QRect rowRect = RowRect(node);
        PaintLines(painter, node, rowRect);

        const QRect button = ButtonRect(node);
        if (!button.isEmpty()) {
            painter.setPen(Colour(this, QPalette::Dark));
            painter.setBrush(Colour(this, QPalette::Base));
            painter.drawRect(button.adjusted(0, 0, -1, -1));
            painter.setPen(Colour(this, QPalette::Text));
            const QPoint c = button.center();
            painter.drawLine(c.x() - 2, c.y(), c.x() + 2, c.y());
            if (!node->Expanded())
                painter.drawLine(c.x(), c.y() - 2, c.x(), c.y() + 2);
        }

        const QRect check = CheckRect(node);
        if (!check.isEmpty()) {
            QStyleOptionButton option;
            option.initFrom(this);
            option.rect = QRect(check.left() + 1, check.center().y() - 6, 13, 13);
            option.state |= node->Checked() ? QStyle::State_On : QStyle::State_Off;
            const auto element = node->CheckKind() == TfcCheckKind::RadioButton
                                      ? QStyle::PE_IndicatorRadioButton
                                      : QStyle::PE_IndicatorCheckBox;
            style()->drawPrimitive(element, &option, &painter, this);
        }

        const QRect label = LabelRect(node);
        const bool selected = node == m_selected;
        if (selected)
            painter.fillRect(label, Colour(this, QPalette::Highlight));
        painter.setPen(Colour(this, selected ? QPalette::HighlightedText : QPalette::Text));
        painter.drawText(label.adjusted(kLabelPadding, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft,
                         node->Text());
    }
}

void TfcPopupTreeView::PaintLines(QPainter& painter, const TfcTreeNode* node, const QRect& row) const
{
    painter.setPen(QPen(Colour(this, QPalette::Mid), 1, Qt::DotLine));
    const int middle = row.top() + row.height() / 2;
    const auto hasNextSibling = [this](const TfcTreeNode* n) {
        const TfcTreeNode* parent = n->Parent();
        if (parent)
            return parent->Item(parent->Count() - 1) != n;
        const TfcTreeNodes& roots = m_combo->Items();
        return roots.Item(roots.Count() - 1) != n;
    };
    const int x = node->Level() * kIndent + kIndent / 2;
    const bool firstRoot = !node->Parent() && m_combo->Items().Item(0) == node;
    painter.drawLine(x, firstRoot ? middle : row.top(), x, hasNextSibling(node) ? row.bottom() : middle);
    painter.drawLine(x, middle, (node->Level() + 1) * kIndent - 2, middle);
    // Ancestors that have more siblings below carry their line through this row.
    for (const TfcTreeNode* up = node->Parent(); up; up = up->Parent()) {
        if (hasNextSibling(up)) {
            const int ux = up->Level() * kIndent + kIndent / 2;
            painter.drawLine(ux, row.top(), ux, row.bottom());
        }
    }
}

void TfcPopupTreeView::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    // The first report only says where the resting cursor is.
    if (m_lastMouse == QPoint(-1, -1) || m_lastMouse == at) {
        m_lastMouse = at;
        return;
    }
    m_lastMouse = at;
    if (m_leftDown && (at.y() < 0 || at.y() >= viewport()->height())) {
        m_dragStep = at.y() < 0 ? -1 : 1;
        if (!m_dragTimer.isActive())
            m_dragTimer.start(kDragInterval, this);
        return;
    }
    m_dragTimer.stop();
    const TreeHit hit = HitTest(at);
    if (hit.node && m_combo->IsChoosable(hit.node))
        SetSelected(hit.node);
}

void TfcPopupTreeView::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    if (event->button() != Qt::LeftButton)
        return;
    m_leftDown = true;
    m_pressedOutside = false;
    m_pressedOnButton = false;
    const TreeHit hit = HitTest(event->position().toPoint());
    if (hit.part == TreeHitPart::Button) {
        m_pressedOnButton = true;
        hit.node->SetExpanded(!hit.node->Expanded());
        Relayout();
    } else if (hit.part == TreeHitPart::CheckMark) {
        hit.node->SetChecked(hit.node->CheckKind() == TfcCheckKind::CheckBox ? !hit.node->Checked()
                                                                             : true);
        viewport()->update();
    }
}

void TfcPopupTreeView::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
    if (event->button() != Qt::LeftButton)
        return;
    const bool pressed = m_leftDown;
    m_leftDown = false;
    const QPoint at = event->position().toPoint();
    if (!pressed || m_pressedOutside || m_pressedOnButton)
        return;
    // Pressed on a row and let go outside the list, on any side, over the
    // selector, the scroll bar or anywhere else: the user dragged off, which
    // cancels. The press's implicit grab brings the release here wherever it is.
    if (!viewport()->rect().contains(at)) {
        m_combo->CloseUp(false);
        return;
    }
    const TreeHit hit = HitTest(at);
    if (!hit.node || hit.part == TreeHitPart::Button || hit.part == TreeHitPart::CheckMark ||
        !m_combo->IsChoosable(hit.node))
        return;
    m_combo->PickFromPopup(hit.node, true);
}

void TfcPopupTreeView::mouseDoubleClickEvent(QMouseEvent* event)
{
    event->accept();
}

void TfcPopupTreeView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollBar();
}

void TfcPopupTreeView::scrollContentsBy(int, int)
{
    viewport()->update();
}

void TfcPopupTreeView::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != m_dragTimer.timerId()) {
        QAbstractScrollArea::timerEvent(event);
        return;
    }
    if (!m_leftDown) {
        m_dragTimer.stop();
        m_combo->CloseUp(true);
        return;
    }
    m_combo->DragStep(m_dragStep);
}

}  // namespace boards
