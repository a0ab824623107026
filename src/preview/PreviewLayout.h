#pragma once

// The preview control's display arithmetic, without a widget: which part of
// the picture goes where, where the scroll bars sit and what they range over.
// Sizes are in pixels; every conversion from floating point truncates toward
// zero and halving rounds toward zero.

#include <cstdint>

namespace preview {

struct Box {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    [[nodiscard]] int Right() const noexcept { return x + width; }
    [[nodiscard]] int Bottom() const noexcept { return y + height; }
    [[nodiscard]] bool IsEmpty() const noexcept { return width <= 0 || height <= 0; }
    friend bool operator==(const Box&, const Box&) = default;
};

// Truncation toward zero that saturates at the int range; NaN gives 0.
[[nodiscard]] int Trunc(double value) noexcept;
// Whole-number halving toward zero.
[[nodiscard]] constexpr int Half(int value) noexcept { return value / 2; }

// The control's size and the view of a picture in the scrolling mode.
struct ViewGeometry {
    int controlWidth = 0;   // W
    int controlHeight = 0;  // H
    int pictureWidth = 0;   // w
    int pictureHeight = 0;  // h
    double scale = 1.0;     // z
    int originX = 0;        // x0
    int originY = 0;        // y0
};

enum class Overflow { None, Both, WidthOnly, HeightOnly };

// W < trunc(w·z), H < trunc(h·z), or both.
[[nodiscard]] Overflow OverflowOf(const ViewGeometry& view) noexcept;
[[nodiscard]] inline bool Overflows(const ViewGeometry& view) noexcept
{
    return OverflowOf(view) != Overflow::None;
}

// What one paint in the scrolling mode copies, and where.
struct ScrollPlacement {
    Overflow overflow = Overflow::None;
    Box source;       // picture pixels
    Box destination;  // control pixels, centring offsets included
    int offsetX = 0;  // centring offsets (0 unless centred)
    int offsetY = 0;
    bool reserved = false;  // the scroll-bar strip is kept free
    int reservedWidth = 0;  // s: the strip's thickness, 0 when not reserved
};

[[nodiscard]] ScrollPlacement PlaceScrolling(const ViewGeometry& view, bool center,
                                             bool showScrollbars, int scrollbarWidth) noexcept;

// The top-left of a w × h picture copied 1:1 without scrolling.
[[nodiscard]] Box PlacePlain(int controlWidth, int controlHeight, int pictureWidth,
                             int pictureHeight, bool center) noexcept;

// What decides whether the scroll bars are shown, besides the overflow.
struct BarConditions {
    bool hasGraphic = false;
    bool stretch = false;
    bool stretchRatio = false;
    bool handleAllocated = false;
    bool scrolling = false;
    bool showScrollbars = false;
};

struct BarLayout {
    bool shown = false;
    // Hidden: every box is (-1, -1, -1, -1).
    Box vertical{-1, -1, -1, -1};
    Box horizontal{-1, -1, -1, -1};
    Box corner{-1, -1, -1, -1};
    // Ranges are 0..max; meaningful only when shown.
    int horizontalMax = 0;
    int horizontalPosition = 0;
    int verticalMax = 0;
    int verticalPosition = 0;
};

[[nodiscard]] BarLayout LayOutBars(const ViewGeometry& view, const BarConditions& conditions,
                                   int scrollbarWidth) noexcept;

// The origin coordinate a bar at `position` stands for: trunc(p / z).
[[nodiscard]] int OriginForPosition(int position, double scale) noexcept;

// The origin after the scroll bars are switched off: a picture wider (taller)
// than the control that leaves a gap at its right (bottom) end is pulled
// back to close it. Never negative.
struct Origin {
    int x = 0;
    int y = 0;
    friend bool operator==(const Origin&, const Origin&) = default;
};
[[nodiscard]] Origin PullBack(const ViewGeometry& view) noexcept;

// The scale that fits a w × h picture into the control with its aspect kept:
// min(W / w, H / h). An empty picture keeps `current`.
[[nodiscard]] double FittingScale(int controlWidth, int controlHeight, int pictureWidth,
                                  int pictureHeight, double current) noexcept;

// ---- input -------------------------------------------------------------

// One step of panning along one axis: the new origin after the mouse moved
// `delta` screen pixels (last position less the new one) over a control of
// `control` pixels showing `picture` pixels at `scale`, with `reserved`
// pixels taken by the scroll bar. Every move of a screen pixel moves at
// least one picture pixel; the origin stops at 0 and where the picture's far
// edge meets the bar.
[[nodiscard]] int PanAxis(int origin, int delta, int control, int picture, double scale, int reserved) noexcept;

// The selection band's free corner for a pointer at (x, y): at the pointer's
// distance from the anchor, in the control's aspect (height / width), in the
// pointer's quadrant (right-down, left-down, left-up, right-up, in that order
// of precedence for a pointer straight beside, above or below the anchor).
struct BandCorner {
    int x = 0;
    int y = 0;
    friend bool operator==(const BandCorner&, const BandCorner&) = default;
};
[[nodiscard]] BandCorner BandCornerFor(int anchorX, int anchorY, int x, int y, int width, int height) noexcept;

}  // namespace preview
