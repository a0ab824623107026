#include "Formats.h"

namespace crde {

int16_t InfoBmp(const uint8_t*, size_t, ImageInfo&) { return IL_ERR_UNSUPPORTED; }
int16_t ReadBmp(const uint8_t*, size_t, const Progress&, HDIB*) { return IL_ERR_UNSUPPORTED; }

}  // namespace crde
