#pragma once

// A regular file's bytes, read into memory with pread.
//
// The file is never mapped: when a mapped file is shortened while it is read
// (another program rewrites it, a USB stick is pulled out), touching the lost
// tail raises SIGBUS and kills the whole process, and no module may trap a
// signal for the program. Read into memory, a file that changes underneath
// can only make the reading fail: a short read or a read error ends it, and
// Unchanged() tells a caller that the file no longer holds what was read.
//
// Memory: the bytes read stay in memory until Release() or the object ends,
// on top of whatever is decoded from them; callers read only what they need
// (ReadFirst) and release the bytes as soon as the decoder is done.

#include "imglib.h"

#include <cstddef>
#include <cstdint>
#include <ctime>

namespace imglib {

class FileBytes {
public:
    // The most bytes ever held: twice the largest picture we decode leaves
    // room for any single picture's uncompressed file (a 32-bit BMP, 16-bit
    // samples) while a huge file of a few pixels cannot ask for more.
    static constexpr uint64_t kMaxBytes = 2 * IL_MAX_DECODED_BYTES;

    FileBytes() = default;
    ~FileBytes();
    FileBytes(const FileBytes&) = delete;
    FileBytes& operator=(const FileBytes&) = delete;

    // 1, or IL_ERR_OPEN when `path` cannot be opened for reading or is not a
    // regular file. A FIFO, device, socket or folder is refused before any
    // call that could wait on it (it is looked at with stat, and opened only
    // without blocking), so a FIFO never freezes the caller.
    [[nodiscard]] int16_t Open(const char* path);

    // The file's size when it was opened.
    [[nodiscard]] uint64_t FileSize() const noexcept { return m_fileSize; }

    // Makes Data() hold the first min(count, FileSize()) bytes (more read
    // before stay). 1, or IL_ERR_OPEN when a read fails or finds the file
    // shorter or changed, IL_ERR_TOO_LARGE for more than kMaxBytes,
    // IL_ERR_MEMORY.
    [[nodiscard]] int16_t ReadFirst(uint64_t count);
    [[nodiscard]] int16_t ReadAll() { return ReadFirst(m_fileSize); }
    // Open and ReadAll: the whole file in memory, or the first failure.
    [[nodiscard]] int16_t Load(const char* path)
    {
        const int16_t opened = Open(path);
        return opened <= 0 ? opened : ReadAll();
    }

    // `length` bytes at `offset` into `out`, apart from Data(); false when
    // they cannot all be read.
    [[nodiscard]] bool ReadAt(uint64_t offset, uint8_t* out, size_t length) const;

    // The bytes read so far (null when none).
    [[nodiscard]] const uint8_t* Data() const noexcept { return m_data; }
    [[nodiscard]] size_t Size() const noexcept { return m_size; }
    // Whether all of the file has been read.
    [[nodiscard]] bool Whole() const noexcept { return m_size == m_fileSize; }

    // Frees the bytes read; the file stays open for Unchanged().
    void Release() noexcept;

    // True when the file still has the size and modification time it had
    // when opened. A change that keeps both (a rewrite of the same size
    // within the file system's time resolution) goes unseen.
    [[nodiscard]] bool Unchanged() const noexcept;

private:
    int m_fd = -1;
    uint64_t m_fileSize = 0;
    timespec m_modified{};
    // Room for `count` bytes in m_data, keeping the m_size read.
    [[nodiscard]] bool Hold(size_t count);

    uint8_t* m_data = nullptr;
    size_t m_size = 0;
    size_t m_mapped = 0;  // the length of m_data's mapping; 0 when malloc'd
};

}  // namespace imglib
