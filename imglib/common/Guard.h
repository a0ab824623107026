#pragma once

// Keeps exceptions inside the module: an entry runs its body through Guard,
// which turns anything thrown into the failure value and remembers it for
// ILTakeException().

#include <new>

namespace imglib {

void NoteException() noexcept;
// Returns 1 once after an exception was caught, else 0.
int TakeException() noexcept;

template <class Result, class Body>
Result Guard(Result onFailure, Body&& body) noexcept
{
    try {
        return body();
    } catch (...) {
        NoteException();
        return onFailure;
    }
}

}  // namespace imglib
