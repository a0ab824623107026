#include "ModuleLoader.h"

#include "ModuleSearch.h"

#include <QFile>
#include <QStandardPaths>

#include <dlfcn.h>

#include <map>
#include <mutex>

namespace imaging {

namespace {

int g_loadCount = 0;

// Per module with calls in flight: how many, and the unloads put off until
// the last of them ends (each a reference of its own to give back).
struct InFlight {
    int calls = 0;
    int pendingUnloads = 0;
};

std::mutex& InFlightLock()
{
    static std::mutex lock;
    return lock;
}

std::map<ModuleHandle, InFlight>& InFlightModules()
{
    static std::map<ModuleHandle, InFlight> modules;
    return modules;
}

}  // namespace

QString ProgramFolder()
{
    // Not QCoreApplication::applicationDirPath: the binding also runs before
    // (and without) an application object.
    return QFile::decodeName(ExecutableFolder().c_str());
}

QString WindowsFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/snimkorez");
}

QStringList SystemFolders()
{
    return QFile::decodeName(SystemLibraryFolders().c_str()).split(QLatin1Char(';'));
}

QString FileSearch(const QString& name, const QString& folders)
{
    return QFile::decodeName(FindInFolders(QFile::encodeName(name).toStdString(),
                                           QFile::encodeName(folders).toStdString())
                                 .c_str());
}

bool LoadModule(ModuleHandle& handle, const QString& library, QString& dllDirectory)
{
    if (handle)
        return true;
    if (!dllDirectory.isEmpty() && !dllDirectory.endsWith(QLatin1Char('/')))
        dllDirectory += QLatin1Char('/');
    handle = OpenModule(QFile::encodeName(library).toStdString(), QFile::encodeName(dllDirectory).toStdString(),
                        QFile::encodeName(WindowsFolder()).toStdString());
    if (handle)
        ++g_loadCount;
    return handle != nullptr;
}

void FreeModule(ModuleHandle& handle)
{
    ModuleHandle module = handle;
    handle = nullptr;
    if (!module)
        return;
    {
        const std::lock_guard lock(InFlightLock());
        const auto found = InFlightModules().find(module);
        if (found != InFlightModules().end()) {
            ++found->second.pendingUnloads;
            return;
        }
    }
    dlclose(module);
}

ModuleCall::ModuleCall(ModuleHandle module) : m_module(module)
{
    if (!m_module)
        return;
    const std::lock_guard lock(InFlightLock());
    ++InFlightModules()[m_module].calls;
}

ModuleCall::~ModuleCall()
{
    if (!m_module)
        return;
    int unloads = 0;
    {
        const std::lock_guard lock(InFlightLock());
        const auto found = InFlightModules().find(m_module);
        if (found == InFlightModules().end() || --found->second.calls > 0)
            return;
        unloads = found->second.pendingUnloads;
        InFlightModules().erase(found);
    }
    while (unloads-- > 0)
        dlclose(m_module);
}

int CallsInFlight(ModuleHandle module)
{
    const std::lock_guard lock(InFlightLock());
    const auto found = InFlightModules().find(module);
    return found == InFlightModules().end() ? 0 : found->second.calls;
}

void* ResolveSymbol(ModuleHandle handle, const char* name)
{
    return handle ? dlsym(handle, name) : nullptr;
}

bool TakeModuleException(ModuleHandle handle)
{
    using TakeException = int (*)();
    const auto take = reinterpret_cast<TakeException>(ResolveSymbol(handle, "ILTakeException"));
    return take && take() == 1;
}

int LoadCount()
{
    return g_loadCount;
}

}  // namespace imaging
