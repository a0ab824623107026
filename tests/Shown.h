#pragma once

// What a preview control shows.

#include "imaging/TBitmap.h"
#include "preview/TPMultiImage.h"

#include <QImage>

namespace testfiles {

// The control's picture; a null image while it has none.
inline const QImage& Shown(preview::TPMultiImage& control)
{
    static const QImage none;
    const imaging::TBitmap* bitmap = control.Picture().BitmapOrNull();
    return bitmap ? bitmap->Handle() : none;
}

}  // namespace testfiles
