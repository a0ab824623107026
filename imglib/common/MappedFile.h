#pragma once

#include <cstddef>
#include <cstdint>

namespace imglib {

// A whole file mapped read-only. An empty file maps to no data and size 0.
class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // False when the file cannot be opened or mapped. A decoder reads every
    // byte and asks for them all to be read in at once (Use::Whole); a header
    // query touches a few pages and should not read a 100 MB file for them.
    enum class Use { Header, Whole };
    [[nodiscard]] bool Open(const char* path, Use use = Use::Header);
    [[nodiscard]] const uint8_t* Data() const noexcept { return m_data; }
    [[nodiscard]] size_t Size() const noexcept { return m_size; }

private:
    const uint8_t* m_data = nullptr;
    size_t m_size = 0;
};

}  // namespace imglib
