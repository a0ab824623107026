#include "Formats.h"

namespace crde {

int16_t InfoGif(const uint8_t*, size_t, ImageInfo&) { return IL_ERR_UNSUPPORTED; }
int16_t ReadGif(const uint8_t*, size_t, const Progress&, HDIB*) { return IL_ERR_UNSUPPORTED; }

}  // namespace crde
