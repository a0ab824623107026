#include "PopupPlacement.h"

#include <algorithm>

namespace boards {

QRect PlacePopup(const QRect& selector, const QRect& screen, const PopupMetrics& metrics)
{
    const int rows = std::min(metrics.dropDownCount, metrics.nodeCount);
    const int inner = metrics.nodeCount > 0 ? metrics.rowHeight * rows : selector.height();
    const int height = inner + 2 * metrics.border;
    const int content = metrics.fixedDropDownWidth > 0 ? metrics.fixedDropDownWidth : metrics.widestRow;
    const int width = std::max(selector.width(),
                               2 * metrics.border + content + 6 + 2 * metrics.scrollBarWidth);

    int left = selector.left();
    if (left + width > screen.right() + 1)
        left = selector.right() + 1 - width;
    int top = selector.bottom() + 1;
    if (top + height > screen.bottom() + 1)
        top = selector.top() - height;
    return {left, top, width, height};
}

}  // namespace boards
