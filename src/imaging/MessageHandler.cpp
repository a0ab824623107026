#include "MessageHandler.h"

#include <cstdio>
#include <utility>

namespace imaging {

namespace {
MessageHandler& Handler()
{
    static MessageHandler handler;
    return handler;
}
}  // namespace

MessageHandler SetMessageHandler(MessageHandler handler)
{
    return std::exchange(Handler(), std::move(handler));
}

void ShowMessage(const QString& text)
{
    if (const auto& handler = Handler()) {
        handler(text);
        return;
    }
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

}  // namespace imaging
