#pragma once

#include "imglib.h"

#include <QList>
#include <QRgb>

#include <cstdint>

namespace imaging {

// The 40-byte header at the start of every packed DIB block (little-endian).
#pragma pack(push, 1)
struct BITMAPINFOHEADER {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;  // positive: bottom row first
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;  // 0 none, 1 RLE8, 2 RLE4
    uint32_t biSizeImage;    // 0: height × stride, computed on first use
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
};
#pragma pack(pop)
static_assert(sizeof(BITMAPINFOHEADER) == 40);

inline constexpr uint32_t kBiRgb = 0;
inline constexpr uint32_t kBiRle8 = 1;
inline constexpr uint32_t kBiRle4 = 2;

// Bytes of one pixel row: whole 32-bit words.
[[nodiscard]] constexpr int64_t DibStride(int64_t width, int depth)
{
    return ((width * depth + 31) / 32) * 4;
}

// Typed access to one locked packed DIB block. The header is taken to be 40
// bytes long; the caller checks that the block is at least that large and,
// before touching pixels, that TotalSize() fits in it.
//
// An owning wrapper (the default) unlocks its block fully and frees it when
// it lets go of it (destruction, Attach); a non-owning one leaves the block
// to its holder. The palette made from the colour table is cached and
// dropped with the block.
class ILTDib {
public:
    ILTDib() = default;
    ~ILTDib();
    ILTDib(const ILTDib&) = delete;
    ILTDib& operator=(const ILTDib&) = delete;

    void SetOwnsBlock(bool owns) noexcept { m_ownsBlock = owns; }
    [[nodiscard]] bool OwnsBlock() const noexcept { return m_ownsBlock; }

    // Holds the block whose locked data starts at `header` (null: none).
    void Attach(void* header);
    [[nodiscard]] BITMAPINFOHEADER* Header() const noexcept { return m_header; }
    [[nodiscard]] HGLOBAL Handle() const noexcept { return GlobalHandle(m_header); }

    // Header fields; 0 without a block.
    [[nodiscard]] int Depth() const noexcept;
    [[nodiscard]] int32_t Width() const noexcept;
    [[nodiscard]] int32_t Height() const noexcept;
    [[nodiscard]] uint32_t Compression() const noexcept;

    // Colours used when not 0; else 0 for 16, 24 and 32 bits; else 2^depth.
    [[nodiscard]] int64_t Colours() const noexcept;
    // 40 + 4 × colours; 0 without a block.
    [[nodiscard]] int64_t HeaderSize() const noexcept;
    [[nodiscard]] int64_t Stride() const noexcept;
    // HeaderSize() + image size; an image size of 0 is computed as
    // |height| × stride and written into the header.
    [[nodiscard]] int64_t TotalSize() noexcept;
    [[nodiscard]] uint8_t* Pixels() const noexcept;
    // True when the header describes an uncompressed picture of a depth
    // blocks carry whose rows all lie inside a block of `blockSize` bytes;
    // computes the image size first, as TotalSize does.
    [[nodiscard]] bool HoldsPixels(size_t blockSize) noexcept;

    // 2, 16, 256 for depths 1, 4, 8; 0 otherwise.
    [[nodiscard]] static int ColoursForDepth(int depth) noexcept;

    // The colour table as colours (made on first request and cached).
    [[nodiscard]] const QList<QRgb>& Palette();

    // A new zero-filled block: depth 2 is stored as 1; 1/2, 4, 8 carry 2, 16,
    // 256 table entries, 16, 24, 32 none; allocated image size + 48, 104,
    // 1064 or 40 bytes. Table entries come from `palette` where it has them.
    // The block is attached, locked once. False for any other depth or a
    // size that cannot be; raises ErrorInvalid "Can't allocate memory" when
    // the allocation fails.
    bool CreateBlock(const QList<QRgb>* palette, int32_t width, int depth, int32_t height);

private:
    void LetGo() noexcept;

    QList<QRgb> m_palette;
    bool m_paletteMade = false;
    BITMAPINFOHEADER* m_header = nullptr;
    bool m_ownsBlock = true;
};

// Unlocks until the lock count is 0.
void UnlockFully(HGLOBAL block) noexcept;

}  // namespace imaging
