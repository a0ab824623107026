#include "ResizeImage_Block.h"

#include "ReduceSize.h"

#include "imaging/ILDibCls.h"
#include "imaging/TBitmap.h"

#include "OwnedBlock.h"

#include <QCoreApplication>

#include <memory>

namespace reduce {

namespace {

// Requested depth of both blocks.
constexpr int kBlockDepth = 24;

}  // namespace

void ResizeImage_Block([[maybe_unused]] QWidget* owner, preview::TPMultiImage& source,
                       int32_t target, int32_t threshold, int32_t quality, int32_t amount,
                       const QString& outputFile)
{
    // Declared first so that it outlives the temporary control, also on error.
    imaging::TBitmap bitmap;
    auto temporary = std::make_unique<preview::TPMultiImage>();

    // Taking the picture as a bitmap is what turns an icon or metafile into
    // an empty bitmap; the size is that bitmap's.
    const imaging::TBitmap& picture = source.Picture().Bitmap();
    const Size size = ReduceSize(picture.Width(), picture.Height(), target, threshold);

    // Each block is released when its stage is over, or when an error ends
    // the call first.
    OwnedBlock sourceBlock;
    // An empty picture raises "Input image is empty" here.
    imaging::BitmapToDib(picture, kBlockDepth, 0, nullptr, nullptr, *sourceBlock.Receive());
    QCoreApplication::processEvents();

    // A failed scaling leaves no block and so an empty bitmap; the sharpening
    // below reports that as an empty image.
    OwnedBlock scaledBlock(imaging::ResizeDib(sourceBlock.Get(), size.width, size.height, kBlockDepth));
    QCoreApplication::processEvents();
    sourceBlock.Reset();

    imaging::DibToBitmap(scaledBlock.Get(), bitmap);
    QCoreApplication::processEvents();
    scaledBlock.Reset();

    temporary->Picture().SetBitmap(bitmap);
    temporary->SharpenImage(0, 0, 0, 0, amount);
    temporary->SetJPegSaveSmooth(0);
    temporary->SetJPegSaveQuality(static_cast<uint8_t>(quality & 0xFF));
    temporary->SaveAsJpeg(outputFile);

    temporary.reset();
    bitmap.Clear();
}

}  // namespace reduce
