#pragma once

#include "HostOptions.h"

#include <QStringList>
#include <QVariant>
#include <QWebEngineView>

#include <exception>
#include <functional>

class QWebEngineProfile;

namespace browser {

class WebHostPage;
class RequestFilter;

// Printing settings: kept, not used at run time.
struct TPrintOptions {
    QStringList htmlHeader{QStringLiteral("<HTML></HTML>")};
    bool portrait = true;
};

// The control that puts the web engine into the browser window: tells it what
// to download, answers its questions about the host, routes keystrokes, and
// hands its navigation, progress and completion events to the window.
class TWebHost : public QWebEngineView {
    Q_OBJECT

public:
    explicit TWebHost(QWidget* parent = nullptr);
    ~TWebHost() override;

    // Opens the address; a refused address raises platform::Exception.
    void Navigate(const QString& url);

    // Events. `pDisp` is the page; `url` the address; the other variants are
    // left empty (the engine does not report them). Setting `cancel` refuses
    // the navigation.
    std::function<void(TWebHost* sender, QObject* pDisp, const QVariant& url, const QVariant& flags,
                       const QVariant& targetFrameName, const QVariant& postData, const QVariant& headers,
                       bool& cancel)>
        OnBeforeNavigate2;
    std::function<void(TWebHost* sender, int32_t progress, int32_t progressMax)> OnProgressChange;
    std::function<void(TWebHost* sender, QObject* pDisp, const QVariant& url)> OnDocumentComplete;
    // A page's file input asks for files: the answer, or the engine's own
    // chooser when not set.
    std::function<QStringList(const QStringList& oldFiles)> OnChooseFiles;

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
    void ProgressChange(int32_t progress, int32_t progressMax);

    // After the window has applied its settings: keystroke routing on, the
    // user-agent token written.
    void Loaded();

    // Where an error raised inside an event handler is shown (the program's
    // standard error display); without one it is printed on stderr.
    static void SetErrorDisplay(std::function<void(const std::exception&)> display);

private:
    friend class WebHostPage;
    bool BeforeNavigate(const QUrl& url, int type, bool mainFrame);
    void FrameComplete(const QUrl& url);
    void Dispatch(const std::function<void()>& handler);
    void ApplyDownloadOptions();
    bool eventFilter(QObject* watched, QEvent* event) override;

    WebHostPage* m_page = nullptr;
    RequestFilter* m_requests = nullptr;
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
// sandbox, so it is turned off then (and said on stderr); the engine also
// wants shared OpenGL contexts set this early.
void PrepareEngine();

}  // namespace browser
