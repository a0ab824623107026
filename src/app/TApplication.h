#pragma once

#include <QApplication>
#include <QString>
#include <exception>
#include <functional>

namespace app {

// The application object. Its title captions the standard error display.
//
// Any exception that leaves an event handler ends up in ShowException: it is
// shown in a message box and the program goes on.
class TApplication : public QApplication {
    Q_OBJECT

public:
    TApplication(int& argc, char** argv);

    [[nodiscard]] static QString Title();

    bool notify(QObject* receiver, QEvent* event) override;

    // The standard error display: a modal box captioned with the title, the
    // error icon, OK, and the message with "." added by FormatErrorMessage.
    static void ShowException(const std::exception& error);
    static void ShowErrorMessage(const QString& message);
    // A plain message: the title as caption, no icon, OK.
    static void ShowMessage(const QString& message);

    // "." is appended when the message is not empty and its last character
    // sorts after ".".
    [[nodiscard]] static QString FormatErrorMessage(const QString& message);

    // Runs an event handler, showing any exception it raises.
    static void HandleEvent(const std::function<void()>& handler);
};

}  // namespace app
