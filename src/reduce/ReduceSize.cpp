#include "ReduceSize.h"

#include <cfenv>
#include <cmath>

namespace reduce {

namespace {

// The threshold value that switches on keeping small pictures.
constexpr int32_t kKeepThreshold = 640;

// Round-to-nearest for the lifetime of the object, with traps held off; the
// caller's environment, flags included, comes back afterwards.
class NearestRounding {
public:
    NearestRounding() noexcept
    {
        std::feholdexcept(&m_saved);
        std::fesetround(FE_TONEAREST);
    }
    ~NearestRounding() { std::fesetenv(&m_saved); }
    NearestRounding(const NearestRounding&) = delete;
    NearestRounding& operator=(const NearestRounding&) = delete;

private:
    std::fenv_t m_saved{};
};

// nearest(side × (numerator / denominator)), low 32 bits; a thin strip is
// still a picture, so a side rounded away keeps one pixel instead of failing
// later as an empty image.
int32_t Scaled(int32_t side, int32_t numerator, int32_t denominator) noexcept
{
    long double product = 0;
    {
        const NearestRounding nearest;
        const long double factor =
            static_cast<long double>(numerator) / static_cast<long double>(denominator);
        product = std::nearbyint(static_cast<long double>(side) * factor);
    }
    // Only a side of 0 divides by zero; it has no other side to scale.
    if (!std::isfinite(product))
        return 1;
    // |side × factor| stays below 2^62, so the conversion is exact.
    const auto wide = static_cast<uint64_t>(static_cast<int64_t>(product));
    const auto low = static_cast<int32_t>(static_cast<uint32_t>(wide));
    return low == 0 ? 1 : low;
}

}  // namespace

SizeClass ClassOf(int32_t width, int32_t height, int32_t threshold) noexcept
{
    SizeClass sizeClass = width > height ? SizeClass::Landscape : SizeClass::Portrait;
    if (width == height)
        sizeClass = SizeClass::Square;
    if (threshold == 0)
        sizeClass = SizeClass::WidthFit;
    if (threshold == kKeepThreshold) {
        if (sizeClass == SizeClass::Landscape && width < kKeepThreshold)
            sizeClass = SizeClass::Keep;
        else if (sizeClass == SizeClass::Portrait && height < kKeepThreshold)
            sizeClass = SizeClass::Keep;
    }
    return sizeClass;
}

Size ReduceSize(int32_t width, int32_t height, int32_t target, int32_t threshold) noexcept
{
    int32_t outWidth = 0;
    int32_t outHeight = 0;
    switch (ClassOf(width, height, threshold)) {
    case SizeClass::Keep:
        outWidth = width;
        outHeight = height;
        break;
    case SizeClass::WidthFit:
    case SizeClass::Landscape:
        outWidth = target;
        outHeight = Scaled(height, target, width);
        break;
    case SizeClass::Square:
        outWidth = target;
        outHeight = target;
        break;
    case SizeClass::Portrait:
        outWidth = Scaled(width, target, height);
        outHeight = target;
        break;
    }
    return {outWidth, outHeight};
}

}  // namespace reduce
