#include "ModuleLoader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
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

ModuleHandle Open(const QString& path)
{
    if (path.isEmpty())
        return nullptr;
    ModuleHandle handle = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
    if (handle)
        ++g_loadCount;
    return handle;
}

QString WithoutExtension(const QString& path)
{
    const int slash = static_cast<int>(path.lastIndexOf(QLatin1Char('/')));
    const int dot = static_cast<int>(path.lastIndexOf(QLatin1Char('.')));
    return dot > slash ? path.left(dot) : path;
}

}  // namespace

QString ProgramFolder()
{
    // Not QCoreApplication::applicationDirPath: the binding also runs before
    // (and without) an application object.
    const QString executable = QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
    return QFileInfo(executable).absolutePath();
}

QString WindowsFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/snimkorez");
}

QStringList SystemFolders()
{
    const QString arch = QStringLiteral(SNIMKOREZ_LIBRARY_ARCHITECTURE);
    QStringList folders{QStringLiteral("/usr/local/lib")};
    if (!arch.isEmpty())
        folders << QStringLiteral("/usr/lib/") + arch << QStringLiteral("/lib/") + arch;
    folders << QStringLiteral("/usr/lib") << QStringLiteral("/lib");
    return folders;
}

QString FileSearch(const QString& name, const QString& folders)
{
    for (const QString& folder : folders.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString path = QDir(folder).filePath(name);
        if (QFileInfo(path).isFile())
            return path;
    }
    return {};
}

bool LoadModule(ModuleHandle& handle, const QString& library, QString& dllDirectory)
{
    if (!dllDirectory.isEmpty() && !handle) {
        if (!dllDirectory.endsWith(QLatin1Char('/')))
            dllDirectory += QLatin1Char('/');
        handle = Open(dllDirectory + library);
    }
    if (!handle)
        handle = Open(ProgramFolder() + QLatin1Char('/') + library);
    if (!handle)
        handle = Open(library);
    QString found;
    if (!handle) {
        found = FileSearch(library, ProgramFolder() + QLatin1Char(';') +
                                        SystemFolders().join(QLatin1Char(';')) +
                                        QLatin1Char(';') + WindowsFolder());
        handle = Open(found);
    }
    if (!handle)
        handle = Open(WithoutExtension(found.isEmpty() ? library : found));
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
