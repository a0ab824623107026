#pragma once

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QFrame>
#include <vector>

namespace boards {

class TfcCustomTreeCombo;
class TfcTreeNode;

// What lies under a point of the popup tree.
enum class TreeHitPart { Nowhere, Indent, Button, CheckMark, Label, RightOfLabel };

struct TreeHit {
    TfcTreeNode* node = nullptr;
    TreeHitPart part = TreeHitPart::Nowhere;
};

// The selector's drop-down window: borderless, on top, never activated, with
// a one-pixel frame around the tree.
class TfcPopupPanel : public QFrame {
    Q_OBJECT

public:
    explicit TfcPopupPanel(QWidget* owner);
    // The widget filling the panel inside its frame.
    void SetContent(QWidget* content);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QWidget* m_content = nullptr;
};

// The tree inside the popup: the selector's nodes with lines and expand
// buttons, no images, the selected row always in the highlight colours.
// Scrolls by whole rows. The tree selection lives here; the selector decides
// what a change of it means.
class TfcPopupTreeView : public QAbstractScrollArea {
    Q_OBJECT

public:
    static constexpr int kIndent = 19;
    static constexpr int kCheckWidth = 16;
    static constexpr int kDragInterval = 50;

    TfcPopupTreeView(TfcCustomTreeCombo* combo, QWidget* parent);

    [[nodiscard]] TfcTreeNode* Selected() const noexcept { return m_selected; }
    // Repaints and tells the selector, which copies the node into its choice
    // while a user action is moving it.
    void SetSelected(TfcTreeNode* node);
    void MakeVisible(TfcTreeNode* node);
    void ScrollToTop();
    // Rows the popup will show; scrolling is known before the popup ever shows.
    void SetVisibleRows(int rows);
    // Rebuilds the rows after nodes were expanded or collapsed.
    void Relayout();

    [[nodiscard]] int RowHeight() const;
    [[nodiscard]] const std::vector<TfcTreeNode*>& Rows() const noexcept { return m_rows; }
    [[nodiscard]] int TopRow() const;
    // Widest row: indent, check mark and text of each shown node.
    [[nodiscard]] int WidestRow() const;

    // Parts of a shown node, in viewport coordinates; empty when it is not a row.
    [[nodiscard]] QRect RowRect(const TfcTreeNode* node) const;
    [[nodiscard]] QRect ButtonRect(const TfcTreeNode* node) const;
    [[nodiscard]] QRect CheckRect(const TfcTreeNode* node) const;
    [[nodiscard]] QRect LabelRect(const TfcTreeNode* node) const;
    [[nodiscard]] TreeHit HitTest(QPoint point) const;

    // Every drop-down starts with no mouse history.
    void ResetMouse();
    void PressedOutsideList() noexcept { m_pressedOutside = true; }
    [[nodiscard]] bool DragTimerActive() const noexcept { return m_dragTimer.isActive(); }
    void StopDragTimer() { m_dragTimer.stop(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void timerEvent(QTimerEvent* event) override;

private:
    [[nodiscard]] int RowOf(const TfcTreeNode* node) const;
    [[nodiscard]] int VisibleRowCount() const;
    void UpdateScrollBar();
    void PaintLines(class QPainter& painter, const TfcTreeNode* node, const QRect& row) const;

    TfcCustomTreeCombo* m_combo;
    std::vector<TfcTreeNode*> m_rows;
    TfcTreeNode* m_selected = nullptr;
    QPoint m_lastMouse{-1, -1};
    bool m_leftDown = false;
    bool m_pressedOutside = false;
    bool m_pressedOnButton = false;
    int m_visibleRows = 0;
    int m_dragStep = 0;  // -1 above the list, +1 below
    QBasicTimer m_dragTimer;
};

}  // namespace boards
