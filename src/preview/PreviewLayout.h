#pragma once

// The preview control's display arithmetic, without a widget.

namespace preview {
}  // namespace preview
