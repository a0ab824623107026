#pragma once

// How sharp a picture is, for the tests of sharpening.

#include <QImage>

namespace quality {

// Sum of the squared differences between neighbouring pixels of the grey
// picture: steeper edges raise it, even when sharpening adds no overshoot.
inline double EdgeEnergy(const QImage& image)
{
    const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
    double sum = 0;
    for (int y = 0; y < grey.height(); ++y) {
        const uchar* row = grey.constScanLine(y);
        for (int x = 1; x < grey.width(); ++x)
            sum += (row[x] - row[x - 1]) * (row[x] - row[x - 1]);
    }
    return sum;
}

}  // namespace quality
