#pragma once

// Node lists whose nodes are the tree combo's own, as its catalogue is.

#include "boards/TfcTreeComboTreeNode.h"
#include "boards/TfcTreeNodes.h"

#include <memory>

namespace testfiles {

inline boards::TfcTreeNodes::NodeFactory ComboNodes()
{
    return [](boards::TfcTreeNodes* owner) { return std::make_unique<boards::TfcTreeComboTreeNode>(owner); };
}

}  // namespace testfiles
