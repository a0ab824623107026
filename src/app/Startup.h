#pragma once

#include <QString>

namespace platform { class FloatingPointEnvironment; }

namespace app {

class TApplication;

// From the application object to the end of the message loop: creates the main
// window (which reads the settings and may ask to end at once, with code 0),
// the hidden browser window, runs the loop, then restores the floating-point
// environment remembered before anything else started. Returns the exit code.
int RunProgram(TApplication& application, const QString& executablePath,
               const platform::FloatingPointEnvironment& startEnvironment);

}  // namespace app
