#pragma once

#include <QLineEdit>
#include <functional>

class QMenu;
class QToolButton;
class QWindow;

namespace boards {

// A one-line edit with a drop-down button and a popup of the derived class's
// making. The text is never typed freely: keys either move the choice, search,
// or open and close the popup. This class does the plumbing every such
// selector shares: the button, where the popup goes, the keys and clicks that
// open and close it, and the stand-in for a thread mouse hook that closes the
// popup on a left press anywhere else in the program.
class TfcCustomCombo : public QLineEdit {
    Q_OBJECT

public:
    explicit TfcCustomCombo(QWidget* parent = nullptr);
    ~TfcCustomCombo() override;

    [[nodiscard]] QString Text() const { return text(); }
    void SetText(const QString& text) { setText(text); }

    [[nodiscard]] bool ReadOnly() const noexcept { return m_readOnly; }
    void SetReadOnly(bool readOnly) noexcept { m_readOnly = readOnly; }
    // Set whenever the user changes the choice; cleared when the selector takes the focus.
    [[nodiscard]] bool Modified() const noexcept { return m_modified; }
    [[nodiscard]] bool DroppedDown() const noexcept { return m_droppedDown; }
    // The application-wide mouse filter; present only while the popup is open.
    [[nodiscard]] bool MouseHookInstalled() const noexcept { return m_hookInstalled; }

    [[nodiscard]] int DropDownCount() const noexcept { return m_dropDownCount; }
    void SetDropDownCount(int count) noexcept { m_dropDownCount = count; }
    // Replaces the measured text width of the popup when above 0.
    [[nodiscard]] int DropDownWidth() const noexcept { return m_dropDownWidth; }
    void SetDropDownWidth(int width) noexcept { m_dropDownWidth = width; }

    // The popup window, created by the derived class; null until then.
    [[nodiscard]] QWidget* Popup() const noexcept { return m_popup; }

    // Closing comes before opening, as other code has always called them.
    // Here they do the window work: CloseUp hides the popup and stops watching
    // presses; DropDown starts watching, fires OnDropDown and shows the popup.
    virtual void CloseUp(bool accept);
    virtual void DropDown();

    // The menu of a right click or the menu key; none by default, and then
    // there is no menu at all (the edit's own would offer to change the text).
    // Not owned.
    [[nodiscard]] QMenu* PopupMenu() const noexcept { return m_popupMenu; }
    void SetPopupMenu(QMenu* menu) noexcept { m_popupMenu = menu; }

    std::function<void(TfcCustomCombo*)> OnDropDown;
    std::function<void(TfcCustomCombo*, bool accept)> OnCloseUp;
    // Before PopupMenu shows, at `at` in the selector's coordinates; setting
    // `handled` keeps it from showing.
    std::function<void(TfcCustomCombo*, QPoint at, bool& handled)> OnContextPopup;

protected:
    void SetPopup(QWidget* popup) noexcept { m_popup = popup; }
    void SetModified(bool modified) noexcept { m_modified = modified; }
    // The popup's rectangle on the screen, computed by the derived class.
    [[nodiscard]] virtual QRect PopupGeometry() const = 0;
    // Keys the derived class turns into choices. Return true when consumed.
    virtual bool MoveKey(QKeyEvent* event) = 0;
    virtual void SearchKey(QChar typed) = 0;
    virtual void WidenCompletion() {}
    // A left press anywhere on the popup, seen before `target` gets it.
    virtual void PressInPopup(QWidget* target) { Q_UNUSED(target); }

    // Shows the popup where PopupGeometry() says, without activating it.
    void ShowPopup();

    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void InstallMouseHook();
    void RemoveMouseHook();
    // Whether a press that the window system delivered to `window` at the
    // screen point `at` lands on the popup or on this selector.
    [[nodiscard]] bool PressOnPopupOrSelector(QWindow* window, QPoint at) const;
    // A click on the edit area or the button: closes an open popup, or
    // focuses and opens once the click is over.
    void ClickOnSelector(Qt::MouseButton button);
    void PlaceButton();

    QToolButton* m_button;
    QWidget* m_popup = nullptr;
    QMenu* m_popupMenu = nullptr;
    int m_dropDownCount = 8;
    int m_dropDownWidth = 0;
    bool m_readOnly = false;
    bool m_modified = false;
    bool m_droppedDown = false;
    bool m_hookInstalled = false;
};

}  // namespace boards
