#include "Startup.h"

#include "TApplication.h"
#include "TForm1.h"
#include "TForm2.h"
#include "boards/TfcTreeCombo.h"
#include "browser/TWebHost.h"
#include "imaging/DLL96V1.h"
#include "imaging/DllSP96.h"
#include "imaging/MessageHandler.h"
#include "platform/FloatingPointEnvironment.h"

#include <QTimer>

#include <cstdio>
#include <memory>

namespace app {

int RunProgram(TApplication& application, const QString& executablePath,
               const platform::FloatingPointEnvironment& startEnvironment)
{
    int exitCode = 0;
    imaging::SetMessageHandler(&TApplication::ShowMessage);
    imaging::DllSP96::Initialize();
    imaging::DLL96V1::Initialize();
    try {
        auto form1 = std::make_unique<TForm1>(executablePath);
        if (!form1->ExitRequested()) {
            browser::TWebHost::SetErrorDisplay(&TApplication::ShowException);
            auto form2 = std::make_unique<TForm2>();
            form2->SetSelectorText([form = form1.get()] { return form->board()->Text(); });
            form1->SetBrowserWindow(form2.get());
            // The main window is the program: closing it ends the program
            // whatever other windows are open.
            application.setQuitOnLastWindowClosed(false);
            QObject::connect(form1.get(), &TForm1::Closed, &application, &QCoreApplication::quit);
            form1->show();
            // The engine starts once the main window has been idle for a
            // second (or at the first navigation, if that comes sooner), so
            // the window does not wait for it and the first page does not
            // either.
            QTimer warmUp;
            warmUp.setSingleShot(true);
            warmUp.setInterval(1000);
            QObject::connect(&warmUp, &QTimer::timeout, &application, [&] {
                if (QApplication::activeModalWidget() || QApplication::activePopupWidget() || !form1->isVisible()) {
                    warmUp.start();
                    return;
                }
                try {
                    form2->WebHost()->CreateControl();
                } catch (const std::exception& error) {
                    // The first navigation shows it to the user.
                    std::fprintf(stderr, "snimkorez: %s\n", error.what());
                }
            });
            warmUp.start();
            exitCode = application.exec();
            warmUp.stop();
            // Pages and their windows go before the engine's profile.
            form2.reset();
            browser::TWebHost::ShutdownEngine();
        }
    } catch (const std::exception& error) {
        TApplication::ShowException(error);
        exitCode = 1;
    }
    imaging::DLL96V1::Finalize();
    imaging::DllSP96::Finalize();
    startEnvironment.Restore();
    return exitCode;
}

}  // namespace app
