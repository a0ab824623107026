#pragma once

// Where the imaging modules are looked for, shared by the binding and
// snimkorez-reduce. No Qt here: snimkorez-reduce starts without it.

#include <string>

namespace imaging {

// The folder of the running executable, without a trailing "/"; "." when
// it cannot be told.
[[nodiscard]] std::string ExecutableFolder();

// The system library folders, in search order, separated by ';'.
[[nodiscard]] std::string SystemLibraryFolders();

// The first folder of `folders` (separated by ';', empty parts skipped) that
// holds a regular file `name`, joined with it; empty when none does.
[[nodiscard]] std::string FindInFolders(const std::string& name, const std::string& folders);

// Loads `library` (dlopen, RTLD_NOW | RTLD_LOCAL), trying in this order:
// `directory` + library when `directory` is not empty (it ends in "/"), the
// program folder, dlopen's own search by bare name, the file found in
// "program folder;system folders;" + `lastFolder`, that path (or the bare
// name) without its extension. Null when none loads.
[[nodiscard]] void* OpenModule(const std::string& library, const std::string& directory = {},
                               const std::string& lastFolder = {});

}  // namespace imaging
