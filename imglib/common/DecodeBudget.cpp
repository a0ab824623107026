#include "DecodeBudget.h"

#include "Dib.h"

#include <cstdlib>

namespace imglib {

namespace {

// Keeps the block's size for Free; 16 bytes keep malloc's alignment.
constexpr size_t kHeader = 16;

}  // namespace

bool DecodeBudget::Take(uint64_t bytes) noexcept
{
    if (bytes > m_limit - m_used)
        return false;
    m_used += bytes;
    if (m_used > m_peak)
        m_peak = m_used;
    return true;
}

void DecodeBudget::Give(uint64_t bytes) noexcept
{
    m_used -= bytes < m_used ? bytes : m_used;
}

void* DecodeBudget::Allocate(size_t bytes) noexcept
{
    if (bytes > SIZE_MAX - kHeader || !Take(bytes + kHeader))
        return nullptr;
    auto* raw = static_cast<unsigned char*>(std::malloc(bytes + kHeader));
    if (!raw) {
        Give(bytes + kHeader);
        return nullptr;
    }
    *reinterpret_cast<size_t*>(raw) = bytes + kHeader;
    return raw + kHeader;
}

void DecodeBudget::Free(void* block) noexcept
{
    if (!block)
        return;
    auto* raw = static_cast<unsigned char*>(block) - kHeader;
    Give(*reinterpret_cast<size_t*>(raw));
    std::free(raw);
}

bool Fillable(uint64_t pictureBytes, uint64_t needed, uint64_t inputBytes, uint64_t ratio) noexcept
{
    if (pictureBytes <= kAllocatedOnTrust)
        return true;
    return inputBytes >= needed / ratio + (needed % ratio != 0);
}

uint64_t PictureBytes(int64_t width, int64_t height, int bits) noexcept
{
    if (width <= 0 || height <= 0)
        return 0;
    return static_cast<uint64_t>(Stride(width, bits)) * static_cast<uint64_t>(height);
}

}  // namespace imglib
