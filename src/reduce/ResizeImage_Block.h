#pragma once

#include "preview/TPMultiImage.h"

#include <QString>
#include <QWidget>

#include <cstdint>

namespace reduce {

// Writes the picture of `source` as a JPEG file `outputFile`, sized by
// ReduceSize(width, height, target, threshold), sharpened by `amount` and
// saved with quality `quality & 0xFF`.
//
// The source control's picture is only read, except that a picture holding
// an icon or metafile is taken as a bitmap and so becomes an empty one (a
// change it is told of). The unsharpened scaled copy is left on the imaging
// layer's undo store. Pending events are processed three times during the
// call, so handlers may run inside it.
//
// `owner` is the window the call works for. The temporary control is not
// given it as a parent: events run during the call could then delete the
// control under us. It is deleted before the call returns, also on error.
//
// Raises imaging::ErrorInvalid "Input image is empty" when the source has no
// pixels or the scaling yields none; nothing is written then. A failed write
// is not reported: look for the file. GUI thread only.
void ResizeImage_Block(QWidget* owner, preview::TPMultiImage& source, int32_t target,
                       int32_t threshold, int32_t quality, int32_t amount,
                       const QString& outputFile);

}  // namespace reduce
