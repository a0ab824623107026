#include "MappedFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace imglib {

MappedFile::~MappedFile()
{
    if (m_data)
        munmap(const_cast<uint8_t*>(m_data), m_size);
}

bool MappedFile::Open(const char* path, Use use)
{
    if (!path)
        return false;
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    m_size = static_cast<size_t>(st.st_size);
    if (m_size > 0) {
        void* mapped = mmap(nullptr, m_size, PROT_READ, MAP_PRIVATE | (use == Use::Whole ? MAP_POPULATE : 0), fd, 0);
        if (mapped == MAP_FAILED) {
            ::close(fd);
            m_size = 0;
            return false;
        }
        m_data = static_cast<const uint8_t*>(mapped);
    }
    ::close(fd);
    return true;
}

}  // namespace imglib
