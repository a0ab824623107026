#pragma once

// Small file helpers the test binaries share.

#include <QByteArray>
#include <QFile>
#include <QString>

namespace testfiles {

// The whole file, or nothing when it cannot be read.
inline QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace testfiles
