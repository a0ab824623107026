#pragma once

// Better's sharpening one row at a time, for callers that make the picture a
// few rows at a time.

#include <cstdint>
#include <vector>

namespace isp {

class LineSharpener {
public:
    // Rows `width` pixels wide (24-bit), of which columns [left, right) change.
    LineSharpener(int32_t width, int32_t left, int32_t right, int32_t amount);

    // `rows`: the five rows from two above the one sharpened to two below
    // it, the picture's edge rows repeated past it. Writes columns
    // [left, right) of `out`.
    void Sharpen(const uint8_t* const* rows, uint8_t* out);

private:
    int32_t m_width, m_left, m_right, m_amount;
    std::vector<int32_t> m_down;
    std::vector<uint8_t> m_low, m_high;
};

}  // namespace isp
