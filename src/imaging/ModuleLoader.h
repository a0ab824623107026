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

// Loads `library` into `handle` when it is null, in the order of
// OpenModule (ModuleSearch.h): the DLL directory (a "/" is first appended to
// `dllDirectory` itself when missing), the program folder, dlopen's own
// search, the program, system and Windows folders. A loaded handle is left
// as it is. Returns whether `handle` is loaded afterwards.
bool LoadModule(ModuleHandle& handle, const QString& library, QString& dllDirectory);

// Unloads a loaded module (dlclose); the handle becomes null at once. While
// a call into the module is in flight (ModuleCall) the dlclose waits until
// the outermost such call has ended: a progress callback may run events that
// start another call, and that call's failure must not take the code of the
// calls below it away. A load in the meantime (LoadModule on a null handle)
// gets the module still in memory and holds a reference of its own.
void FreeModule(ModuleHandle& handle);

// Counts one call into `module` as in flight while it lives (nothing for a
// null module). Nests: the same module may be called again from inside.
class ModuleCall {
public:
    explicit ModuleCall(ModuleHandle module);
    ~ModuleCall();
    ModuleCall(const ModuleCall&) = delete;
    ModuleCall& operator=(const ModuleCall&) = delete;

private:
    ModuleHandle m_module;
};

// How many ModuleCall objects for `module` are alive now: 0 when no call
// into it is in flight (a test seam; one call may count more than once).
[[nodiscard]] int CallsInFlight(ModuleHandle module);

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
// `result` holds what the call returned. The call and the question after it
// count as a call in flight (ModuleCall).
template <class Result, class Call>
bool RunTrapped(ModuleHandle module, Call&& call, Result& result)
{
    try {
        const ModuleCall inFlight(module);
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
