#include "TreeComboRules.h"

#include "NodeMatching.h"
#include "TfcTreeComboTreeNode.h"
#include "TfcTreeNodes.h"

#include <algorithm>
#include <vector>

namespace boards {

namespace {

bool IsUpward(TreeComboMove move)
{
    return move == TreeComboMove::Up || move == TreeComboMove::PageUp || move == TreeComboMove::End;
}

// Position of `node` in `list`; a node hidden under a collapsed parent counts
// as that parent's row.
std::ptrdiff_t IndexOf(const std::vector<TfcTreeNode*>& list, TfcTreeNode* node)
{
    for (; node; node = node->Parent()) {
        const auto it = std::find(list.begin(), list.end(), node);
        if (it != list.end())
            return it - list.begin();
    }
    return -1;
}

}  // namespace

bool TreeComboRules::IsChoosable(TfcTreeNode* node) const
{
    if (!node)
        return false;
    const auto* combo = dynamic_cast<const TfcTreeComboTreeNode*>(node);
    bool valid = (!combo || combo->Selectable()) && (!m_endNodesOnly || node->Count() == 0);
    if (OnCheckValidItem)
        OnCheckValidItem(node, valid);
    return valid;
}

TfcTreeNode* TreeComboRules::Move(TfcTreeNode* current, TreeComboMove move, bool open,
                                  int pageRows) const
{
    if (m_nodes.Count() == 0)
        return current;
    const bool pageKey = move == TreeComboMove::PageUp || move == TreeComboMove::PageDown;
    const bool visibleOnly = open || pageKey;
    const std::vector<TfcTreeNode*> list = visibleOnly ? m_nodes.VisibleNodes() : m_nodes.AllNodes();
    const auto last = static_cast<std::ptrdiff_t>(list.size()) - 1;
    const std::ptrdiff_t from = IndexOf(list, current);
    pageRows = std::max(pageRows, 1);

    // Without a selection most keys just take the first root.
    const bool toFirstRoot = from < 0 && move != TreeComboMove::PageDown && move != TreeComboMove::End;
    std::ptrdiff_t to = 0;
    if (!toFirstRoot) {
        switch (move) {
        case TreeComboMove::Up:
            to = from - 1;
            break;
        case TreeComboMove::Down:
            to = from + 1;
            break;
        case TreeComboMove::PageUp:
            to = std::max<std::ptrdiff_t>(from - pageRows, 0);
            break;
        case TreeComboMove::PageDown:
            to = std::min<std::ptrdiff_t>(std::max<std::ptrdiff_t>(from, 0) + pageRows, last);
            break;
        case TreeComboMove::Home:
            to = 0;
            break;
        case TreeComboMove::End:
            to = last;
            break;
        }
    }
    const std::ptrdiff_t step = IsUpward(move) && !toFirstRoot ? -1 : 1;
    for (; to >= 0 && to <= last; to += step) {
        if (IsChoosable(list[static_cast<std::size_t>(to)]))
            return list[static_cast<std::size_t>(to)];
    }
    return current;
}

TfcTreeNode* TreeComboRules::Search(TfcTreeNode* start, const QString& candidate) const
{
    const std::vector<TfcTreeNode*> all = m_nodes.AllNodes();
    if (all.empty())
        return nullptr;
    const std::ptrdiff_t found = start ? IndexOf(all, start) : 0;
    const std::size_t first = static_cast<std::size_t>(std::max<std::ptrdiff_t>(found, 0));
    const QString wanted = AsciiUpper(candidate);
    for (std::size_t k = 0; k < all.size(); ++k) {
        TfcTreeNode* node = all[(first + k) % all.size()];
        if (IsChoosable(node) && AsciiUpper(node->Text()).startsWith(wanted))
            return node;
    }
    return nullptr;
}

QString TreeComboRules::SearchCandidate(const QString& text, int selectionStart, int selectionLength,
                                        QChar typed)
{
    return text.left(selectionStart) + typed + text.mid(selectionStart + selectionLength);
}

}  // namespace boards
