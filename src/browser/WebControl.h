#pragma once

// The web browser control and its site: the boundary between the browser
// host (linked into the program) and the web engine module
// (snimkorez-webengine.so), which the host loads on first need so that the
// engine costs nothing until a page is wanted. Both sides are built together;
// nothing but this header is shared across it.

#include <QString>
#include <QStringList>
#include <QUrl>

class QObject;
class QWidget;

namespace browser {

// What the control may download and run, from the host's download options.
struct EngineOptions {
    bool images = true;
    bool scripts = true;
    bool plugins = true;
    bool autoplay = true;
    bool audio = true;
    bool silent = false;    // the page's dialogs answered unseen, no error pages
    bool offline = false;   // no http(s) request leaves
    bool frames = true;
    bool noCache = false;   // requests ask the server, not a cache
    bool scrollBars = true;
};

// A page's file input asking for files.
struct FileRequest {
    enum class Mode { Open, OpenMultiple, Folder, Save };
    Mode mode = Mode::Open;
    QStringList oldFiles;
    // The input's accept list: MIME types ("image/png", "image/*") and
    // extensions (".jpg"), as the page gave them.
    QStringList accept;
};

class WebControl;

// The host, as the control sees it. Every call arrives on the GUI thread.
class WebControlSite {
public:
    // Before each navigation of the page, a frame or a followed link; false
    // refuses it.
    virtual bool BeforeNavigate(const QUrl& url, int type, bool mainFrame) = 0;
    virtual void ProgressChange(int progress, int progressMax) = 0;
    // The top document (`frame` false) or a frame finished loading.
    virtual void DocumentComplete(const QUrl& url, bool frame) = 0;
    virtual void TitleChange(const QString& title) = 0;
    // The chosen files; empty when cancelled.
    virtual QStringList ChooseFiles(const FileRequest& request) = 0;
    // Where to save a download named `suggested` (a file name); empty cancels.
    virtual QString ChooseDownload(const QString& suggested) = 0;
    // The control of a new browser window for the page's request, or null to
    // refuse it.
    virtual WebControl* NewWindow() = 0;

protected:
    ~WebControlSite() = default;
};

// The control: a widget showing one page.
class WebControl {
public:
    virtual ~WebControl() = default;
    [[nodiscard]] virtual QWidget* Widget() = 0;
    // The page object (a QWebEnginePage).
    [[nodiscard]] virtual QObject* Document() = 0;
    virtual void Navigate(const QUrl& url) = 0;
    virtual void SetOptions(const EngineOptions& options) = 0;
    // Appended to the engine's own user agent with a space; empty: the
    // engine's own. The agent belongs to the profile all pages share.
    virtual void SetUserAgent(const QString& agent) = 0;
};

// The module's entries, resolved by name.
inline constexpr char kModuleName[] = "snimkorez-webengine.so";
// WebControl* (QWidget* parent, WebControlSite* site): a control, or null
// when the engine cannot start.
inline constexpr char kCreateEntry[] = "snimkorez_create_web_control";
using CreateControlEntry = WebControl* (*)(QWidget* parent, WebControlSite* site);
// void (): after the last control is gone, flushes and releases the profile.
inline constexpr char kShutdownEntry[] = "snimkorez_shutdown_web_engine";
using ShutdownEntry = void (*)();

}  // namespace browser
