#pragma once

#include <cstdint>

namespace reduce {

// Pixels; no Qt here, so that snimkorez-reduce needs none.
struct Size {
    int32_t width = 0;
    int32_t height = 0;
    friend bool operator==(const Size&, const Size&) = default;
};

// How a picture is brought to the target size.
enum class SizeClass { Keep, WidthFit, Landscape, Square, Portrait };

// The class of a width × height picture under `threshold`: 0 fits every
// picture by its width; exactly 640 keeps landscape pictures narrower and
// portrait pictures lower than 640; any other value changes nothing.
[[nodiscard]] SizeClass ClassOf(int32_t width, int32_t height, int32_t threshold) noexcept;

// The output size of a width × height picture (pixels). The fitted side
// becomes `target`; the other is scaled by target / fitted side in x87
// extended precision, rounded to nearest with ties to even whatever rounding
// mode the caller has set (the caller's floating-point environment is put
// back), and cut to its low 32 bits. A scaled side that comes out 0 (a
// 5000 × 1 strip, or a source side of 0) is 1. Never fails.
[[nodiscard]] Size ReduceSize(int32_t width, int32_t height, int32_t target,
                              int32_t threshold) noexcept;

}  // namespace reduce
