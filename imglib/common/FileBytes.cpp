#include "FileBytes.h"

#include "Sanitizer.h"
#include "globalmem.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace imglib {

namespace {

// One pread asks for at most this much; Linux gives at most about 2 GiB anyway.
constexpr size_t kChunk = size_t{1} << 30;

// Reads exactly `length` bytes at `offset`; false on an error or the end of the file.
bool ReadExactly(int fd, uint8_t* out, size_t length, uint64_t offset)
{
    size_t done = 0;
    while (done < length) {
        const ssize_t n = ::pread(fd, out + done, std::min(length - done, kChunk),
                                  static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;  // an I/O error (a medium gone), or the file is shorter now
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

FileBytes::~FileBytes()
{
    Release();
    if (m_fd >= 0)
        ::close(m_fd);
}

int16_t FileBytes::Open(const char* path)
{
    if (!path || m_fd >= 0)
        return IL_ERR_OPEN;
    // Opening a FIFO for reading waits for a writer, and opening a device may
    // wait or do something: look first, and open nothing but regular files.
    struct stat st {};
    if (::stat(path, &st) != 0 || !S_ISREG(st.st_mode))
        return IL_ERR_OPEN;
    // The name may stand for something else by the time it is opened:
    // O_NONBLOCK makes even a FIFO's open return at once, and fstat decides.
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return IL_ERR_OPEN;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) {
        ::close(fd);
        return IL_ERR_OPEN;
    }
    m_fd = fd;
    m_fileSize = static_cast<uint64_t>(st.st_size);
    m_modified = st.st_mtim;
    return 1;
}

int16_t FileBytes::ReadFirst(uint64_t count)
{
    if (m_fd < 0)
        return IL_ERR_OPEN;
    count = std::min(count, m_fileSize);
    if (count <= m_size)
        return 1;
    if (count > kMaxBytes || count > SIZE_MAX)
        return IL_ERR_TOO_LARGE;
    if (!Hold(static_cast<size_t>(count)))
        return IL_ERR_MEMORY;
    if (!ReadExactly(m_fd, m_data + m_size, static_cast<size_t>(count) - m_size, m_size))
        return IL_ERR_OPEN;
    m_size = static_cast<size_t>(count);
    // Bytes read while the file was being rewritten may be half old, half new.
    return Unchanged() ? int16_t{1} : int16_t{IL_ERR_OPEN};
}

bool FileBytes::ReadAt(uint64_t offset, uint8_t* out, size_t length) const
{
    return m_fd >= 0 && ReadExactly(m_fd, out, length, offset);
}

bool FileBytes::Hold(size_t count)
{
    // Under AddressSanitizer every read stays in malloc's memory, whose
    // guard zones catch a decoder reading past the file's end.
    if ((count < GLOBALMEM_MAP_FROM || kAddressSanitizer) && m_mapped == 0) {
        void* grown = std::realloc(m_data, count);
        if (!grown)
            return false;
        m_data = static_cast<uint8_t*>(grown);
        return true;
    }
    // Pages faulted in ahead, in one call: malloc's come a page fault at a
    // time, which on some machines doubles the time a photo takes to read.
    size_t length = 0;
    auto* pages = static_cast<uint8_t*>(globalmem_map(count, &length));
    if (!pages)
        return false;
    if (m_size > 0)
        std::memcpy(pages, m_data, m_size);
    const size_t size = m_size;
    Release();
    m_data = pages;
    m_mapped = length;
    m_size = size;
    return true;
}

void FileBytes::Release() noexcept
{
    if (m_mapped > 0)
        globalmem_unmap(m_data, m_mapped);
    else
        std::free(m_data);
    m_data = nullptr;
    m_mapped = 0;
    m_size = 0;
}

bool FileBytes::Unchanged() const noexcept
{
    struct stat st {};
    return m_fd >= 0 && ::fstat(m_fd, &st) == 0 && static_cast<uint64_t>(st.st_size) == m_fileSize &&
           st.st_mtim.tv_sec == m_modified.tv_sec && st.st_mtim.tv_nsec == m_modified.tv_nsec;
}

}  // namespace imglib
