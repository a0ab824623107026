#pragma once

// A block this module is making: freed unless handed to the caller, so a
// failure or an exception half-way never leaks it.

#include "imglib.h"

namespace isp {

class OwnedDib {
public:
    explicit OwnedDib(HDIB dib) noexcept : m_dib(dib) {}
    ~OwnedDib() { GlobalFree(m_dib); }
    OwnedDib(const OwnedDib&) = delete;
    OwnedDib& operator=(const OwnedDib&) = delete;

    [[nodiscard]] HDIB Get() const noexcept { return m_dib; }
    [[nodiscard]] HDIB Release() noexcept
    {
        HDIB dib = m_dib;
        m_dib = nullptr;
        return dib;
    }

private:
    HDIB m_dib;
};

}  // namespace isp
