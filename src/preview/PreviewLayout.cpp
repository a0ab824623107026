#include "PreviewLayout.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace preview {

int Trunc(double value) noexcept
{
    if (std::isnan(value))
        return 0;
    // A zero scale or a huge control must not make the conversion undefined.
    constexpr double lowest = std::numeric_limits<int>::min();
    constexpr double highest = std::numeric_limits<int>::max();
    return static_cast<int>(std::clamp(std::trunc(value), lowest, highest));
}

Overflow OverflowOf(const ViewGeometry& view) noexcept
{
    const bool wide = view.controlWidth < Trunc(view.pictureWidth * view.scale);
    const bool tall = view.controlHeight < Trunc(view.pictureHeight * view.scale);
    if (wide && tall)
        return Overflow::Both;
    if (wide)
        return Overflow::WidthOnly;
    if (tall)
        return Overflow::HeightOnly;
    return Overflow::None;
}

ScrollPlacement PlaceScrolling(const ViewGeometry& view, bool center, bool showScrollbars,
                               int scrollbarWidth) noexcept
{
    const int W = view.controlWidth;
    const int H = view.controlHeight;
    const int w = view.pictureWidth;
    const int h = view.pictureHeight;
    const double z = view.scale;
    const int shownWidth = Trunc(w * z);
    const int shownHeight = Trunc(h * z);

    ScrollPlacement p;
    p.overflow = OverflowOf(view);
    if (p.overflow == Overflow::None) {
        p.source = {0, 0, w, h};
        p.destination = {0, 0, shownWidth, shownHeight};
        if (center) {
            p.offsetX = Half(W - shownWidth);
            p.offsetY = Half(H - shownHeight);
        }
    } else {
        const int s = showScrollbars ? scrollbarWidth : 0;
        p.reserved = showScrollbars;
        p.reservedWidth = s;
        switch (p.overflow) {
        case Overflow::Both:
            p.source = {view.originX, view.originY, Trunc((W - s) / z), Trunc((H - s) / z)};
            p.destination = {0, 0, W - s, H - s};
            break;
        case Overflow::WidthOnly:
            p.source = {view.originX, view.originY, Trunc((W - s) / z), h};
            p.destination = {0, 0, W - s, shownHeight};
            if (center)
                p.offsetY = Half(H - shownHeight);
            break;
        case Overflow::HeightOnly:
            p.source = {view.originX, view.originY, w, Trunc((H - s) / z)};
            p.destination = {0, 0, shownWidth, H - s};
            if (center)
                p.offsetX = Half(W - shownWidth);
            break;
        case Overflow::None:
            break;
        }
    }
    p.destination.x += p.offsetX;
    p.destination.y += p.offsetY;
    return p;
}

Box PlacePlain(int controlWidth, int controlHeight, int pictureWidth, int pictureHeight,
               bool center) noexcept
{
    if (!center)
        return {0, 0, pictureWidth, pictureHeight};
    return {Half(controlWidth - pictureWidth), Half(controlHeight - pictureHeight), pictureWidth,
            pictureHeight};
}

namespace {

// The range a bar covers along one direction and where it stands in it.
void Range(int picture, int control, int origin, double z, int b, int& max, int& position)
{
    max = std::max(0, Trunc(picture * z - control + b));
    position = max == 0 ? 0 : std::min(Trunc(origin * z), max);
}

}  // namespace

BarLayout LayOutBars(const ViewGeometry& view, const BarConditions& c, int b) noexcept
{
    BarLayout layout;
    layout.shown = c.hasGraphic && !c.stretch && !c.stretchRatio && c.handleAllocated &&
                   Overflows(view) && c.scrolling && c.showScrollbars;
    if (!layout.shown)
        return layout;

    const int W = view.controlWidth;
    const int H = view.controlHeight;
    layout.vertical = {W - b, 1, b, H - b - 1};
    layout.horizontal = {1, H - b, W - b - 1, b};
    layout.corner = {W - b, H - b, b, b};
    Range(view.pictureWidth, W, view.originX, view.scale, b, layout.horizontalMax,
          layout.horizontalPosition);
    Range(view.pictureHeight, H, view.originY, view.scale, b, layout.verticalMax,
          layout.verticalPosition);
    return layout;
}

int OriginForPosition(int position, double scale) noexcept
{
    return scale > 0 ? Trunc(position / scale) : 0;
}

namespace {

int PullBackOne(int control, int picture, int origin, double z)
{
    if (!(control < picture * z))
        return origin;
    const int gap = Trunc(control - (picture - origin) * z);
    if (gap <= 0)
        return origin;
    // At a fractional scale the extra pixel can step past the left edge.
    return std::max(0, Trunc(origin - gap / z) - 1);
}

}  // namespace

Origin PullBack(const ViewGeometry& view) noexcept
{
    if (view.scale <= 0)
        return {view.originX, view.originY};
    return {PullBackOne(view.controlWidth, view.pictureWidth, view.originX, view.scale),
            PullBackOne(view.controlHeight, view.pictureHeight, view.originY, view.scale)};
}

double FittingScale(int controlWidth, int controlHeight, int pictureWidth, int pictureHeight,
                    double current) noexcept
{
    if (pictureWidth <= 0 || pictureHeight <= 0)
        return current;
    const double across = static_cast<double>(controlWidth) / pictureWidth;
    const double down = static_cast<double>(controlHeight) / pictureHeight;
    return down < across ? down : across;
}

int PanAxis(int origin, int delta, int control, int picture, double scale, int reserved) noexcept
{
    int step = Trunc(delta / scale);
    if (delta != 0 && step == 0)
        step = delta > 0 ? 1 : -1;
    if (origin + step < 0 || control > picture * scale)
        return 0;
    if (control - reserved > (picture - step - origin) * scale)
        return picture - Trunc((control - reserved) / scale);
    return origin + step;
}

BandCorner BandCornerFor(int anchorX, int anchorY, int x, int y, int width, int height) noexcept
{
    const double dx = x - anchorX;
    const double dy = y - anchorY;
    const double distance = std::sqrt(dx * dx + dy * dy);
    const double k = width > 0 ? static_cast<double>(height) / width : 0.0;
    const double across = distance / std::sqrt(k * k + 1.0);
    const double down = k * distance / std::sqrt(k * k + 1.0);
    int sx = 1, sy = 1;
    if (dx >= 0 && dy >= 0) {
        sx = 1, sy = 1;
    } else if (dx <= 0 && dy >= 0) {
        sx = -1, sy = 1;
    } else if (dx <= 0 && dy <= 0) {
        sx = -1, sy = -1;
    } else {
        sx = 1, sy = -1;
    }
    return {anchorX + Trunc(sx * across), anchorY + Trunc(sy * down)};
}

}  // namespace preview
