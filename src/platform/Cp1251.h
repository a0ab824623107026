#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace platform {

// Windows-1251 is the byte form of text in stored formats that came from the
// Windows world (node streams, old settings files). Characters the code page
// cannot hold become '?'.
[[nodiscard]] QByteArray ToCp1251(QStringView text);
[[nodiscard]] QString FromCp1251(QByteArrayView bytes);

// Strict check used to decide whether stored text is UTF-8 or a legacy code page.
[[nodiscard]] bool IsValidUtf8(QByteArrayView bytes);

}  // namespace platform
