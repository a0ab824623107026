// Loading a picture by file name.
#include "TPMultiImage.h"

namespace preview {

void TPMultiImage::SetImageName(const QString&) {}

}  // namespace preview
