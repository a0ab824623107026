#pragma once

// What the browser host is told to download and how it answers the engine's
// questions, as plain values: the flag values, the ambient id and the hook
// answers are the interface that binds the engine underneath.

#include <cstdint>
#include <set>

namespace browser {

// What the browser may download and run; each member stands for the
// download-control flag of the same name.
enum class TDownloadControlOption {
    DLCTL_DLIMAGES,
    DLCTL_VIDEOS,
    DLCTL_BGSOUNDS,
    DLCTL_NO_SCRIPTS,
    DLCTL_NO_JAVA,
    DLCTL_NO_RUNACTIVEXCTLS,
    DLCTL_NO_DLACTIVEXCTLS,
    DLCTL_DOWNLOADONLY,
    DLCTL_NO_FRAMEDOWNLOAD,
    DLCTL_RESYNCHRONIZE,
    DLCTL_PRAGMA_NO_CACHE,
    DLCTL_NO_BEHAVIORS,
    DLCTL_NO_METACHARSET,
    DLCTL_URL_ENCODING_DISABLE_UTF8,
    DLCTL_URL_ENCODING_ENABLE_UTF8,
    DLCTL_FORCEOFFLINE,
    DLCTL_NO_CLIENTPULL,
    DLCTL_SILENT,
    DLCTL_OFFLINE,
};
inline constexpr int kDownloadControlOptionCount = 19;
using TDownloadControlOptions = std::set<TDownloadControlOption>;

// Host user-interface flags; each stands for DOCHOSTUIFLAG_ and the name.
enum class TUserInterfaceOption {
    DIALOG,
    DISABLE_HELP_MENU,
    NO3DBORDER,
    SCROLL_NO,
    DISABLE_SCRIPT_INACTIVE,
    OPENNEWWIN,
    DISABLE_OFFSCREEN,
    FLAT_SCROLLBAR,
    DIV_BLOCKDEFAULT,
    ACTIVATE_CLIENTHIT_ONLY,
    OVERRIDEBEHAVIORFACTORY,
    CODEPAGELINKEDFONTS,
    URL_ENCODING_DISABLE_UTF8,
    URL_ENCODING_ENABLE_UTF8,
    ENABLE_FORMS_AUTOCOMPLETE,
    ENABLE_INPLACE_NAVIGATION,
    IME_ENABLE_RECONVERSION,
};
inline constexpr int kUserInterfaceOptionCount = 17;
using TUserInterfaceOptions = std::set<TUserInterfaceOption>;

[[nodiscard]] uint32_t FlagValue(TDownloadControlOption option) noexcept;
[[nodiscard]] uint32_t FlagValue(TUserInterfaceOption option) noexcept;
// The bitwise OR of the members' flag values.
[[nodiscard]] uint32_t DownloadControlValue(const TDownloadControlOptions& options) noexcept;
[[nodiscard]] uint32_t UserInterfaceValue(const TUserInterfaceOptions& options) noexcept;

// The ambient property through which the engine asks for the download-control
// value.
inline constexpr int32_t kDispidAmbientDlControl = -5512;

// The record the host fills when asked for host information.
struct HostInfo {
    uint32_t size = 20;
    uint32_t flags = 0;
    uint32_t doubleClick = 0;  // the default behaviour
};

// Result codes of the host's answers.
inline constexpr int32_t kOk = 0;                                   // S_OK
inline constexpr int32_t kNotHandled = 1;                           // S_FALSE
inline constexpr int32_t kNotImplemented = int32_t(0x80004001u);    // E_NOTIMPL
inline constexpr int32_t kNoInterface = int32_t(0x80004002u);       // E_NOINTERFACE
inline constexpr int32_t kCommandNotSupported = int32_t(0x80040100u);  // OLECMDERR_E_NOTSUPPORTED
inline constexpr int32_t kUnknownGroup = int32_t(0x80040104u);         // OLECMDERR_E_UNKNOWNGROUP

// The questions the engine may put to its host.
enum class HostRequest {
    ShowContextMenu, ShowUI, HideUI, UpdateUI, EnableModeless, DocWindowActivate, FrameWindowActivate,
    ResizeBorder, TranslateAccelerator, OptionKeyPath, TranslateUrl, ShowMessage,
    GetDropTarget, GetExternal, FilterDataObject, OverrideKeyPath, ShowHelp,
    TypeInfoCount, TypeInfo, IdsOfNames, QueryService, CommandStatus, CommandExec,
};

// The answer when no handler is assigned. `hasHelpFile` counts for ShowHelp,
// `commandGroup` (a command group was given) for CommandExec.
[[nodiscard]] int32_t DefaultAnswer(HostRequest request, bool hasHelpFile = false,
                                    bool commandGroup = false) noexcept;

// Whether a key message is offered to accelerator translation (shortcuts)
// before the page gets it: Backspace and Enter never are, nor Left and Right
// with the extended-key flag; every other key is.
[[nodiscard]] bool OfferedToAccelerators(int virtualKey, bool extended) noexcept;

}  // namespace browser
