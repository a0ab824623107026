#include "TIniFile.h"

#include "PrivateProfile.h"
#include "ProfileInteger.h"

namespace platform {

QString TIniFile::ReadString(const QString& section, const QString& ident,
                             const QString& fallback) const
{
    return GetPrivateProfileString(section, ident, fallback, m_fileName);
}

int TIniFile::ReadInteger(const QString& section, const QString& ident, int fallback) const
{
    return ProfileIntegerOr(ReadString(section, ident, QString()), fallback);
}

void TIniFile::WriteString(const QString& section, const QString& ident, const QString& value)
{
    if (!WritePrivateProfileString(section, ident, value, m_fileName))
        RaiseWriteError();
}

void TIniFile::WriteInteger(const QString& section, const QString& ident, int value)
{
    WriteString(section, ident, QString::number(value));
}

void TIniFile::DeleteKey(const QString& section, const QString& ident)
{
    if (!DeletePrivateProfileKey(section, ident, m_fileName))
        RaiseWriteError();
}

void TIniFile::RaiseWriteError() const
{
    throw EIniFileException(QStringLiteral("Unable to write to %1").arg(m_fileName));
}

}  // namespace platform
