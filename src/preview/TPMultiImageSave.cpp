// Saving the picture as JPEG and sharpening it, both through the imaging
// modules on a packed block of the picture's bitmap.
#include "TPMultiImage.h"

#include "imaging/DLL96V1.h"
#include "imaging/DllSP96.h"
#include "imaging/ErrorInvalid.h"
#include "imaging/ILDibCls.h"
#include "imaging/ILTDib.h"

#include <QGuiApplication>

#include <cstdint>
#include <cstdlib>

namespace preview {

namespace {

using imaging::TBitmap;

struct DibRelease {
    HDIB& dib;
    ~DibRelease() { imaging::FreeDib(dib); }
};

// Blocks shorter than this hold no picture.
constexpr size_t kShortestBlock = 5;

// The picture's bitmap as a block; raises "Input image is empty" when there
// is none to make.
HDIB BlockOf(const TBitmap* bitmap)
{
    if (!bitmap || !bitmap->HandleAllocated())
        throw imaging::ErrorInvalid(QStringLiteral("Input image is empty"));
    const QList<QRgb> palette = bitmap->Palette();
    HDIB dib = imaging::BitmapToDib(bitmap->Handle(), palette.isEmpty() ? nullptr : &palette);
    if (GlobalSize(dib) < kShortestBlock) {
        imaging::FreeDib(dib);
        throw imaging::ErrorInvalid(QStringLiteral("Input image is empty"));
    }
    return dib;
}

struct BlockShape {
    int depth = 0;
    int32_t width = 0;
    int32_t height = 0;
};

BlockShape ShapeOf(HDIB dib)
{
    BlockShape shape;
    auto* header = static_cast<const imaging::BITMAPINFOHEADER*>(GlobalLock(dib));
    if (header && GlobalSize(dib) >= sizeof(imaging::BITMAPINFOHEADER)) {
        shape.depth = header->biBitCount;
        shape.width = header->biWidth;
        shape.height = header->biHeight == INT32_MIN ? INT32_MAX : std::abs(header->biHeight);
    }
    if (header)
        GlobalUnlock(dib);
    return shape;
}

class WaitCursor {
public:
    WaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace

void TPMultiImage::SetDefSaveFilename(const QString& name)
{
    m_defSaveFilename = name;
}

void TPMultiImage::SetJPegSaveQuality(uint8_t quality)
{
    m_jpegSaveQuality = quality >= 1 && quality <= 100 ? quality : uint8_t{25};
}

// Intended: 0 is out of range and stored as 5, so the photo command, which
// asks for 0, writes with smoothing 5; the quality test's references and
// the file sizes the size rule was checked against rely on it.
void TPMultiImage::SetJPegSaveSmooth(uint8_t smooth)
{
    m_jpegSaveSmooth = smooth >= 1 && smooth <= 100 ? smooth : uint8_t{5};
}

void TPMultiImage::SaveAsJpeg(const QString& name)
{
    if (!name.isEmpty())
        SetDefSaveFilename(name);
    DoProgress(0);
    // The caller learns of a failure through OnIlibError or by looking for
    // the file; nothing raises out of a save.
    try {
        const int16_t colour = m_imageWriteRes == TSaveResolution::sJpegGray ||
                                       m_imageWriteRes == TSaveResolution::sMonoChrome
                                   ? int16_t{1}
                                   : int16_t{24};
        HDIB dib = BlockOf(m_picture.BitmapOrNull());
        bool written = false;
        {
            const DibRelease release{dib};
            written = imaging::DLL96V1::wrjpgfiledib(m_defSaveFilename, m_jpegSaveQuality,
                                                     m_jpegSaveSmooth, colour, dib, this,
                                                     &TPMultiImage::ProgressCallback);
        }
        if (!written)
            ReportLibError();
    } catch (...) {
    }
    if (OnFinishedLoadSave)
        OnFinishedLoadSave(this);
}

void TPMultiImage::SharpenImage(int32_t left, int32_t top, int32_t right, int32_t bottom,
                                int32_t amount)
{
    DoProgress(0);
    const WaitCursor wait;
    TBitmap copy;
    if (const TBitmap* current = m_picture.BitmapOrNull())
        copy = *current;

    HDIB source = BlockOf(&copy);
    HDIB result = nullptr;
    {
        const DibRelease releaseSource{source};
        const BlockShape shape = ShapeOf(source);
        if (right == 0 || bottom == 0) {
            right = shape.width;
            bottom = shape.height;
        }
        const ILProgress callback = &TPMultiImage::ProgressCallback;
        if (shape.depth >= 24) {
            result = imaging::DllSP96::Better(source, amount, left, top, right, bottom, this, callback);
        } else {
            HDIB wide = imaging::IncreaseDepth(source, 24);
            HDIB sharpened = nullptr;
            {
                const DibRelease releaseWide{wide};
                if (wide)
                    sharpened = imaging::DllSP96::Better(wide, amount, left, top, right, bottom,
                                                         this, callback);
            }
            const DibRelease releaseSharpened{sharpened};
            // Two colours would throw the sharpening away: 1 bit comes back as 4.
            if (sharpened)
                result = imaging::DllSP96::ReduceDib(sharpened, shape.depth == 1 ? 4 : shape.depth, 0,
                                                     this, callback);
        }
    }
    const DibRelease releaseResult{result};
    if (m_ilUndo)
        imaging::DllSP96::PushUndo(copy);
    // A conversion that fails half-way must not empty the picture.
    TBitmap sharpened;
    if (GlobalSize(result) > kShortestBlock && imaging::DibToBitmap(result, sharpened))
        copy = sharpened;
    m_picture.SetBitmap(copy);
}

}  // namespace preview
