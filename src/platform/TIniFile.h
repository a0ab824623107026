#pragma once

#include "Exception.h"

#include <QString>

namespace platform {

// Raised when the platform refuses to write a settings file.
class EIniFileException : public Exception {
public:
    using Exception::Exception;
};

// A settings-file object: every call reads or writes one value through the
// private-profile functions, naming the file by its path. Opening one creates
// no file; reads never fail.
class TIniFile {
public:
    explicit TIniFile(QString fileName) : m_fileName(std::move(fileName)) {}

    [[nodiscard]] const QString& FileName() const noexcept { return m_fileName; }

    [[nodiscard]] QString ReadString(const QString& section, const QString& ident,
                                     const QString& fallback) const;
    // See ParseProfileInteger for what counts as an integer.
    [[nodiscard]] int ReadInteger(const QString& section, const QString& ident, int fallback) const;

    // These raise EIniFileException "Unable to write to <file>" when refused.
    void WriteString(const QString& section, const QString& ident, const QString& value);
    void WriteInteger(const QString& section, const QString& ident, int value);
    void DeleteKey(const QString& section, const QString& ident);

private:
    [[noreturn]] void RaiseWriteError() const;

    QString m_fileName;
};

}  // namespace platform
