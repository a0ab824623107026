#include "UserAgentToken.h"

#include "platform/TIniFile.h"

#include <QDir>
#include <QStandardPaths>

#include <cstdio>
#include <exception>

namespace browser {

QString KeyStoreFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/snimkorez/keys.ini");
}

QString TokenValueName(const QString& userAgent)
{
    return userAgent.isEmpty() ? QStringLiteral("@") : userAgent;
}

void WriteUserAgentToken(const QString& userAgent)
{
    try {
        QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                      QStringLiteral("/snimkorez"));
        platform::TIniFile(KeyStoreFile()).WriteString(kPostPlatformKey, TokenValueName(userAgent), QString());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "snimkorez: %s\n", error.what());
    }
}

void DeleteUserAgentToken(const QString& userAgent)
{
    try {
        platform::TIniFile(KeyStoreFile()).DeleteKey(kPostPlatformKey, TokenValueName(userAgent));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "snimkorez: %s\n", error.what());
    }
}

}  // namespace browser
