#include "TBitmap.h"

namespace imaging {

QList<QRgb> TBitmap::Palette() const
{
    return m_palette.isEmpty() ? m_image.colorTable() : m_palette;
}

void TBitmap::Clear()
{
    m_image = QImage();
    m_palette.clear();
}

}  // namespace imaging
