#include "HostOptions.h"

#include <array>
#include <cstddef>

namespace browser {

namespace {

// The platform's values, in the order of the enumerations.
constexpr std::array<uint32_t, kDownloadControlOptionCount> kDownloadFlags = {
    0x10,       0x20,       0x40,       0x80,       0x100,      0x200,      0x400,
    0x800,      0x1000,     0x2000,     0x4000,     0x8000,     0x10000,    0x20000,
    0x40000,    0x10000000, 0x20000000, 0x40000000, 0x80000000,
};

constexpr std::array<uint32_t, kUserInterfaceOptionCount> kInterfaceFlags = {
    0x1,   0x2,   0x4,   0x8,    0x10,   0x20,    0x40,    0x80,   0x100,
    0x200, 0x400, 0x800, 0x1000, 0x2000, 0x4000, 0x10000, 0x20000,
};

}  // namespace

uint32_t FlagValue(TDownloadControlOption option) noexcept
{
    return kDownloadFlags[static_cast<size_t>(option)];
}

uint32_t FlagValue(TUserInterfaceOption option) noexcept
{
    return kInterfaceFlags[static_cast<size_t>(option)];
}

uint32_t DownloadControlValue(const TDownloadControlOptions& options) noexcept
{
    uint32_t value = 0;
    for (const TDownloadControlOption option : options)
        value |= FlagValue(option);
    return value;
}

uint32_t UserInterfaceValue(const TUserInterfaceOptions& options) noexcept
{
    uint32_t value = 0;
    for (const TUserInterfaceOption option : options)
        value |= FlagValue(option);
    return value;
}

int32_t DefaultAnswer(HostRequest request, bool hasHelpFile, bool commandGroup) noexcept
{
    switch (request) {
    case HostRequest::GetDropTarget:
    case HostRequest::OverrideKeyPath:
    case HostRequest::CommandStatus:
        return kOk;
    case HostRequest::ShowHelp:
        return hasHelpFile ? kOk : kNotHandled;
    case HostRequest::TypeInfoCount:
    case HostRequest::TypeInfo:
    case HostRequest::IdsOfNames:
        return kNotImplemented;
    case HostRequest::QueryService:
        return kNoInterface;
    case HostRequest::CommandExec:
        return commandGroup ? kCommandNotSupported : kUnknownGroup;
    default:
        return kNotHandled;
    }
}

bool OfferedToAccelerators(int virtualKey, bool extended) noexcept
{
    constexpr int kBackspace = 8, kEnter = 13, kLeft = 0x25, kRight = 0x27;
    if (virtualKey == kBackspace || virtualKey == kEnter)
        return false;
    return !(extended && (virtualKey == kLeft || virtualKey == kRight));
}

}  // namespace browser
