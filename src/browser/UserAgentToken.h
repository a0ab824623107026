#pragma once

#include <QString>

namespace browser {

// The user-agent token: a value under the "Post Platform" key of the
// per-user key store (an INI file in the configuration folder), written when
// the browser host is loaded and deleted when it goes.
inline const QString kPostPlatformKey = QStringLiteral(
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\User Agent\\Post Platform");

// The key store file: snimkorez/keys.ini in the per-user configuration folder.
[[nodiscard]] QString KeyStoreFile();
// The value's name: the user agent, or "@" (the key's unnamed default value)
// when that is empty.
[[nodiscard]] QString TokenValueName(const QString& userAgent);

// Both report a store that cannot be written on stderr and go on: a missing
// token must not keep the browser from working.
void WriteUserAgentToken(const QString& userAgent);
void DeleteUserAgentToken(const QString& userAgent);

}  // namespace browser
