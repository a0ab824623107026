#pragma once

#include "TfcTreeNodes.h"

#include <QWidget>
#include <functional>

class QLineEdit;
class QToolButton;

namespace boards {

// The board selector: a one-line text box over the catalogue tree.
//
// This version keeps the selection logic (text matching, the drop-down start
// node, accepting and cancelling) without the popup tree: DropDown() and
// CloseUp() do their bookkeeping and the box shows Text.
class TfcTreeCombo : public QWidget {
    Q_OBJECT

public:
    explicit TfcTreeCombo(QWidget* parent = nullptr);

    // The tree's nodes are TfcTreeComboTreeNode objects.
    [[nodiscard]] TfcTreeNodes& Items() noexcept { return m_items; }
    [[nodiscard]] const TfcTreeNodes& Items() const noexcept { return m_items; }

    [[nodiscard]] QString Text() const;
    // Does not change SelectedNode: the text is matched at the next DropDown().
    void SetText(const QString& text);
    [[nodiscard]] TfcTreeNode* SelectedNode() const noexcept { return m_selectedNode; }
    void SetSelectedNode(TfcTreeNode* node) noexcept { m_selectedNode = node; }
    [[nodiscard]] TfcTreeNode* DropDownStartNode() const noexcept { return m_dropDownStartNode; }
    [[nodiscard]] const QString& DropDownStartText() const noexcept { return m_dropDownStartText; }
    [[nodiscard]] TfcTreeNode* TreeSelection() const noexcept { return m_treeSelection; }
    [[nodiscard]] bool ReadOnly() const noexcept { return m_readOnly; }
    void SetReadOnly(bool readOnly) noexcept { m_readOnly = readOnly; }
    [[nodiscard]] bool Modified() const noexcept { return m_modified; }
    [[nodiscard]] bool DroppedDown() const noexcept { return m_droppedDown; }

    virtual void DropDown();
    virtual void CloseUp(bool accept);

    std::function<void(TfcTreeCombo*)> OnDropDown;
    std::function<void(TfcTreeCombo*, bool)> OnCloseUp;
    std::function<void(TfcTreeCombo*, TfcTreeNode*)> OnSelectionChange;

private:
    TfcTreeNodes m_items;
    QLineEdit* m_edit;
    QToolButton* m_button;
    TfcTreeNode* m_selectedNode = nullptr;
    TfcTreeNode* m_treeSelection = nullptr;
    TfcTreeNode* m_dropDownStartNode = nullptr;
    QString m_dropDownStartText;
    bool m_readOnly = false;
    bool m_modified = false;
    bool m_droppedDown = false;
};

}  // namespace boards
