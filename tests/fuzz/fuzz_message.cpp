// The message file formats (.SCM and .CMS) on any bytes: a parse either
// gives a message with at least one line or refuses with an exception.
#include "preview/MessageFile.h"

#include <QGuiApplication>

#include <cstdint>
#include <cstdlib>
#include <exception>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // Fonts need the application object.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication application(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    for (const bool credits : {false, true}) {
        try {
            const preview::MessageFile message = preview::ParseMessageFile(bytes, credits);
            if (message.lines.isEmpty() || (!credits && message.lines.size() != 1) || message.speed < 0 ||
                message.speed > 100)
                std::abort();
        } catch (const std::exception&) {
        }
    }
    return 0;
}
