#pragma once

#include <QString>

namespace boards {

class TfcTreeNode;
class TfcTreeNodes;

// The node a selector's text stands for, given the node selected now:
// the selection itself when its Text equals `text` exactly; otherwise, when
// some node matches under full (Cyrillic-aware) upper-casing, the first node
// in pre-order that matches with only a..z upper-cased; otherwise none.
// So a stored name that differs from a node only in the case of Cyrillic
// letters selects nothing.
[[nodiscard]] TfcTreeNode* MatchTextToNode(const TfcTreeNodes& nodes, TfcTreeNode* selection,
                                           const QString& text);

[[nodiscard]] QString AsciiUpper(const QString& text);

}  // namespace boards
