#pragma once

// The one owner of a block of globalmem.h (a packed DIB, mostly): freed on
// every path out unless handed on with Release(), so a failure or an
// exception half-way never leaks it. Receive() frees what it holds and gives
// the place for a C entry that fills an HDIB*.

#include "globalmem.h"

#include <utility>

class OwnedBlock {
public:
    OwnedBlock() noexcept = default;
    explicit OwnedBlock(HGLOBAL block) noexcept : m_block(block) {}
    OwnedBlock(OwnedBlock&& other) noexcept : m_block(other.Release()) {}
    OwnedBlock& operator=(OwnedBlock&& other) noexcept
    {
        Reset(other.Release());
        return *this;
    }
    OwnedBlock(const OwnedBlock&) = delete;
    OwnedBlock& operator=(const OwnedBlock&) = delete;
    ~OwnedBlock() { GlobalFree(m_block); }

    [[nodiscard]] HGLOBAL Get() const noexcept { return m_block; }
    [[nodiscard]] HGLOBAL Release() noexcept { return std::exchange(m_block, nullptr); }
    void Reset(HGLOBAL block = nullptr) noexcept
    {
        if (block != m_block)
            GlobalFree(std::exchange(m_block, block));
    }
    explicit operator bool() const noexcept { return m_block != nullptr; }
    [[nodiscard]] HGLOBAL* Receive() noexcept
    {
        Reset();
        return &m_block;
    }

private:
    HGLOBAL m_block = nullptr;
};
