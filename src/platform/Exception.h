#pragma once

#include <QString>
#include <stdexcept>

namespace platform {

// Base of every error the program raises on purpose. The message is what the
// standard error display shows; what() holds it as UTF-8 for std::exception users.
class Exception : public std::runtime_error {
public:
    explicit Exception(const QString& message)
        : std::runtime_error(message.toStdString()), m_message(message) {}

    [[nodiscard]] const QString& Message() const noexcept { return m_message; }

private:
    QString m_message;
};

}  // namespace platform
