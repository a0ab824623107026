#pragma once

// Small file helpers the test binaries share.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTest>

namespace testfiles {

// The whole file, or nothing when it cannot be read.
inline QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

#ifdef SNIMKOREZ_TEST_DATA
// A file of tests/data, for the tests that read them.
inline QString Data(const QString& name)
{
    return QStringLiteral(SNIMKOREZ_TEST_DATA "/") + name;
}
#endif

// Writes the whole file; the running test fails when it cannot.
inline void WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

}  // namespace testfiles
