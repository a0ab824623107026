#include "TPicture.h"

#include "platform/Exception.h"

#include <QFileInfo>
#include <QImageReader>

namespace imaging {

int TPicture::Width() const noexcept
{
    switch (m_kind) {
    case Kind::Bitmap:
        return m_bitmap.Width();
    case Kind::Icon:
    case Kind::Metafile:
        return m_drawing.width();
    case Kind::None:
        break;
    }
    return 0;
}

int TPicture::Height() const noexcept
{
    switch (m_kind) {
    case Kind::Bitmap:
        return m_bitmap.Height();
    case Kind::Icon:
    case Kind::Metafile:
        return m_drawing.height();
    case Kind::None:
        break;
    }
    return 0;
}

TBitmap& TPicture::Bitmap()
{
    if (m_kind != Kind::Bitmap) {
        m_kind = Kind::Bitmap;
        m_bitmap.Clear();
        m_drawing = QImage();
        Changed();
    }
    return m_bitmap;
}

const TBitmap* TPicture::BitmapOrNull() const noexcept
{
    return m_kind == Kind::Bitmap ? &m_bitmap : nullptr;
}

void TPicture::SetBitmap(const TBitmap& bitmap)
{
    m_bitmap = bitmap;
    m_drawing = QImage();
    m_kind = Kind::Bitmap;
    Changed();
}

void TPicture::LoadFromFile(const QString& fileName)
{
    if (QFileInfo(fileName).suffix().compare(QLatin1String("wmf"), Qt::CaseInsensitive) == 0)
        throw platform::Exception(QStringLiteral("Формат WMF не поддерживается"));

    // The reader's own allocation limit keeps a tiny file from asking for
    // gigabytes.
    QImageReader reader(fileName);
    QImage image = reader.read();
    if (image.isNull())
        throw platform::Exception(QStringLiteral("Не удалось прочитать файл \"%1\": %2")
                                      .arg(fileName, reader.errorString()));
    m_drawing = std::move(image);
    m_bitmap.Clear();
    m_kind = Kind::Icon;
    Changed();
}

void TPicture::Clear()
{
    m_kind = Kind::None;
    m_bitmap.Clear();
    m_drawing = QImage();
    Changed();
}

void TPicture::Assign(const TPicture& other)
{
    if (&other != this) {
        m_kind = other.m_kind;
        m_bitmap = other.m_bitmap;
        m_drawing = other.m_drawing;
    }
    Changed();
}

void TPicture::Changed()
{
    if (OnChange)
        OnChange();
}

}  // namespace imaging
