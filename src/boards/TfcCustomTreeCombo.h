#pragma once

#include "TfcCustomCombo.h"
#include "TfcTreeNodes.h"
#include "TreeComboRules.h"

#include <QFlags>

namespace boards {

class TfcPopupPanel;
class TfcPopupTreeView;

enum TfcTreeComboOption : unsigned {
    icoExpanded = 1u << 0,      // every node expanded on each drop-down
    icoEndNodesOnly = 1u << 1,  // only nodes without children may be chosen
};
Q_DECLARE_FLAGS(TfcTreeComboOptions, TfcTreeComboOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(TfcTreeComboOptions)

// A selector whose drop-down is a tree. Its text is always a node's text or
// the text last set from outside; the chosen node is SelectedNode.
//
// While a key or the mouse moves the choice (the editing flag), every change
// of the tree selection becomes the choice at once. Hovering only highlights.
// A cancelled drop-down puts the text, the tree selection and SelectedNode
// back to where they were when it opened, so what the selector shows is
// always what it holds.
class TfcCustomTreeCombo : public TfcCustomCombo {
    Q_OBJECT

public:
    explicit TfcCustomTreeCombo(QWidget* parent = nullptr);
    ~TfcCustomTreeCombo() override;

    // The tree's nodes are TfcTreeComboTreeNode objects. Replace them only
    // while nothing is chosen: the choice points into them.
    [[nodiscard]] TfcTreeNodes& Items() noexcept { return m_items; }
    [[nodiscard]] const TfcTreeNodes& Items() const noexcept { return m_items; }

    [[nodiscard]] TfcTreeNode* SelectedNode() const noexcept { return m_selectedNode; }
    // Makes `node` the choice as a user action does: the text follows,
    // OnSelectionChange fires and the modified flag is set.
    void SetSelectedNode(TfcTreeNode* node);
    // Deletes `node` and its subtree from Items. A choice inside it is
    // dropped (no node chosen, the text kept); an open popup closes first.
    void DeleteNode(TfcTreeNode* node);
    [[nodiscard]] TfcTreeNode* DropDownStartNode() const noexcept { return m_dropDownStartNode; }
    [[nodiscard]] const QString& DropDownStartText() const noexcept { return m_dropDownStartText; }
    [[nodiscard]] TfcTreeNode* TreeSelection() const;

    [[nodiscard]] TfcTreeComboOptions Options() const noexcept { return m_options; }
    void SetOptions(TfcTreeComboOptions options);
    // Typed text is completed with the found node's text, the completion selected.
    [[nodiscard]] bool ShowMatchText() const noexcept { return m_showMatchText; }
    void SetShowMatchText(bool show) noexcept { m_showMatchText = show; }

    [[nodiscard]] TfcPopupTreeView* TreeView() const noexcept { return m_view; }
    [[nodiscard]] bool IsChoosable(TfcTreeNode* node) const { return m_rules.IsChoosable(node); }

    // Matches the text to a node, remembers where the drop-down started,
    // expands the tree and shows it.
    void DropDown() override;
    // Accepting keeps a changed choice and shows its text; cancelling, or
    // accepting when nothing moved, puts everything back.
    void CloseUp(bool accept) override;

    std::function<void(TfcCustomTreeCombo*, TfcTreeNode*)> OnSelectionChange;
    // Gets the verdict of the choosable rule and may change it.
    std::function<void(TfcCustomTreeCombo*, TfcTreeNode*, bool& valid)> OnCheckValidItem;

protected:
    [[nodiscard]] QRect PopupGeometry() const override;
    bool MoveKey(QKeyEvent* event) override;
    void SearchKey(QChar typed) override;
    void WidenCompletion() override;
    void PressInPopup(QWidget* target) override;

private:
    friend class TfcPopupTreeView;

    // From the tree view.
    void TreeSelectionChanged(TfcTreeNode* node);
    void PickFromPopup(TfcTreeNode* node, bool accept);
    void DragStep(int step);

    // Makes `node` the choice as a user action does.
    void ChooseByUser(TfcTreeNode* node);
    void NotifyChoiceChanged(const TfcTreeNode* before, const QString& textBefore);
    [[nodiscard]] int PageRows() const;

    TfcTreeNodes m_items;
    TreeComboRules m_rules;
    TfcPopupPanel* m_panel;
    TfcPopupTreeView* m_view;
    TfcTreeNode* m_selectedNode = nullptr;
    TfcTreeNode* m_dropDownStartNode = nullptr;
    QString m_dropDownStartText;
    TfcTreeComboOptions m_options = icoExpanded;
    bool m_showMatchText = false;
    bool m_editing = false;
};

}  // namespace boards
