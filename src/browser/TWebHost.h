#pragma once

#include "HostOptions.h"
#include "WebControl.h"

#include <QStringList>
#include <QVariant>
#include <QWidget>

#include <exception>
#include <functional>
#include <memory>

namespace browser {

// Printing settings: kept, not used at run time.
struct TPrintOptions {
    QStringList htmlHeader{QStringLiteral("<HTML></HTML>")};
    bool portrait = true;
};

// The control that puts the web engine into the browser window: tells it what
// to download, answers its questions about the host, routes keystrokes, and
// hands its navigation, progress and completion events to the window.
//
// The engine's control is made on first need (CreateControl, or the first
// Navigate), from the web engine module; until then the host is an empty
// widget and the engine has not started. A page's request for a new window
// opens one of its own with a plain host of the same profile.
class TWebHost : public QWidget, private WebControlSite {
    Q_OBJECT

public:
    explicit TWebHost(QWidget* parent = nullptr);
    ~TWebHost() override;

    // Opens the address, making the control when needed; a refused address,
    // or an engine that cannot start, raises platform::Exception.
    void Navigate(const QString& url);

    // Makes the control now. Raises platform::Exception when the engine
    // cannot start.
    void CreateControl();
    [[nodiscard]] bool HasControl() const noexcept { return m_control != nullptr; }
    // The control's widget and its page (a QWebEngineView and its
    // QWebEnginePage); made when needed.
    [[nodiscard]] QWidget* ControlWidget();
    [[nodiscard]] QObject* Document();

    // After the last host is gone: the profile's files flushed, the engine
    // released. Nothing when the engine never started.
    static void ShutdownEngine();

    // Events. `pDisp` is the page; `url` the address; the other variants are
    // left empty (the engine does not report them). Setting `cancel` refuses
    // the navigation.
    std::function<void(TWebHost* sender, QObject* pDisp, const QVariant& url, const QVariant& flags,
                       const QVariant& targetFrameName, const QVariant& postData, const QVariant& headers,
                       bool& cancel)>
        OnBeforeNavigate2;
    std::function<void(TWebHost* sender, int32_t progress, int32_t progressMax)> OnProgressChange;
    std::function<void(TWebHost* sender, QObject* pDisp, const QVariant& url)> OnDocumentComplete;
    std::function<void(TWebHost* sender, const QString& text)> OnTitleChange;
    // A page's file input asks for files: the chosen ones (empty when
    // cancelled). Unset: a plain file dialog in the home folder.
    std::function<QStringList(const FileRequest& request)> OnChooseFiles;
    // Where to save a download (its suggested file name given); empty
    // cancels it. Unset: a save dialog in the user's download folder.
    std::function<QString(const QString& suggested)> OnChooseDownload;

    [[nodiscard]] const TDownloadControlOptions& DownloadOptions() const noexcept { return m_downloadOptions; }
    void SetDownloadOptions(const TDownloadControlOptions& options);
    [[nodiscard]] const TUserInterfaceOptions& UserInterfaceOptions() const noexcept { return m_interfaceOptions; }
    void SetUserInterfaceOptions(const TUserInterfaceOptions& options);
    [[nodiscard]] uint32_t DownloadControl() const noexcept { return m_downloadControl; }
    [[nodiscard]] uint32_t UserInterfaceFlags() const noexcept { return m_interfaceFlags; }

    // What the engine is told when it asks for an ambient property: the
    // download-control value for kDispidAmbientDlControl, nothing otherwise.
    [[nodiscard]] QVariant AmbientProperty(int32_t dispid) const;
    [[nodiscard]] HostInfo GetHostInfo() const noexcept { return {20, m_interfaceFlags, 0}; }

    // true: the program's own floating-point environment; false: every
    // floating-point exception masked while the engine runs.
    [[nodiscard]] bool fpExceptions() const noexcept { return m_fpExceptions; }
    void SetFpExceptions(bool exceptions);
    [[nodiscard]] bool EnableDDE() const noexcept { return m_enableDde; }
    void SetEnableDDE(bool enable) noexcept { m_enableDde = enable; }
    [[nodiscard]] bool ReplaceCaption() const noexcept { return m_replaceCaption; }
    void SetReplaceCaption(bool replace) noexcept { m_replaceCaption = replace; }
    // Appended to the engine's user agent when not empty; also the name of
    // the user-agent token value.
    [[nodiscard]] const QString& UserAgent() const noexcept { return m_userAgent; }
    void SetUserAgent(const QString& agent);
    [[nodiscard]] const QString& HelpFile() const noexcept { return m_helpFile; }
    void SetHelpFile(const QString& file) { m_helpFile = file; }
    [[nodiscard]] TPrintOptions& PrintOptions() noexcept { return m_printOptions; }

    // Fire the events as the engine's reports do, through the same guard: an
    // exception inside a handler goes to the error display.
    void ProgressChange(int32_t progress, int32_t progressMax) override;

    // After the window has applied its settings: keystroke routing on, the
    // user-agent token written.
    void Loaded();

    // Where an error raised inside an event handler is shown (the program's
    // standard error display); without one it is printed on stderr.
    static void SetErrorDisplay(std::function<void(const std::exception&)> display);

private:
    // The control's site.
    bool BeforeNavigate(const QUrl& url, int type, bool mainFrame) override;
    void DocumentComplete(const QUrl& url, bool frame) override;
    void TitleChange(const QString& title) override;
    QStringList ChooseFiles(const FileRequest& request) override;
    QString ChooseDownload(const QString& suggested) override;
    WebControl* NewWindow() override;

    void Dispatch(const std::function<void()>& handler);
    void ApplyOptions();
    bool eventFilter(QObject* watched, QEvent* event) override;

    std::unique_ptr<WebControl> m_control;
    TDownloadControlOptions m_downloadOptions;
    TUserInterfaceOptions m_interfaceOptions;
    uint32_t m_downloadControl = 0;
    uint32_t m_interfaceFlags = 0;
    bool m_fpExceptions = true;
    bool m_enableDde = false;
    bool m_replaceCaption = false;
    bool m_loaded = false;
    QString m_userAgent;
    QString m_tokenAgent;
    QString m_helpFile;
    TPrintOptions m_printOptions;
};

// Before the application object: Chromium refuses to start as root with its
// sandbox, so it is turned off then (and said on stderr).
void PrepareEngine();

}  // namespace browser
