#include "TPicture.h"

namespace imaging {

int TPicture::Width() const noexcept { return 0; }
int TPicture::Height() const noexcept { return 0; }
TBitmap& TPicture::Bitmap() { return m_bitmap; }
const TBitmap* TPicture::BitmapOrNull() const noexcept { return nullptr; }
void TPicture::SetBitmap(const TBitmap&) {}
void TPicture::LoadFromFile(const QString&) {}
void TPicture::Clear() {}
void TPicture::Assign(const TPicture&) {}
void TPicture::Changed() {}

}  // namespace imaging
