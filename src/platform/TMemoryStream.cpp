#include "TMemoryStream.h"

#include <cstring>

namespace platform {

std::int64_t TMemoryStream::Remaining() const noexcept
{
    if (m_position < 0 || m_position >= Size())
        return 0;
    return Size() - m_position;
}

void TMemoryStream::ReadBuffer(void* destination, std::int64_t count)
{
    if (count < 0 || count > Remaining())
        throw EReadError();
    if (count > 0)
        std::memcpy(destination, m_data.constData() + m_position, static_cast<std::size_t>(count));
    m_position += count;
}

QByteArray TMemoryStream::ReadBytes(std::int64_t count)
{
    // Checked before allocating, so a damaged length cannot ask for gigabytes.
    if (count < 0 || count > Remaining())
        throw EReadError();
    QByteArray bytes = m_data.mid(m_position, count);
    m_position += count;
    return bytes;
}

std::int32_t TMemoryStream::ReadInt32()
{
    unsigned char bytes[4];
    ReadBuffer(bytes, 4);
    const std::uint32_t value = std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 |
                                std::uint32_t{bytes[2]} << 16 | std::uint32_t{bytes[3]} << 24;
    return static_cast<std::int32_t>(value);
}

std::uint8_t TMemoryStream::ReadByte()
{
    std::uint8_t value = 0;
    ReadBuffer(&value, 1);
    return value;
}

void TMemoryStream::WriteBuffer(const void* source, std::int64_t count)
{
    if (count <= 0)
        return;
    if (m_position < 0)
        m_position = 0;
    const std::int64_t end = m_position + count;
    if (end > Size())
        m_data.resize(end, '\0');
    std::memcpy(m_data.data() + m_position, source, static_cast<std::size_t>(count));
    m_position = end;
}

void TMemoryStream::WriteInt32(std::int32_t value)
{
    const auto bits = static_cast<std::uint32_t>(value);
    const unsigned char bytes[4] = {static_cast<unsigned char>(bits), static_cast<unsigned char>(bits >> 8),
                                    static_cast<unsigned char>(bits >> 16),
                                    static_cast<unsigned char>(bits >> 24)};
    WriteBuffer(bytes, 4);
}

}  // namespace platform
