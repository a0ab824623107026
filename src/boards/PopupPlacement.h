#pragma once

#include <QRect>

namespace boards {

// What the drop-down's size depends on, in pixels.
struct PopupMetrics {
    int rowHeight = 0;
    int nodeCount = 0;
    int dropDownCount = 8;
    int border = 1;              // one edge of the popup's frame
    int widestRow = 0;           // widest visible node text plus its indent
    int fixedDropDownWidth = 0;  // replaces widestRow when set
    int scrollBarWidth = 0;
};

// The popup rectangle for a selector at `selector` (screen coordinates) on a
// screen `screen`: rows × row height + both borders tall (the selector's own
// height for an empty tree), at least as wide as the selector, below it,
// right-aligned with it when it would leave the screen on the right, and
// above it when it would leave the screen at the bottom.
[[nodiscard]] QRect PlacePopup(const QRect& selector, const QRect& screen, const PopupMetrics& metrics);

}  // namespace boards
