#pragma once

#include <QStringView>
#include <cstdint>
#include <optional>

namespace platform {

// The reading rule for integers kept as text in settings files: decimal with an
// optional sign, or hexadecimal when the text is longer than two characters and
// starts with "0x"/"0X" (up to eight digits, taken as a 32-bit two's complement
// pattern, so "0xFFFFFFFF" is -1). Anything else, including decimal overflow,
// has no value.
[[nodiscard]] std::optional<std::int32_t> ParseProfileInteger(QStringView text);

[[nodiscard]] inline std::int32_t ProfileIntegerOr(QStringView text, std::int32_t fallback)
{
    return ParseProfileInteger(text).value_or(fallback);
}

}  // namespace platform
