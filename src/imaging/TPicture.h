#pragma once

#include "TBitmap.h"

#include <QImage>
#include <QString>

#include <functional>

namespace imaging {

// The graphic a preview control shows: nothing, a bitmap, an icon or a
// metafile. Every change calls OnChange (when set), as the control repaints
// and resets its view from there.
class TPicture {
public:
    enum class Kind { None, Bitmap, Icon, Metafile };

    [[nodiscard]] Kind GraphicKind() const noexcept { return m_kind; }
    [[nodiscard]] bool HasGraphic() const noexcept { return m_kind != Kind::None; }
    [[nodiscard]] int Width() const noexcept;
    [[nodiscard]] int Height() const noexcept;

    // The bitmap graphic. Asking for it when the picture holds something else
    // (or nothing) makes the picture an empty bitmap first, as the toolkit's
    // picture does; that is a change.
    [[nodiscard]] TBitmap& Bitmap();
    [[nodiscard]] const TBitmap* BitmapOrNull() const noexcept;
    // Replaces the graphic with a copy of `bitmap`; a change.
    void SetBitmap(const TBitmap& bitmap);
    // The icon or metafile as drawn at its own size.
    [[nodiscard]] const QImage& Drawing() const noexcept { return m_drawing; }

    // ".ICO" (any image Qt's plug-ins read) or ".WMF"; raises
    // platform::Exception with a clear message when the file cannot be read
    // or the format is not supported. A change on success.
    void LoadFromFile(const QString& fileName);
    // No graphic; a change.
    void Clear();
    // Copies another picture's graphic; a change.
    void Assign(const TPicture& other);
    // Call after changing the bitmap's pixels in place.
    void Changed();

    std::function<void()> OnChange;

private:
    Kind m_kind = Kind::None;
    TBitmap m_bitmap;
    QImage m_drawing;
};

}  // namespace imaging
