#pragma once

#include <QImage>
#include <QList>
#include <QRgb>

namespace imaging {

// The bitmap object of the DIB conversions: a QImage as its handle (1- or
// 8-bit indexed with the colour table as its palette, 24-bit RGB888, 32-bit)
// and an optional palette. A null QImage is a bitmap without a handle.
// Copies share the pixels until one of them changes them.
class TBitmap {
public:
    TBitmap() = default;
    explicit TBitmap(QImage image) : m_image(std::move(image)) {}

    [[nodiscard]] bool HandleAllocated() const noexcept { return !m_image.isNull(); }
    [[nodiscard]] const QImage& Handle() const noexcept { return m_image; }
    void SetHandle(QImage image) { m_image = std::move(image); }

    // The palette set with SetPalette, else the handle's colour table.
    [[nodiscard]] QList<QRgb> Palette() const;
    void SetPalette(QList<QRgb> palette) { m_palette = std::move(palette); }

    [[nodiscard]] int Width() const noexcept { return m_image.width(); }
    [[nodiscard]] int Height() const noexcept { return m_image.height(); }

    // No handle, no palette.
    void Clear();

private:
    QImage m_image;
    QList<QRgb> m_palette;
};

}  // namespace imaging
