#pragma once

// Finding, loading and unloading the imaging modules, and the exception trap
// around calls into them; shared by the two binding units (DLL96V1, DllSP96)
// and the DIB conversions.

#include "MessageHandler.h"

#include <QString>
#include <QStringList>

#include <exception>
#include <utility>

namespace imaging {

// A loaded module as dlopen returned it; null when not loaded.
using ModuleHandle = void*;

// Shown when a module reported an exception caught inside one of its entries,
// or when an exception was raised in the binding around such a call.
inline constexpr char kTrapMessage[] =
    "An exception error occured in the imaging dll. We recommend to exit the application "
    "and to restart it by clicking its icon!";

// The folder of the running executable, without a trailing separator.
[[nodiscard]] QString ProgramFolder();
// The per-user folder that stands in for the Windows folder.
[[nodiscard]] QString WindowsFolder();
// The system library folders, in search order.
[[nodiscard]] QStringList SystemFolders();

// The first folder of `folders` (separated by ';', empty parts skipped) that
// holds a file `name`, joined with it; empty when none does.
[[nodiscard]] QString FileSearch(const QString& name, const QString& folders);

// Loads `library` into `handle` when it is null, trying in this order: the
// DLL directory (a "/" is first appended to `dllDirectory` itself when
// missing), the program folder, dlopen's own search by bare name, the file
// searched in "program folder;system folders;Windows folder", that path (or
// the bare name) without its extension. A loaded handle is left as it is.
// Returns whether `handle` is loaded afterwards.
bool LoadModule(ModuleHandle& handle, const QString& library, QString& dllDirectory);

// dlclose when loaded; the handle becomes null.
void FreeModule(ModuleHandle& handle);

// The symbol `name` of a loaded module, or null.
[[nodiscard]] void* ResolveSymbol(ModuleHandle handle, const char* name);

// Asks the module's ILTakeException: true when an entry caught an exception
// since the last question. A module without that entry never reports one.
[[nodiscard]] bool TakeModuleException(ModuleHandle handle);

// How many dlopen calls succeeded in this process (a test seam).
[[nodiscard]] int LoadCount();

// Runs one call into a module inside the exception trap: when the module
// reports (ILTakeException) that it caught an exception, or the call raises
// on this side, kTrapMessage is shown and the result is false; otherwise
// `result` holds what the call returned.
template <class Result, class Call>
bool RunTrapped(ModuleHandle module, Call&& call, Result& result)
{
    try {
        result = call();
        if (!TakeModuleException(module))
            return true;
    } catch (const std::exception&) {
    }
    ShowMessage(QString::fromLatin1(kTrapMessage));
    return false;
}

// The same, giving `failure` after a trapped exception.
template <class Result, class Call>
Result Trapped(ModuleHandle module, Result failure, Call&& call)
{
    Result result = failure;
    return RunTrapped(module, std::forward<Call>(call), result) ? result : failure;
}

}  // namespace imaging
