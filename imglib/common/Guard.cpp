#include "Guard.h"

namespace imglib {

namespace {
thread_local bool t_caught = false;
}

void NoteException() noexcept
{
    t_caught = true;
}

int TakeException() noexcept
{
    const bool caught = t_caught;
    t_caught = false;
    return caught ? 1 : 0;
}

}  // namespace imglib
