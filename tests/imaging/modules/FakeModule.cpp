// A stand-in for both imaging modules in the binding tests: it counts calls,
// reports a caught exception when asked to, and has a string table of its
// own. Copied under other names by the tests for the name check.
#include "imglib.h"

#include <cstring>
#include <stdexcept>

namespace {

int g_scaleCalls = 0;
int g_reduceCalls = 0;
int g_lastReduceBits = 0;
bool g_throw = false;
bool g_caught = false;

template <class Result, class Body>
Result Guarded(Result failure, Body body)
{
    try {
        if (g_throw)
            throw std::runtime_error("asked to fail");
        return body();
    } catch (...) {
        g_caught = true;
        return failure;
    }
}

struct Header {
    uint32_t size;
    int32_t width, height;
    uint16_t planes, bits;
    uint32_t compression, image;
    int32_t xres, yres;
    uint32_t used, important;
};

Header Read(HDIB dib)
{
    Header header{};
    if (GlobalSize(dib) >= sizeof header) {
        std::memcpy(&header, GlobalLock(dib), sizeof header);
        GlobalUnlock(dib);
    }
    return header;
}

// A zero-filled block of the given figures.
HDIB Blank(int32_t width, int32_t height, int bits)
{
    const uint32_t colours = bits <= 8 ? 1u << bits : 0;
    const uint32_t stride = ((static_cast<uint32_t>(width) * bits + 31) / 32) * 4;
    HDIB dib = GlobalAlloc(GHND, sizeof(Header) + 4 * colours + stride * static_cast<uint32_t>(height));
    Header header{40, width, height, 1, static_cast<uint16_t>(bits), 0, stride * static_cast<uint32_t>(height),
                  2953, 2953, colours, colours};
    std::memcpy(GlobalLock(dib), &header, sizeof header);
    GlobalUnlock(dib);
    return dib;
}

}  // namespace

extern "C" {

const ILStringEntry ILStringTable[] = {
    {static_cast<uint16_t>(IL_ERR_CORRUPT), "fake: corrupt"},
    {0, nullptr},
};

int ILTakeException(void)
{
    const bool caught = g_caught;
    g_caught = false;
    return caught ? 1 : 0;
}

void FakeSetThrow(int on)
{
    g_throw = on != 0;
}

int FakeScaleCalls(void)
{
    return g_scaleCalls;
}

int FakeReduceCalls(void)
{
    return g_reduceCalls;
}

int FakeLastReduceBits(void)
{
    return g_lastReduceBits;
}

HDIB ScaleDib(HDIB dib, int32_t width, int32_t height)
{
    ++g_scaleCalls;
    return Guarded<HDIB>(nullptr, [&]() -> HDIB { return dib ? Blank(width, height, 24) : nullptr; });
}

HDIB ReduceDib(HDIB dib, int32_t bits, int32_t, int32_t,
                                                      int32_t, int32_t, void*, ILProgress)
{
    ++g_reduceCalls;
    g_lastReduceBits = bits;
    return Guarded<HDIB>(nullptr, [&]() -> HDIB {
        const Header header = Read(dib);
        return dib ? Blank(header.width, header.height, bits) : nullptr;
    });
}

HDIB DIB1To8(HDIB dib)
{
    return Guarded<HDIB>(nullptr, [&]() -> HDIB {
        const Header header = Read(dib);
        return dib ? Blank(header.width, header.height, 8) : nullptr;
    });
}

// Every file is damaged, as far as this module is concerned.
int16_t rdbmpfiledib(const char*, int16_t, int16_t, HDIB* dib,
                                                            ILPalette, void*, ILProgress, uint16_t)
{
    return Guarded<int16_t>(IL_ERR_UNKNOWN, [&]() -> int16_t {
        *dib = nullptr;
        return IL_ERR_CORRUPT;
    });
}

// Page information succeeds with 0; there is only page 0.
int16_t getinfo(const char*, int16_t page, int32_t* width, int32_t*, int16_t*, int16_t*, char*, uint16_t)
{
    *width = 7;
    return page == 0 ? 0 : IL_ERR_PAGE;
}

}  // extern "C"
