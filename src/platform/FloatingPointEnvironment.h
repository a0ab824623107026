#pragma once

#include <cfenv>

namespace platform {

// Keeps the floating-point environment (rounding, exception masks) of the
// process as it was at start, so it can be put back after components that
// change it (the browser engine masks exceptions while it runs).
class FloatingPointEnvironment {
public:
    void Remember() noexcept;
    // Does nothing when Remember() was never called.
    void Restore() const noexcept;
    [[nodiscard]] bool Remembered() const noexcept { return m_remembered; }

private:
    std::fenv_t m_environment{};
    bool m_remembered = false;
};

}  // namespace platform
