#pragma once

#include <QString>
#include <functional>

namespace boards {

class TfcTreeNode;
class TfcTreeNodes;

enum class TreeComboMove { Up, Down, PageUp, PageDown, Home, End };

// The board selector's choice rules, without a window: which nodes may be
// chosen, where the movement keys lead, and what typed text finds. The
// selector widget maps keys onto these calls and shows the result.
class TreeComboRules {
public:
    explicit TreeComboRules(const TfcTreeNodes& nodes) : m_nodes(nodes) {}

    // Only leaves may be chosen (icoEndNodesOnly).
    [[nodiscard]] bool EndNodesOnly() const noexcept { return m_endNodesOnly; }
    void SetEndNodesOnly(bool endNodesOnly) noexcept { m_endNodesOnly = endNodesOnly; }

    // Gets the verdict and may change it.
    std::function<void(TfcTreeNode* node, bool& valid)> OnCheckValidItem;

    // Selectable, a leaf when only leaves count, and whatever OnCheckValidItem says.
    [[nodiscard]] bool IsChoosable(TfcTreeNode* node) const;

    // Where a movement key takes the choice from the tree selection `current`.
    // Closed, Up/Down walk every node and End goes to the last node; open,
    // they see only the visible nodes. Page keys move `pageRows` visible rows,
    // stopping at either end. Home is the first root. A node that may not be
    // chosen is passed over in the key's direction (Up, Page Up and End go
    // upwards); when nothing choosable is left, `current` is returned. With no
    // selection, every key but Page Down and End goes to the first root.
    [[nodiscard]] TfcTreeNode* Move(TfcTreeNode* current, TreeComboMove move, bool open,
                                    int pageRows) const;

    // The first choosable node, in pre-order from `start` (tried first; the
    // first node when null) round to the node before it, whose Text begins
    // with `candidate` when only a..z are upper-cased. Null when none does.
    [[nodiscard]] TfcTreeNode* Search(TfcTreeNode* start, const QString& candidate) const;

    // The text a typed character searches for: it replaces the edit's selection.
    [[nodiscard]] static QString SearchCandidate(const QString& text, int selectionStart,
                                                 int selectionLength, QChar typed);

private:
    const TfcTreeNodes& m_nodes;
    bool m_endNodesOnly = false;
};

}  // namespace boards
