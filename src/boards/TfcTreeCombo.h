#pragma once

#include "TfcCustomTreeCombo.h"

namespace boards {

// The board selector as forms place it: a drop-down list over a tree, the
// text always a node's text.
class TfcTreeCombo : public TfcCustomTreeCombo {
    Q_OBJECT

public:
    using TfcCustomTreeCombo::TfcCustomTreeCombo;
};

}  // namespace boards
