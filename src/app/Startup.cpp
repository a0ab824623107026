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
            form1->show();
            exitCode = application.exec();
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
