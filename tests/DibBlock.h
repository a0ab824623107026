#pragma once

// A packed DIB block a test got from a module, freed on every path out of
// the test.

#include "globalmem.h"
#include "imglib.h"

namespace testfiles {

struct Block {
    HDIB dib = nullptr;
    Block() = default;
    Block(const Block&) = delete;
    Block& operator=(const Block&) = delete;
    ~Block() { GlobalFree(dib); }
};

}  // namespace testfiles
