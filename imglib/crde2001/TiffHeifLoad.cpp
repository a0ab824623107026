// The codec module's TIFF and HEIF readers: those of the module beside it,
// opened on first use and closed when the codec module is unloaded. Without
// that module a TIFF or HEIF file is a format not read here.
#include "TiffHeif.h"

#include <dlfcn.h>

#include <string>
#include <utility>

namespace crde {

namespace {

class TiffHeifModule {
public:
    TiffHeifModule(const TiffHeifModule&) = delete;
    TiffHeifModule& operator=(const TiffHeifModule&) = delete;

    [[nodiscard]] static const TiffHeifEntries* Entries()
    {
        static const TiffHeifModule module;
        return module.m_entries;
    }

    ~TiffHeifModule()
    {
        if (m_handle)
            dlclose(m_handle);
    }

private:
    TiffHeifModule()
    {
        // The folder this module (holding this static object) was loaded
        // from, in the build tree or installed.
        Dl_info self{};
        if (dladdr(this, &self) == 0 || !self.dli_fname)
            return;
        std::string path = self.dli_fname;
        path.erase(path.rfind('/') + 1);  // npos + 1: no folder at all
        path += kTiffHeifModule;
        m_handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!m_handle)
            return;
        const auto entries = reinterpret_cast<TiffHeifEntries_fn>(dlsym(m_handle, kTiffHeifEntries));
        const TiffHeifEntries* given = entries ? entries() : nullptr;
        if (given && given->size == sizeof(TiffHeifEntries))
            m_entries = given;
    }

    void* m_handle = nullptr;
    const TiffHeifEntries* m_entries = nullptr;
};

// The module's entry `member`, or IL_ERR_UNSUPPORTED without the module.
template <auto Member, class... Arguments>
int16_t Call(Arguments&&... arguments)
{
    const TiffHeifEntries* e = TiffHeifModule::Entries();
    return e ? (e->*Member)(std::forward<Arguments>(arguments)...) : int16_t{IL_ERR_UNSUPPORTED};
}

}  // namespace

int16_t InfoTiff(const uint8_t* data, size_t size, int page, ImageInfo& info)
{
    return Call<&TiffHeifEntries::infoTiff>(data, size, page, info);
}

int16_t ReadTiff(const uint8_t* data, size_t size, int page, const Progress& progress, HDIB* dib)
{
    if (dib)
        *dib = nullptr;
    return Call<&TiffHeifEntries::readTiff>(data, size, page, progress, dib);
}

int16_t InfoHeif(const uint8_t* data, size_t size, ImageInfo& info)
{
    return Call<&TiffHeifEntries::infoHeif>(data, size, info);
}

int16_t ReadHeif(const uint8_t* data, size_t size, const Progress& progress, HDIB* dib)
{
    if (dib)
        *dib = nullptr;
    return Call<&TiffHeifEntries::readHeif>(data, size, progress, dib);
}

}  // namespace crde
