#include "TfcCustomTreeCombo.h"

#include "NodeMatching.h"
#include "PopupPlacement.h"
#include "TfcPopupTreeView.h"
#include "TfcTreeComboTreeNode.h"

#include <QKeyEvent>
#include <QScreen>
#include <QStyle>

#include <optional>

namespace boards {

TfcCustomTreeCombo::TfcCustomTreeCombo(QWidget* parent)
    : TfcCustomCombo(parent),
      m_items([](TfcTreeNodes* owner) { return std::make_unique<TfcTreeComboTreeNode>(owner); }),
      m_rules(m_items),
      m_panel(new TfcPopupPanel(this)),
      m_view(new TfcPopupTreeView(this, m_panel))
{
    m_panel->SetContent(m_view);
    m_panel->setFont(font());
    SetPopup(m_panel);
    m_rules.OnCheckValidItem = [this](TfcTreeNode* node, bool& valid) {
        if (OnCheckValidItem)
            OnCheckValidItem(this, node, valid);
    };
}

TfcCustomTreeCombo::~TfcCustomTreeCombo() = default;

TfcTreeNode* TfcCustomTreeCombo::TreeSelection() const
{
    return m_view->Selected();
}

void TfcCustomTreeCombo::SetOptions(TfcTreeComboOptions options)
{
    m_options = options;
    m_rules.SetEndNodesOnly(options.testFlag(icoEndNodesOnly));
}

void TfcCustomTreeCombo::DropDown()
{
    m_view->ResetMouse();
    m_panel->setFont(font());
    m_view->SetSelected(MatchTextToNode(m_items, m_view->Selected(), Text()));
    m_dropDownStartNode = m_view->Selected();
    m_dropDownStartText = Text();
    m_selectedNode = m_dropDownStartNode;

    if (m_options.testFlag(icoExpanded)) {
        for (int i = 0; i < m_items.Count(); ++i)
            m_items.Item(i)->ExpandAll();
    }
    m_view->Relayout();
    const int border = m_panel->lineWidth();
    m_view->SetVisibleRows((PopupGeometry().height() - 2 * border) / m_view->RowHeight());
    if (!Text().isEmpty() && m_selectedNode) {
        m_view->MakeVisible(m_selectedNode);
    } else if (m_items.Count() > 0) {
        // Leaves the tree at the top with nothing highlighted.
        m_view->SetSelected(m_items.Item(0));
        m_view->SetSelected(nullptr);
        m_view->ScrollToTop();
    }
    TfcCustomCombo::DropDown();
}

void TfcCustomTreeCombo::CloseUp(bool accept)
{
    const bool wasOpen = DroppedDown();
    TfcCustomCombo::CloseUp(accept);
    if (wasOpen) {
        if (accept && m_selectedNode != m_dropDownStartNode && !ReadOnly()) {
            m_editing = true;
            if (m_selectedNode) {
                SetText(m_selectedNode->Text());
                SetModified(true);
            }
            if (OnSelectionChange)
                OnSelectionChange(this, m_selectedNode);
            m_editing = false;
            SetModified(true);
        } else {
            const TfcTreeNode* before = m_selectedNode;
            m_view->SetSelected(m_dropDownStartNode);
            SetText(m_dropDownStartNode ? m_dropDownStartNode->Text() : m_dropDownStartText);
            // The choice goes back too: a cancelled selector must not post
            // to a board other than the one it shows.
            m_selectedNode = m_dropDownStartNode;
            if (m_selectedNode != before && OnSelectionChange)
                OnSelectionChange(this, m_selectedNode);
        }
        selectAll();
        if (OnCloseUp)
            OnCloseUp(this, accept);
    }
    m_view->StopDragTimer();
}

QRect TfcCustomTreeCombo::PopupGeometry() const
{
    PopupMetrics metrics;
    metrics.rowHeight = m_view->RowHeight();
    metrics.nodeCount = static_cast<int>(m_items.AllNodes().size());
    metrics.dropDownCount = DropDownCount();
    metrics.border = m_panel->lineWidth();
    metrics.widestRow = m_view->WidestRow();
    metrics.fixedDropDownWidth = DropDownWidth();
    metrics.scrollBarWidth = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, m_view);
    const QRect selector(mapToGlobal(QPoint(0, 0)), size());
    const QScreen* shown = screen();
    const QRect area = shown ? shown->availableGeometry() : QRect(selector.topLeft(), QSize(1 << 20, 1 << 20));
    return PlacePopup(selector, area, metrics);
}

int TfcCustomTreeCombo::PageRows() const
{
    return std::max(PopupGeometry().height() / m_view->RowHeight(), 1);
}

bool TfcCustomTreeCombo::MoveKey(QKeyEvent* event)
{
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    const bool ends = !DroppedDown() || ctrl;
    std::optional<TreeComboMove> move;
    switch (event->key()) {
    case Qt::Key_Up:
        move = TreeComboMove::Up;
        break;
    case Qt::Key_Down:
        move = TreeComboMove::Down;
        break;
    case Qt::Key_PageUp:
        move = TreeComboMove::PageUp;
        break;
    case Qt::Key_PageDown:
        move = TreeComboMove::PageDown;
        break;
    case Qt::Key_Home:
        if (ends)
            move = TreeComboMove::Home;
        break;
    case Qt::Key_End:
        if (ends)
            move = TreeComboMove::End;
        break;
    default:
        break;
    }
    if (!move)
        return false;
    if (!ReadOnly()) {
        ChooseByUser(m_rules.Move(m_view->Selected(), *move, DroppedDown(), PageRows()));
        if (DroppedDown())
            m_view->MakeVisible(m_view->Selected());
    }
    selectAll();
    return true;
}

void TfcCustomTreeCombo::SetSelectedNode(TfcTreeNode* node)
{
    if (DroppedDown())
        CloseUp(false);
    ChooseByUser(node);
    selectAll();
}

void TfcCustomTreeCombo::DeleteNode(TfcTreeNode* node)
{
    if (!node)
        return;
    if (DroppedDown())
        CloseUp(false);
    const auto inside = [node](const TfcTreeNode* other) {
        for (; other; other = other->Parent()) {
            if (other == node)
                return true;
        }
        return false;
    };
    if (inside(m_view->Selected())) {
        // Not a move of the choice: the selection only forgets the node.
        const bool editing = m_editing;
        m_editing = false;
        m_view->SetSelected(nullptr);
        m_editing = editing;
    }
    if (inside(m_selectedNode))
        m_selectedNode = nullptr;
    if (inside(m_dropDownStartNode))
        m_dropDownStartNode = nullptr;
    m_items.Delete(node);
    m_view->Relayout();
}

void TfcCustomTreeCombo::ChooseByUser(TfcTreeNode* node)
{
    const TfcTreeNode* before = m_selectedNode;
    const QString textBefore = Text();
    m_editing = true;
    if (node != m_view->Selected())
        m_view->SetSelected(node);
    else
        TreeSelectionChanged(node);  // hovered, not yet chosen
    m_editing = false;
    NotifyChoiceChanged(before, textBefore);
}

void TfcCustomTreeCombo::NotifyChoiceChanged(const TfcTreeNode* before, const QString& textBefore)
{
    if (m_selectedNode == before && Text() == textBefore)
        return;
    if (OnSelectionChange)
        OnSelectionChange(this, m_selectedNode);
    SetModified(true);
}

void TfcCustomTreeCombo::TreeSelectionChanged(TfcTreeNode* node)
{
    if (!m_editing)
        return;
    m_selectedNode = node;
    if (node)
        SetText(node->Text());
}

void TfcCustomTreeCombo::SearchKey(QChar typed)
{
    if (m_items.Count() == 0 || !(m_showMatchText || DroppedDown()) || ReadOnly())
        return;
    const int start = hasSelectedText() ? selectionStart() : cursorPosition();
    const int length = hasSelectedText() ? static_cast<int>(selectedText().size()) : 0;
    const QString candidate = TreeComboRules::SearchCandidate(Text(), start, length, typed);
    TfcTreeNode* hit = m_rules.Search(m_view->Selected(), candidate);
    if (!hit)
        return;
    const TfcTreeNode* before = m_selectedNode;
    const QString textBefore = Text();
    m_view->SetSelected(hit);
    m_selectedNode = hit;
    SetText(hit->Text());
    // The completion is selected, so the next character replaces it.
    const int completion = static_cast<int>(Text().size() - candidate.size());
    setSelection(static_cast<int>(Text().size()), -completion);
    if (DroppedDown())
        m_view->MakeVisible(hit);
    NotifyChoiceChanged(before, textBefore);
}

void TfcCustomTreeCombo::WidenCompletion()
{
    if (!m_showMatchText)
        return;
    const int start = hasSelectedText() ? selectionStart() : cursorPosition();
    if (start <= 0)
        return;
    const int end = static_cast<int>(Text().size());
    setSelection(end, -(end - (start - 1)));
}

void TfcCustomTreeCombo::PressInPopup(QWidget* target)
{
    if (target != m_view->viewport())
        m_view->PressedOutsideList();
}

void TfcCustomTreeCombo::PickFromPopup(TfcTreeNode* node, bool accept)
{
    m_view->SetSelected(node);
    m_selectedNode = m_view->Selected();
    CloseUp(accept);
}

void TfcCustomTreeCombo::DragStep(int step)
{
    const TreeComboMove move = step < 0 ? TreeComboMove::Up : TreeComboMove::Down;
    ChooseByUser(m_rules.Move(m_view->Selected(), move, true, 1));
    m_view->MakeVisible(m_view->Selected());
}

}  // namespace boards
