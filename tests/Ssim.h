#pragma once

// SSIM as Wang, Bovik, Sheikh and Simoncelli define it: an 11 x 11 Gaussian
// window with sigma 1.5 (weights normalised to 1), K1 = 0.01, K2 = 0.03,
// L = 255, evaluated wherever the window lies wholly inside the picture and
// averaged. Luma is Y' = 0.299 R + 0.587 G + 0.114 B of the 8-bit values,
// rounded, the same formula tests/data/luma.sh uses for the references.

#include <QImage>

#include <cmath>
#include <vector>

namespace quality {

// The sanitizer builds score only a few photos: the quality of the whole set
// is the plain build's to judge.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif
#else
inline constexpr bool kSanitized = false;
#endif

struct Grey {
    int width = 0;
    int height = 0;
    std::vector<double> values;
    [[nodiscard]] double At(int x, int y) const { return values[static_cast<size_t>(y) * width + x]; }
};

inline int Luma(int r, int g, int b)
{
    return (299 * r + 587 * g + 114 * b + 500) / 1000;
}

// A grey picture as it is; a colour one through Luma.
inline Grey FromImage(const QImage& image)
{
    Grey out{image.width(), image.height(), {}};
    out.values.reserve(static_cast<size_t>(out.width) * out.height);
    const bool grey = image.isGrayscale();
    const QImage pixels = image.convertToFormat(grey ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
    for (int y = 0; y < pixels.height(); ++y) {
        const uchar* row = pixels.constScanLine(y);
        for (int x = 0; x < pixels.width(); ++x) {
            const uchar* p = row + (grey ? x : 3 * x);
            out.values.push_back(grey ? p[0] : Luma(p[0], p[1], p[2]));
        }
    }
    return out;
}

// Separable Gaussian over the "valid" region: (w - 10) x (h - 10).
inline std::vector<double> Window(const Grey& a, const std::vector<double>& kernel)
{
    const int r = static_cast<int>(kernel.size()) / 2;
    const int w = a.width - 2 * r;
    const int h = a.height - 2 * r;
    std::vector<double> across(static_cast<size_t>(a.height) * w);
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < w; ++x) {
            double s = 0;
            for (int k = 0; k <= 2 * r; ++k)
                s += kernel[static_cast<size_t>(k)] * a.At(x + k, y);
            across[static_cast<size_t>(y) * w + x] = s;
        }
    std::vector<double> out(static_cast<size_t>(h) * w);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            double s = 0;
            for (int k = 0; k <= 2 * r; ++k)
                s += kernel[static_cast<size_t>(k)] * across[static_cast<size_t>(y + k) * w + x];
            out[static_cast<size_t>(y) * w + x] = s;
        }
    return out;
}

inline double Ssim(const Grey& a, const Grey& b)
{
    std::vector<double> kernel(11);
    double total = 0;
    for (int i = 0; i < 11; ++i)
        total += kernel[static_cast<size_t>(i)] = std::exp(-((i - 5) * (i - 5)) / (2 * 1.5 * 1.5));
    for (double& k : kernel)
        k /= total;
    const auto product = [](const Grey& p, const Grey& q) {
        Grey out{p.width, p.height, p.values};
        for (size_t i = 0; i < out.values.size(); ++i)
            out.values[i] *= q.values[i];
        return out;
    };
    const auto ma = Window(a, kernel), mb = Window(b, kernel);
    const auto saa = Window(product(a, a), kernel), sbb = Window(product(b, b), kernel);
    const auto sab = Window(product(a, b), kernel);
    const double c1 = (0.01 * 255) * (0.01 * 255), c2 = (0.03 * 255) * (0.03 * 255);
    double sum = 0;
    for (size_t i = 0; i < ma.size(); ++i) {
        const double va = saa[i] - ma[i] * ma[i], vb = sbb[i] - mb[i] * mb[i];
        const double cov = sab[i] - ma[i] * mb[i];
        sum += ((2 * ma[i] * mb[i] + c1) * (2 * cov + c2)) /
               ((ma[i] * ma[i] + mb[i] * mb[i] + c1) * (va + vb + c2));
    }
    return sum / static_cast<double>(ma.size());
}

}  // namespace quality
