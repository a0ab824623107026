// Hostile run-length blocks given to the codec module's unpacker.
#include "Dib.h"
#include "imglib.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 6)
        return 0;
    const int width = 1 + ((data[0] | data[1] << 8) % 2048);
    const int height = 1 + ((data[2] | data[3] << 8) % 2048);
    const bool rle4 = data[4] & 1;
    const int colours = data[5];
    data += 6;
    size -= 6;
    HGLOBAL block = GlobalAlloc(GHND, sizeof(imglib::BitmapInfoHeader) + 4u * colours + size);
    auto* header = static_cast<imglib::BitmapInfoHeader*>(GlobalLock(block));
    header->biSize = sizeof(imglib::BitmapInfoHeader);
    header->biWidth = width;
    header->biHeight = height;
    header->biPlanes = 1;
    header->biBitCount = rle4 ? 4 : 8;
    header->biCompression = rle4 ? 2 : 1;
    header->biSizeImage = static_cast<uint32_t>(size);
    header->biClrUsed = static_cast<uint32_t>(colours);
    if (size > 0)
        std::memcpy(reinterpret_cast<uint8_t*>(header + 1) + 4 * colours, data, size);
    GlobalUnlock(block);
    GlobalFree(DibtoDdb(block));
    GlobalFree(block);
    return 0;
}
