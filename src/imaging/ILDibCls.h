#pragma once

// Packed DIB blocks (ILTDib.h) and the conversions around them: bitmap to
// block, block to bitmap, a change of depth, scaling. Every operation that
// changes pixels returns a new block and leaves its input to the caller.
// Blocks made here are handed over locked once; blocks made by a module
// unlocked. Whoever holds a handle releases it with FreeDib.
//
// Raised errors are ErrorInvalid ("Input image is empty", "Input image is not
// 8 bit", "Can't allocate memory") and those of the binding (DLL96V1.h,
// DllSP96.h). GUI thread only.

#include "TBitmap.h"
#include "imglib.h"

#include <QImage>
#include <QList>
#include <QRgb>

namespace imaging {

// Unlocks the block fully and frees it; anything that is not a block is left alone.
void FreeDib(HGLOBAL block) noexcept;

// A block of the bitmap's own depth with its pixels, table entries from
// `palette` (may be null). 16- and 32-bit pictures come back as 24-bit
// blocks (DIB16To24, DIB32To24). Null when the picture has no depth a block
// can carry or the conversion fails. Raises "Input image is empty" for a null
// image.
[[nodiscard]] HGLOBAL BitmapToDib(const QImage& bitmap, const QList<QRgb>* palette);

// The bitmap (with its palette) as a block of `depth` bits into `dib`,
// reduced (ReduceDib with `dither`, `data`, `callback`) or increased as
// needed. True when `dib` holds a block.
bool BitmapToDib(const TBitmap& bitmap, int depth, int dither, ILProgress callback, void* data,
                 HGLOBAL& dib);

// The block as the bitmap's handle at the block's own depth; unlocks the
// block fully first. False, bitmap untouched, for a block under 6 bytes.
bool DibToBitmap(HGLOBAL dib, TBitmap& bitmap);

// The block as the bitmap's handle at `depth` (converted first when the
// block's depth differs; run-length blocks are unpacked through DibtoDdb
// and keep their depth). The palette is the shared palette (DLL96V1) when
// set, else the block's colour table. True when the bitmap got pixels; on
// false the bitmap is left empty, and a block that holds fewer bytes than its
// header claims records "HDibToDDBSection, Could not move Data" as the
// binding's error text. The block is not released.
bool DibToBitmap(HGLOBAL dib, int depth, int dither, ILProgress callback, void* data,
                 TBitmap& bitmap);

// A deeper copy: 1 to 4, 8 or 24 bits; 4 to 8 or 24; 8 to 24 for any
// target above 8; 16 to 24 for any target of 16 or more. Null for 24-bit
// blocks, shallower targets and the same depth.
[[nodiscard]] HGLOBAL IncreaseDepth(HGLOBAL dib, int depth);

// A copy with `depth` bits through ISP2000's ReduceDib; a 32-bit block goes
// to 24 bits whatever `depth` asks. Null without a block or on failure.
[[nodiscard]] HGLOBAL ReduceDepth(HGLOBAL dib, int depth, int dither, void* data,
                                  ILProgress callback);

// A 24-bit copy of an 8-bit block, each index replaced by its table colour
// (black past the table). Raises "Input image is empty" for a missing block,
// "Input image is not 8 bit" for another depth; null for a block that holds
// fewer bytes than its header claims.
[[nodiscard]] HGLOBAL Dib8To24(HGLOBAL dib);

// The block scaled to width × height by ISP2000's ScaleDib. Blocks under 24
// bits are scaled at 24 bits and, unless `depth` is 24, reduced back to
// their depth (1-bit to 4). Null without a block (nothing is read) or on
// failure; an exception on the way shows the trap message.
[[nodiscard]] HGLOBAL ResizeDib(HGLOBAL dib, int width, int height, int depth);

}  // namespace imaging
