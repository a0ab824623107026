#include "Formats.h"

namespace crde {

int16_t InfoTiff(const uint8_t*, size_t, int, ImageInfo&) { return IL_ERR_UNSUPPORTED; }
int16_t ReadTiff(const uint8_t*, size_t, int, const Progress&, HDIB*) { return IL_ERR_UNSUPPORTED; }

}  // namespace crde
