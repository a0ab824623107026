#pragma once

// The memory one decode may use besides the picture it delivers, and what a
// file's remaining bytes can fill. A reader counts every buffer it and its
// library allocate against one DecodeBudget, so a reading's peak stays within
// IL_MAX_DECODED_BYTES plus its output picture; and it refuses a picture the
// file's bytes cannot fill before allocating it, rather than allocating and
// zero-filling gigabytes for a file of a few bytes.

#include "imglib.h"

#include <cstddef>
#include <cstdint>

namespace imglib {

// Working memory of one decode besides its output picture, in bytes.
inline constexpr uint64_t kDecodeBudget = IL_MAX_DECODED_BYTES;

// Output pictures up to this many bytes are allocated whatever the file
// holds, so a truncated small file still shows the rows it has.
inline constexpr uint64_t kAllocatedOnTrust = 16ull * 1024 * 1024;

// Not thread-safe: one per decode.
class DecodeBudget {
public:
    explicit DecodeBudget(uint64_t limit = kDecodeBudget) noexcept : m_limit(limit) {}

    // Counts `bytes` as in use; false (and nothing counted) when that would
    // pass the limit.
    [[nodiscard]] bool Take(uint64_t bytes) noexcept;
    void Give(uint64_t bytes) noexcept;

    // malloc and free for a library's allocation hooks: null when the budget
    // or memory runs out. Free takes null.
    [[nodiscard]] void* Allocate(size_t bytes) noexcept;
    void Free(void* block) noexcept;

    [[nodiscard]] uint64_t Used() const noexcept { return m_used; }
    [[nodiscard]] uint64_t Peak() const noexcept { return m_peak; }
    [[nodiscard]] uint64_t Left() const noexcept { return m_limit - m_used; }
    [[nodiscard]] uint64_t Limit() const noexcept { return m_limit; }

private:
    uint64_t m_limit;
    uint64_t m_used = 0;
    uint64_t m_peak = 0;
};

// True when a picture of `pictureBytes` may be allocated: it is small
// (kAllocatedOnTrust), or `inputBytes` of data, each giving at most `ratio`
// units of what the picture needs, can give `needed` units.
[[nodiscard]] bool Fillable(uint64_t pictureBytes, uint64_t needed, uint64_t inputBytes, uint64_t ratio) noexcept;

// Bytes of a width × height picture of `bits` bits as CreateDib makes it.
[[nodiscard]] uint64_t PictureBytes(int64_t width, int64_t height, int bits) noexcept;

}  // namespace imglib
