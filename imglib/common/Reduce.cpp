#include "Convert.h"

namespace imglib {

HDIB ReduceColours(HDIB, int, bool)
{
    return nullptr;  // not written yet
}

}  // namespace imglib
