#pragma once

#include "Exception.h"

#include <QByteArray>
#include <cstdint>

namespace platform {

// A read that asks for more bytes than the stream has left.
class EReadError : public Exception {
public:
    EReadError() : Exception(QStringLiteral("Stream read error")) {}
};

// A little-endian byte stream over memory. The position may be moved past the
// end (reads there fail) so that stored formats which skip forward and then
// step back behave as they do on a file.
class TMemoryStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(QByteArray data) : m_data(std::move(data)) {}

    [[nodiscard]] const QByteArray& Data() const noexcept { return m_data; }
    [[nodiscard]] std::int64_t Size() const noexcept { return m_data.size(); }
    [[nodiscard]] std::int64_t Position() const noexcept { return m_position; }
    // Bytes that a read can still take from the current position.
    [[nodiscard]] std::int64_t Remaining() const noexcept;

    void SetPosition(std::int64_t position) noexcept { m_position = position; }
    void Seek(std::int64_t offset) noexcept { m_position += offset; }

    // Reads exactly `count` bytes or raises EReadError, leaving the position as it was.
    void ReadBuffer(void* destination, std::int64_t count);
    [[nodiscard]] QByteArray ReadBytes(std::int64_t count);
    [[nodiscard]] std::int32_t ReadInt32();
    [[nodiscard]] std::uint8_t ReadByte();

    // Writes at the position, growing the stream (zero-filled) as needed.
    void WriteBuffer(const void* source, std::int64_t count);
    void WriteBytes(const QByteArray& bytes) { WriteBuffer(bytes.constData(), bytes.size()); }
    void WriteInt32(std::int32_t value);
    void WriteByte(std::uint8_t value) { WriteBuffer(&value, 1); }

private:
    QByteArray m_data;
    std::int64_t m_position = 0;
};

}  // namespace platform
