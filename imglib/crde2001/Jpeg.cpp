#include "Formats.h"

namespace crde {

int16_t InfoJpeg(const uint8_t*, size_t, ImageInfo&) { return IL_ERR_UNSUPPORTED; }
int16_t ReadJpeg(const uint8_t*, size_t, const Progress&, HDIB*) { return IL_ERR_UNSUPPORTED; }
int16_t WriteJpeg(HDIB, int, int, bool, const Progress&, std::string&) { return IL_ERR_UNSUPPORTED; }

}  // namespace crde
