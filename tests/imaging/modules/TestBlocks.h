#pragma once

// Hand-built packed DIB blocks for the imaging tests, and readers that take
// blocks apart without the code under test.

#include "imaging/ILTDib.h"

#include <QByteArray>
#include <QList>
#include <QRgb>

#include <algorithm>
#include <cstring>
#include <initializer_list>

namespace testblocks {

using imaging::BITMAPINFOHEADER;

// Rows given top row first, each padded with zeros to `stride`, stored bottom row first.
inline QByteArray Stored(std::initializer_list<QByteArray> topDown, int stride)
{
    QByteArray stored;
    for (auto row = std::rbegin(topDown); row != std::rend(topDown); ++row) {
        QByteArray padded = *row;
        padded.resize(stride, '\0');
        stored += padded;
    }
    return stored;
}

// An unlocked block: header, `palette` as its table (colours used = its
// size), then `pixels` as they are. `sizeImage` -1 writes the pixel count.
inline HGLOBAL Make(int32_t width, int32_t height, int depth, const QList<QRgb>& palette,
                    const QByteArray& pixels, uint32_t compression = 0, int64_t sizeImage = -1)
{
    const size_t table = 4 * static_cast<size_t>(palette.size());
    HGLOBAL block = GlobalAlloc(GHND, 40 + table + static_cast<size_t>(pixels.size()));
    auto* bytes = static_cast<uint8_t*>(GlobalLock(block));
    BITMAPINFOHEADER header{};
    header.biSize = 40;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = static_cast<uint16_t>(depth);
    header.biCompression = compression;
    header.biSizeImage = static_cast<uint32_t>(sizeImage < 0 ? pixels.size() : sizeImage);
    header.biXPelsPerMeter = 2953;
    header.biYPelsPerMeter = 2953;
    header.biClrUsed = static_cast<uint32_t>(palette.size());
    header.biClrImportant = header.biClrUsed;
    std::memcpy(bytes, &header, 40);
    for (qsizetype i = 0; i < palette.size(); ++i) {
        bytes[40 + 4 * i] = static_cast<uint8_t>(qBlue(palette[i]));
        bytes[40 + 4 * i + 1] = static_cast<uint8_t>(qGreen(palette[i]));
        bytes[40 + 4 * i + 2] = static_cast<uint8_t>(qRed(palette[i]));
    }
    std::memcpy(bytes + 40 + table, pixels.constData(), static_cast<size_t>(pixels.size()));
    GlobalUnlock(block);
    return block;
}

inline BITMAPINFOHEADER HeaderOf(HGLOBAL block)
{
    BITMAPINFOHEADER header{};
    if (GlobalSize(block) >= 40)
        std::memcpy(&header, reinterpret_cast<const char*>(block + 1), 40);
    return header;
}

inline int TableEntries(const BITMAPINFOHEADER& header)
{
    if (header.biClrUsed != 0)
        return static_cast<int>(header.biClrUsed);
    return header.biBitCount <= 8 ? 1 << header.biBitCount : 0;
}

inline QList<QRgb> TableOf(HGLOBAL block)
{
    const BITMAPINFOHEADER header = HeaderOf(block);
    const auto* bytes = reinterpret_cast<const uint8_t*>(block + 1) + 40;
    QList<QRgb> table;
    for (int i = 0; i < TableEntries(header); ++i)
        table.append(qRgb(bytes[4 * i + 2], bytes[4 * i + 1], bytes[4 * i]));
    return table;
}

// The pixel bytes as stored (bottom row first), everything after the table.
inline QByteArray PixelsOf(HGLOBAL block)
{
    const BITMAPINFOHEADER header = HeaderOf(block);
    const size_t offset = 40 + 4 * static_cast<size_t>(TableEntries(header));
    if (GlobalSize(block) < offset)
        return {};
    return QByteArray(reinterpret_cast<const char*>(block + 1) + offset,
                      static_cast<qsizetype>(GlobalSize(block) - offset));
}

// The whole block, for comparing before and after.
inline QByteArray BytesOf(HGLOBAL block)
{
    return QByteArray(reinterpret_cast<const char*>(block + 1), static_cast<qsizetype>(GlobalSize(block)));
}

inline unsigned Locks(HGLOBAL block)
{
    return GlobalFlags(block) & GMEM_LOCKCOUNT;
}

inline QByteArray Bytes(std::initializer_list<int> values)
{
    QByteArray bytes;
    for (int v : values)
        bytes.append(static_cast<char>(v));
    return bytes;
}

}  // namespace testblocks
