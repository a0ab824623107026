#include "Startup.h"
#include "TApplication.h"
#include "platform/FloatingPointEnvironment.h"

int main(int argc, char** argv)
{
    platform::FloatingPointEnvironment startEnvironment;
    startEnvironment.Remember();
    app::TApplication application(argc, argv);
    return app::RunProgram(application, app::TApplication::applicationFilePath(), startEnvironment);
}
