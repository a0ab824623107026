#include "TfcCustomCombo.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QStyle>
#include <QToolButton>
#include <QWindow>

namespace boards {

namespace {

// Keys that move the caret or copy; everything else that would edit is refused.
bool LeavesTextAlone(QKeyEvent* event)
{
    static const QKeySequence::StandardKey kAllowed[] = {
        QKeySequence::Copy,          QKeySequence::SelectAll,
        QKeySequence::MoveToNextChar, QKeySequence::MoveToPreviousChar,
        QKeySequence::MoveToNextWord, QKeySequence::MoveToPreviousWord,
        QKeySequence::MoveToStartOfLine, QKeySequence::MoveToEndOfLine,
        QKeySequence::SelectNextChar, QKeySequence::SelectPreviousChar,
        QKeySequence::SelectNextWord, QKeySequence::SelectPreviousWord,
        QKeySequence::SelectStartOfLine, QKeySequence::SelectEndOfLine,
    };
    for (const auto key : kAllowed) {
        if (event->matches(key))
            return true;
    }
    return false;
}

bool IsDropDownKey(const QKeyEvent* event)
{
    const bool alt = event->modifiers() & Qt::AltModifier;
    return (event->key() == Qt::Key_F4 && !alt) ||
           (alt && (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down));
}

bool IsEnter(const QKeyEvent* event)
{
    return event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
}

}  // namespace

TfcCustomCombo::TfcCustomCombo(QWidget* parent) : QLineEdit(parent), m_button(new QToolButton(this))
{
    m_button->setArrowType(Qt::DownArrow);
    m_button->setFocusPolicy(Qt::NoFocus);
    m_button->setCursor(Qt::ArrowCursor);
    m_button->installEventFilter(this);
    setAcceptDrops(false);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    PlaceButton();
}

TfcCustomCombo::~TfcCustomCombo()
{
    RemoveMouseHook();
}

void TfcCustomCombo::DropDown()
{
    InstallMouseHook();
    if (OnDropDown)
        OnDropDown(this);
    ShowPopup();
}

void TfcCustomCombo::ShowPopup()
{
    m_droppedDown = true;
    m_button->setDown(true);
    if (m_popup) {
        m_popup->setGeometry(PopupGeometry());
        // A selector on a window not yet shown (the start-up selection) opens
        // and closes without a window flashing up.
        if (window()->isVisible())
            m_popup->show();
    }
    selectAll();
}

void TfcCustomCombo::CloseUp(bool)
{
    m_droppedDown = false;
    m_button->setDown(false);
    if (m_popup)
        m_popup->hide();
    selectAll();
    RemoveMouseHook();
}

void TfcCustomCombo::InstallMouseHook()
{
    if (m_hookInstalled)
        return;
    qApp->installEventFilter(this);
    m_hookInstalled = true;
}

void TfcCustomCombo::RemoveMouseHook()
{
    if (!m_hookInstalled)
        return;
    qApp->removeEventFilter(this);
    m_hookInstalled = false;
}

bool TfcCustomCombo::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    const bool press = type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick;
    if (watched == m_button) {
        if (press) {
            ClickOnSelector(static_cast<QMouseEvent*>(event)->button());
            return true;
        }
        return type == QEvent::MouseButtonRelease;
    }
    if (!m_droppedDown)
        return false;
    if (watched->isWindowType()) {
        // The window system's press reaches the window before any widget, and
        // so before Qt moves the focus to the widget pressed on: decided here,
        // a press on a control that takes the focus cancels, as it must.
        if (type == QEvent::MouseButtonPress &&
            static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton &&
            !PressOnPopupOrSelector(static_cast<QWindow*>(watched),
                                    static_cast<QMouseEvent*>(event)->globalPosition().toPoint()))
            CloseUp(false);
        return false;
    }
    if (!watched->isWidgetType())
        return false;
    // A moved or hidden window leaves the popup hanging in the air.
    if (watched == window() && (type == QEvent::Move || type == QEvent::Hide)) {
        CloseUp(false);
        return false;
    }
    if (!press)
        return false;
    const auto* mouse = static_cast<QMouseEvent*>(event);
    const QPoint at = mouse->globalPosition().toPoint();
    auto* target = static_cast<QWidget*>(watched);
    if (m_popup && (target == m_popup || m_popup->isAncestorOf(target))) {
        if (mouse->button() == Qt::LeftButton)
            PressInPopup(target);
        return false;
    }
    const QRect self(mapToGlobal(QPoint(0, 0)), size());
    if (mouse->button() == Qt::LeftButton && !self.contains(at))
        CloseUp(false);
    return false;
}

bool TfcCustomCombo::PressOnPopupOrSelector(QWindow* window, QPoint at) const
{
    QWindow* topLevel = window;
    while (topLevel->parent())
        topLevel = topLevel->parent();
    const QWidget* popupWidget = m_popup ? m_popup->window() : nullptr;
    if (popupWidget && topLevel == popupWidget->windowHandle())
        return true;
    const QRect self(mapToGlobal(QPoint(0, 0)), size());
    return topLevel == this->window()->windowHandle() && self.contains(at);
}

void TfcCustomCombo::ClickOnSelector(Qt::MouseButton button)
{
    if (m_droppedDown) {
        CloseUp(true);
        return;
    }
    if (button != Qt::LeftButton)
        return;
    setFocus(Qt::MouseFocusReason);
    // Opens after the click has been handled, like a posted message.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!m_droppedDown)
                DropDown();
        },
        Qt::QueuedConnection);
}

bool TfcCustomCombo::event(QEvent* event)
{
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) {
        auto* key = static_cast<QKeyEvent*>(event);
        const bool tab = key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab;
        if (event->type() == QEvent::KeyPress && tab && m_droppedDown)
            CloseUp(true);
        // An open popup owns Enter and Escape; no dialog button or shortcut may take them.
        if (event->type() == QEvent::ShortcutOverride && m_droppedDown &&
            (IsEnter(key) || key->key() == Qt::Key_Escape || IsDropDownKey(key))) {
            event->accept();
            return true;
        }
    }
    return QLineEdit::event(event);
}

void TfcCustomCombo::keyPressEvent(QKeyEvent* event)
{
    if (IsDropDownKey(event)) {
        if (m_droppedDown)
            CloseUp(true);
        else
            DropDown();
        event->accept();
        return;
    }
    if (IsEnter(event) || event->key() == Qt::Key_Escape) {
        if (!m_droppedDown) {
            event->ignore();  // a default button or the window may want it
            return;
        }
        CloseUp(IsEnter(event));
        event->accept();
        return;
    }
    if (MoveKey(event)) {
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Backspace || event->key() == Qt::Key_Delete) {
        WidenCompletion();
        event->accept();
        return;
    }
    const QString typed = event->text();
    const bool command = event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    if (!command && typed.size() == 1 && typed.at(0).isPrint()) {
        SearchKey(typed.at(0));
        event->accept();
        return;
    }
    if (LeavesTextAlone(event))
        QLineEdit::keyPressEvent(event);
    else
        event->ignore();
}

void TfcCustomCombo::mousePressEvent(QMouseEvent* event)
{
    ClickOnSelector(event->button());
    event->accept();
}

void TfcCustomCombo::mouseDoubleClickEvent(QMouseEvent* event)
{
    mousePressEvent(event);
}

// No caret placing, drag selection or middle-button paste: the text is the choice.
void TfcCustomCombo::mouseMoveEvent(QMouseEvent* event)
{
    event->accept();
}

void TfcCustomCombo::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
}

void TfcCustomCombo::focusInEvent(QFocusEvent* event)
{
    QLineEdit::focusInEvent(event);
    if (QGuiApplication::mouseButtons() == Qt::NoButton)
        selectAll();
    m_modified = false;
}

void TfcCustomCombo::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    if (m_droppedDown)
        CloseUp(true);
}

void TfcCustomCombo::contextMenuEvent(QContextMenuEvent* event)
{
    event->accept();
    if (!m_popupMenu)
        return;
    // The menu key with the popup open; a right click has closed it already.
    if (m_droppedDown)
        CloseUp(true);
    bool handled = false;
    if (OnContextPopup)
        OnContextPopup(this, event->pos(), handled);
    if (!handled)
        m_popupMenu->exec(event->globalPos());
}

void TfcCustomCombo::resizeEvent(QResizeEvent* event)
{
    QLineEdit::resizeEvent(event);
    PlaceButton();
}

void TfcCustomCombo::PlaceButton()
{
    const int frame = 2;
    const int width = std::min(style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this) + 2,
                               std::max(this->width() / 2, 1));
    m_button->setGeometry(this->width() - frame - width, frame, width,
                          std::max(height() - 2 * frame, 1));
    setTextMargins(0, 0, width, 0);
}

}  // namespace boards
