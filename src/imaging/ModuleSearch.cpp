#include "ModuleSearch.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <string_view>

namespace imaging {

namespace {

void* Open(const std::string& path)
{
    return path.empty() ? nullptr : dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

std::string WithoutExtension(const std::string& path)
{
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    const bool extension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return extension ? path.substr(0, dot) : path;
}

}  // namespace

std::string ExecutableFolder()
{
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return ".";
    const std::string_view program(path, static_cast<size_t>(length));
    const size_t slash = program.rfind('/');
    if (slash == std::string_view::npos)
        return ".";
    return slash == 0 ? "/" : std::string(program.substr(0, slash));
}

std::string SystemLibraryFolders()
{
    const std::string_view arch = SNIMKOREZ_LIBRARY_ARCHITECTURE;
    std::string folders = "/usr/local/lib";
    if (!arch.empty())
        folders.append(";/usr/lib/").append(arch).append(";/lib/").append(arch);
    return folders + ";/usr/lib;/lib";
}

std::string FindInFolders(const std::string& name, const std::string& folders)
{
    size_t start = 0;
    while (start <= folders.size()) {
        size_t end = folders.find(';', start);
        if (end == std::string::npos)
            end = folders.size();
        std::string path = folders.substr(start, end - start);
        start = end + 1;
        if (path.empty())
            continue;
        if (path.back() != '/')
            path += '/';
        path += name;
        struct stat status {};
        if (::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode))
            return path;
    }
    return {};
}

void* OpenModule(const std::string& library, const std::string& directory, const std::string& lastFolder)
{
    void* handle = directory.empty() ? nullptr : Open(directory + library);
    const std::string program = ExecutableFolder();
    if (!handle)
        handle = Open(program + "/" + library);
    if (!handle)
        handle = Open(library);
    std::string found;
    if (!handle) {
        found = FindInFolders(library, program + ";" + SystemLibraryFolders() + ";" + lastFolder);
        handle = Open(found);
    }
    if (!handle)
        handle = Open(WithoutExtension(found.empty() ? library : found));
    return handle;
}

}  // namespace imaging
