#include "ILDibCls.h"

#include "DLL96V1.h"
#include "DllSP96.h"
#include "ErrorInvalid.h"
#include "ILTDib.h"
#include "MessageHandler.h"
#include "ModuleLoader.h"
#include "OwnedBlock.h"

#include <QPainter>
#include <QtEndian>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace imaging {

namespace {

constexpr size_t kHeaderSize = sizeof(BITMAPINFOHEADER);

// Keeps one lock on a block for a scope.
class BlockLock {
public:
    explicit BlockLock(HGLOBAL block) : m_block(block), m_data(GlobalLock(block)) {}
    ~BlockLock()
    {
        if (m_data)
            GlobalUnlock(m_block);
    }
    BlockLock(const BlockLock&) = delete;
    BlockLock& operator=(const BlockLock&) = delete;
    [[nodiscard]] void* Data() const noexcept { return m_data; }

private:
    HGLOBAL m_block;
    void* m_data;
};

// The depth field of a block; 0 when it cannot hold a header.
int BlockDepth(HGLOBAL dib)
{
    if (GlobalSize(dib) < kHeaderSize)
        return 0;
    const BlockLock lock(dib);
    return static_cast<const BITMAPINFOHEADER*>(lock.Data())->biBitCount;
}

// Three-byte pixels with their first and third bytes swapped (red, green,
// blue to blue, green, red and back).
__attribute__((target_clones("avx2", "default"))) void SwapRedBlue(uint8_t* out, const uint8_t* in, int width)
{
    for (int x = 0; x < width; ++x) {
        out[3 * x] = in[3 * x + 2];
        out[3 * x + 1] = in[3 * x + 1];
        out[3 * x + 2] = in[3 * x];
    }
}

// Calls body(begin, end) over rows [0, height), split across the cores for a
// large picture: turning 60 MB of pixels round is more than one core can
// move. The body must not throw.
template <class Body>
void ForRows(int height, int64_t bytes, const Body& body)
{
    const int cores = static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 4u));
    if (bytes < (int64_t{4} << 20) || cores < 2 || height < 2 * cores) {
        body(0, height);
        return;
    }
    const int share = (height + cores - 1) / cores;
    std::vector<std::thread> helpers;
    int done = share;  // the first share is this thread's
    for (; done < height; done += share) {
        try {
            helpers.emplace_back(body, done, std::min(height, done + share));
        } catch (...) {
            break;  // no thread to be had: the rest here
        }
    }
    body(0, share);
    if (done < height)
        body(done, height);
    for (std::thread& helper : helpers)
        helper.join();
}

struct Mapping {
    void* pages;
    size_t length;
};

void Unmap(void* info)
{
    auto* mapping = static_cast<Mapping*>(info);
    globalmem_unmap(mapping->pages, mapping->length);
    delete mapping;
}

// A new image, in pages mapped in one go when it is large (as blocks are):
// faulting 60 MB in page by page takes longer than decoding it on some
// machines.
QImage NewImage(int width, int height, QImage::Format format)
{
    const int64_t bytesPerLine = (int64_t{width} * QImage::toPixelFormat(format).bitsPerPixel() + 31) / 32 * 4;
    const int64_t bytes = bytesPerLine * height;
    if (bytes >= static_cast<int64_t>(GLOBALMEM_MAP_FROM) && bytesPerLine <= INT32_MAX) {
        auto* mapping = new Mapping{nullptr, 0};
        mapping->pages = globalmem_map(static_cast<size_t>(bytes), &mapping->length);
        if (mapping->pages) {
            QImage image(static_cast<uchar*>(mapping->pages), width, height, static_cast<qsizetype>(bytesPerLine),
                         format, Unmap, mapping);
            if (!image.isNull())
                return image;
        }
        Unmap(mapping);
    }
    return QImage(width, height, format);
}

// The picture as the platform's in-memory bitmap ("DIB section"); null when
// the block cannot be shown. `moveFailed` is set when the header claims
// more pixel bytes than the block holds.
QImage Section(ILTDib& dib, HGLOBAL handle, bool& moveFailed)
{
    moveFailed = false;
    const int depth = dib.Depth();
    const int32_t width = dib.Width();
    if (width <= 0 || dib.Height() == 0 || dib.Height() == INT32_MIN || dib.Compression() != kBiRgb)
        return {};
    QImage::Format format = QImage::Format_Invalid;
    switch (depth) {
    case 1:
        format = QImage::Format_Mono;
        break;
    case 4:
    case 8:
        format = QImage::Format_Indexed8;
        break;
    case 16:
        format = QImage::Format_RGB555;
        break;
    case 24:
        format = QImage::Format_RGB888;
        break;
    case 32:
        format = QImage::Format_RGB32;
        break;
    default:
        return {};
    }
    // Checked before anything is allocated: a header may claim any size.
    if (!dib.HoldsPixels(GlobalSize(handle))) {
        moveFailed = true;
        return {};
    }
    const int height = std::abs(dib.Height());
    QImage image = NewImage(width, height, format);
    if (image.isNull())
        return {};
    if (depth <= 8) {
        // Every index a pixel can hold needs an entry, or the image is undefined.
        QList<QRgb> table = dib.Palette();
        table.resize(1 << depth, qRgb(0, 0, 0));
        image.setColorTable(table);
    }
    const int64_t stride = dib.Stride();
    const uint8_t* pixels = dib.Pixels();
    const bool bottomUp = dib.Height() > 0;
    const qsizetype bytesPerLine = image.bytesPerLine();
    uchar* bits = image.bits();
    ForRows(height, stride * height, [&](int begin, int end) {
        for (int r = begin; r < end; ++r) {
            const uint8_t* in = pixels + r * stride;
            const int y = bottomUp ? height - 1 - r : r;
            uint8_t* out = bits + y * bytesPerLine;
            switch (depth) {
            case 1:
            case 8:
            case 16:
                std::memcpy(out, in, static_cast<size_t>(std::min<int64_t>(stride, bytesPerLine)));
                break;
            case 4:
                for (int x = 0; x < width; ++x)
                    out[x] = (x & 1) ? (in[x / 2] & 0x0F) : (in[x / 2] >> 4);
                break;
            case 24:
                SwapRedBlue(out, in, width);
                break;
            case 32:
                for (int x = 0; x < width; ++x)
                    reinterpret_cast<QRgb*>(out)[x] = qFromLittleEndian<quint32>(in + 4 * x) | 0xFF000000u;
                break;
            }
        }
    });
    return image;
}

// Blocks have no transparency: what shows through is laid on white, as the
// file readers do.
QImage OnWhite(const QImage& image)
{
    if (!image.hasAlphaChannel())
        return image;
    if (image.format() == QImage::Format_Indexed8 || image.format() == QImage::Format_Mono ||
        image.format() == QImage::Format_MonoLSB) {
        QImage opaque = image;
        QList<QRgb> table = opaque.colorTable();
        for (QRgb& colour : table) {
            const int a = qAlpha(colour);
            const auto blend = [a](int c) { return (c * a + 255 * (255 - a) + 127) / 255; };
            colour = qRgb(blend(qRed(colour)), blend(qGreen(colour)), blend(qBlue(colour)));
        }
        opaque.setColorTable(table);
        return opaque;
    }
    QImage opaque(image.size(), QImage::Format_RGB32);
    opaque.fill(Qt::white);
    QPainter painter(&opaque);
    painter.drawImage(0, 0, image);
    painter.end();
    return opaque;
}

// The image in a form whose bytes a block of its depth takes as they are.
QImage BlockForm(const QImage& image)
{
    switch (image.depth()) {
    case 1:
        return image.format() == QImage::Format_Mono ? image : image.convertToFormat(QImage::Format_Mono);
    case 8:
        return image.format() == QImage::Format_Indexed8 ? image
                                                         : image.convertToFormat(QImage::Format_Indexed8);
    case 16:
        return image.format() == QImage::Format_RGB555 ? image : image.convertToFormat(QImage::Format_RGB555);
    case 24:
        return image.format() == QImage::Format_RGB888 ? image : image.convertToFormat(QImage::Format_RGB888);
    case 32:
        if (image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32)
            return image;
        return image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    default:
        return image.convertToFormat(QImage::Format_RGB32);
    }
}

// Bitmap and palette the way block-to-bitmap hands them over.
bool Deliver(ILTDib& source, HGLOBAL handle, TBitmap& bitmap)
{
    bool moveFailed = false;
    QImage image = Section(source, handle, moveFailed);
    if (moveFailed)
        DLL96V1::SetErrorText(QStringLiteral("HDibToDDBSection, Could not move Data"));
    if (image.isNull()) {
        bitmap.Clear();
        return false;
    }
    bitmap.SetPalette(DLL96V1::SharedPalette().isEmpty() ? source.Palette() : DLL96V1::SharedPalette());
    bitmap.SetHandle(std::move(image));
    return true;
}

}  // namespace

void FreeDib(HGLOBAL block) noexcept
{
    if (!GlobalIsBlock(block))
        return;
    UnlockFully(block);
    GlobalFree(block);
}

HGLOBAL BitmapToDib(const QImage& bitmap, const QList<QRgb>* palette)
{
    if (bitmap.isNull())
        throw ErrorInvalid(QStringLiteral("Input image is empty"));
    const QImage image = BlockForm(OnWhite(bitmap));
    if (image.isNull())
        return nullptr;
    // A picture that brings its own colours (a grey one made indexed here)
    // keeps them when the caller has none to give.
    const QList<QRgb> own = image.colorTable();
    if ((!palette || palette->isEmpty()) && !own.isEmpty())
        palette = &own;
    ILTDib dib;
    if (!dib.CreateBlock(palette, image.width(), image.depth(), image.height()))
        return nullptr;
    const int width = image.width();
    const int height = image.height();
    const int64_t stride = dib.Stride();
    const int64_t used = (int64_t{width} * image.depth() + 7) / 8;
    const int spare = static_cast<int>(used * 8 - int64_t{width} * image.depth());
    const auto tail = static_cast<uint8_t>(0xFF << spare);
    uint8_t* pixels = dib.Pixels();
    const int depth = image.depth();
    ForRows(height, stride * height, [&](int begin, int end) {
        for (int y = begin; y < end; ++y) {
            const uint8_t* in = image.constScanLine(y);
            uint8_t* out = pixels + (height - 1 - y) * stride;
            switch (depth) {
            case 24:
                SwapRedBlue(out, in, width);
                break;
            case 32:
                for (int x = 0; x < width; ++x)
                    qToLittleEndian<quint32>(reinterpret_cast<const QRgb*>(in)[x], out + 4 * x);
                break;
            default:
                // Only the picture's own bits: padding stays zero.
                std::memcpy(out, in, static_cast<size_t>(used));
                if (tail != 0)
                    out[used - 1] &= tail;
                break;
            }
        }
    });
    dib.SetOwnsBlock(false);
    HGLOBAL block = dib.Handle();
    if (depth == 16 || depth == 32) {
        const OwnedBlock release(block);
        return depth == 16 ? DLL96V1::DIB16To24(block) : DLL96V1::DIB32To24(block);
    }
    return block;
}

bool BitmapToDib(const TBitmap& bitmap, int depth, int dither, ILProgress callback, void* data,
                 HGLOBAL& dib)
{
    const QList<QRgb> palette = bitmap.Palette();
    dib = BitmapToDib(bitmap.Handle(), palette.isEmpty() ? nullptr : &palette);
    if (GlobalSize(dib) <= 5)
        return dib != nullptr;
    const int have = BlockDepth(dib);
    UnlockFully(dib);
    HGLOBAL changed = dib;
    if (have > depth)
        changed = ReduceDepth(dib, depth, dither, data, callback);
    else if (have < depth)
        changed = IncreaseDepth(dib, depth);
    if (changed != dib) {
        FreeDib(dib);
        dib = changed;
    }
    return dib != nullptr;
}

bool DibToBitmap(HGLOBAL dib, TBitmap& bitmap)
{
    if (GlobalSize(dib) < 6)
        return false;
    const int depth = BlockDepth(dib);
    UnlockFully(dib);
    return DibToBitmap(dib, depth, 0, nullptr, nullptr, bitmap);
}

bool DibToBitmap(HGLOBAL dib, int depth, int dither, ILProgress callback, void* data,
                 TBitmap& bitmap)
{
    if (GlobalSize(dib) == 0)
        return false;
    if (GlobalSize(dib) < kHeaderSize) {
        bitmap.Clear();
        return false;
    }
    const BlockLock lock(dib);
    ILTDib wrapper;
    wrapper.SetOwnsBlock(false);
    wrapper.Attach(lock.Data());
    if (wrapper.Compression() == kBiRle8 || wrapper.Compression() == kBiRle4) {
        HGLOBAL unpacked = DLL96V1::DibtoDdb(dib);
        const OwnedBlock release(unpacked);
        const BlockLock unpackedLock(unpacked);
        ILTDib source;
        source.SetOwnsBlock(false);
        source.Attach(unpackedLock.Data());
        if (!unpackedLock.Data() || GlobalSize(unpacked) < kHeaderSize) {
            bitmap.Clear();
            return false;
        }
        return Deliver(source, unpacked, bitmap);
    }
    HGLOBAL converted = nullptr;
    const int have = wrapper.Depth();
    if (depth != have) {
        converted = depth < have ? ReduceDepth(dib, depth, dither, data, callback)
                                 : IncreaseDepth(dib, depth);
        if (!converted) {
            bitmap.Clear();
            return false;
        }
    }
    const OwnedBlock release(converted);
    if (!converted)
        return Deliver(wrapper, dib, bitmap);
    const BlockLock convertedLock(converted);
    ILTDib source;
    source.SetOwnsBlock(false);
    source.Attach(convertedLock.Data());
    if (GlobalSize(converted) < kHeaderSize) {
        bitmap.Clear();
        return false;
    }
    return Deliver(source, converted, bitmap);
}

HGLOBAL IncreaseDepth(HGLOBAL dib, int depth)
{
    const int have = BlockDepth(dib);
    if (have == 0 || have == 24)
        return nullptr;
    if (have == depth && (have == 1 || have == 4 || have == 8))
        return nullptr;
    if (depth < have)
        return nullptr;
    DLL96V1::SetStatusText(QStringLiteral("Increasing colors "));
    switch (have) {
    case 1:
        if (depth == 4)
            return DLL96V1::DIB1to4(dib);
        if (depth == 8)
            return DLL96V1::DIB1To8(dib);
        if (depth == 24)
            return DLL96V1::DIB1To24(dib);
        return nullptr;
    case 4:
        if (depth == 8)
            return DLL96V1::DIB4To8(dib);
        if (depth == 24)
            return DLL96V1::DIB4To24(dib);
        return nullptr;
    case 8:
        return Dib8To24(dib);
    case 16:
        return DLL96V1::DIB16To24(dib);
    default:
        return nullptr;
    }
}

HGLOBAL ReduceDepth(HGLOBAL dib, int depth, int dither, void* data, ILProgress callback)
{
    return DllSP96::ReduceDib(dib, depth, dither, data, callback);
}

HGLOBAL Dib8To24(HGLOBAL dib)
{
    if (GlobalSize(dib) == 0)
        throw ErrorInvalid(QStringLiteral("Input image is empty"));
    const BlockLock lock(dib);
    if (!lock.Data() || GlobalSize(dib) < kHeaderSize)
        return nullptr;
    ILTDib in;
    in.SetOwnsBlock(false);
    in.Attach(lock.Data());
    if (in.Depth() != 8)
        throw ErrorInvalid(QStringLiteral("Input image is not 8 bit"));
    if (!in.HoldsPixels(GlobalSize(dib)))
        return nullptr;
    ILTDib out;
    if (!out.CreateBlock(nullptr, in.Width(), 24, in.Height()))
        return nullptr;
    const QList<QRgb>& palette = in.Palette();
    const int width = in.Width();
    const int height = std::abs(in.Height());
    const int64_t inStride = in.Stride();
    const int64_t outStride = out.Stride();
    for (int y = 0; y < height; ++y) {
        const uint8_t* source = in.Pixels() + y * inStride;
        uint8_t* target = out.Pixels() + y * outStride;
        for (int x = 0; x < width; ++x) {
            const QRgb colour = source[x] < palette.size() ? palette[source[x]] : qRgb(0, 0, 0);
            target[3 * x] = static_cast<uint8_t>(qBlue(colour));
            target[3 * x + 1] = static_cast<uint8_t>(qGreen(colour));
            target[3 * x + 2] = static_cast<uint8_t>(qRed(colour));
        }
    }
    out.SetOwnsBlock(false);
    return out.Handle();
}

HGLOBAL ResizeDib(HGLOBAL dib, int width, int height, int depth)
{
    if (!DllSP96::Resolve("ScaleDib"))
        return nullptr;
    // A missing or headerless block is never read.
    const int have = BlockDepth(dib);
    if (have == 0)
        return nullptr;
    DLL96V1::SetStatusText(QStringLiteral("Resizing Image"));
    try {
        if (have >= 24)
            return DllSP96::ScaleDib(dib, width, height);
        HGLOBAL wide = IncreaseDepth(dib, 24);
        const OwnedBlock releaseWide(wide);
        if (!wide)
            return nullptr;
        HGLOBAL scaled = DllSP96::ScaleDib(wide, width, height);
        if (static_cast<uint8_t>(depth) == 24)
            return scaled;
        const OwnedBlock releaseScaled(scaled);
        return ReduceDepth(scaled, have == 1 ? 4 : have, 0, nullptr, nullptr);
    } catch (const std::exception&) {
        ShowMessage(QString::fromLatin1(kTrapMessage));
        return nullptr;
    }
}

}  // namespace imaging
