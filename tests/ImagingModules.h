#pragma once

// The imaging binding started for a test, looking for its modules in the
// build folder first, and stopped again when the test is done.

#include "imaging/DLL96V1.h"
#include "imaging/DllSP96.h"

#include <QString>

namespace testfiles {

class ImagingModules {
public:
    explicit ImagingModules(const QString& folder)
    {
        imaging::DLL96V1::Initialize();
        imaging::DllSP96::Initialize();
        imaging::DLL96V1::SetDllDirectory(folder);
    }
    ~ImagingModules()
    {
        imaging::DllSP96::Finalize();
        imaging::DLL96V1::Finalize();
    }
    ImagingModules(const ImagingModules&) = delete;
    ImagingModules& operator=(const ImagingModules&) = delete;
};

}  // namespace testfiles
