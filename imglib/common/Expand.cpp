#include "Convert.h"

namespace imglib {

HDIB ExpandTo24(HDIB)
{
    return nullptr;  // not written yet
}

HDIB ExpandIndexed(HDIB, int)
{
    return nullptr;  // not written yet
}

}  // namespace imglib
