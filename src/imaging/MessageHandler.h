#pragma once

#include <QString>

#include <functional>

namespace imaging {

// Where the binding's messages go (a message box in the program). Without a
// handler, or with an empty one, they are printed on stderr.
using MessageHandler = std::function<void(const QString&)>;

// Replaces the handler; returns the previous one.
MessageHandler SetMessageHandler(MessageHandler handler);

void ShowMessage(const QString& text);

}  // namespace imaging
