// Feeds arbitrary bytes to the settings-file engine as a file, reads the keys
// the program reads, then checks that a write reads back and leaves a file
// that still parses to the same value.
#include "platform/PrivateProfile.h"
#include "platform/TIniFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("fuzz.ini"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }

    platform::TIniFile settings(path);
    (void)settings.ReadInteger(QStringLiteral("Window"), QStringLiteral("Tag"), 0);
    (void)settings.ReadInteger(QStringLiteral("Window"), QStringLiteral("Top"), 92);
    (void)settings.ReadString(QStringLiteral("Board"), QStringLiteral("Select"), QStringLiteral("x"));

    // Section and key names come from the input too, so odd names get written.
    const QString section = size > 0 ? QString::fromLatin1(reinterpret_cast<const char*>(data), 1).trimmed()
                                     : QString();
    const QString sectionName = section.isEmpty() || section.contains(u']') || section.contains(u'\n') ||
                                        section.contains(u'\r') || section.contains(u'=') ||
                                        section.contains(u'[')
                                    ? QStringLiteral("Window")
                                    : section;
    settings.WriteInteger(sectionName, QStringLiteral("Top"), -17);
    if (settings.ReadInteger(sectionName, QStringLiteral("Top"), 0) != -17)
        std::abort();
    settings.WriteString(QStringLiteral("Board"), QStringLiteral("Select"), QStringLiteral("ялта.рф"));
    if (settings.ReadString(QStringLiteral("Board"), QStringLiteral("Select"), QString()) !=
        QStringLiteral("ялта.рф"))
        std::abort();
    if (settings.ReadInteger(sectionName, QStringLiteral("Top"), 0) != -17)
        std::abort();
    return 0;
}
