#include "Startup.h"
#include "browser/TWebHost.h"
#include "TApplication.h"
#include "platform/FloatingPointEnvironment.h"

int main(int argc, char** argv)
{
    platform::FloatingPointEnvironment startEnvironment;
    startEnvironment.Remember();
    browser::PrepareEngine();
    app::TApplication application(argc, argv);
    return app::RunProgram(application, app::TApplication::applicationFilePath(), startEnvironment);
}
