#include "TWebHost.h"

#include "UserAgentToken.h"
#include "platform/Exception.h"
#include "platform/FloatingPointEnvironment.h"

#include <QApplication>
#include <QKeyEvent>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInfo>
#include <QWebEngineUrlRequestInterceptor>

#include <cfenv>
#include <cstdio>
#include <unistd.h>

namespace browser {

namespace {

std::function<void(const std::exception&)>& ErrorDisplay()
{
    static std::function<void(const std::exception&)> display;
    return display;
}

// The program's floating-point environment as it was when this unit was
// loaded, before the engine or anything else could change it.
const platform::FloatingPointEnvironment& StartEnvironment()
{
    static const platform::FloatingPointEnvironment saved = [] {
        platform::FloatingPointEnvironment environment;
        environment.Remember();
        return environment;
    }();
    return saved;
}
[[maybe_unused]] const platform::FloatingPointEnvironment& g_savedAtLoad = StartEnvironment();

// The engine tells of no frame's completion, so each frame tells of its own
// through the console, from a script world the page cannot see.
const QString kFrameMark = QStringLiteral("\x01snimkorez-frame-complete ");

QWebEngineScript FrameCompletionScript()
{
    QWebEngineScript script;
    script.setName(QStringLiteral("snimkorez-frame-complete"));
    script.setInjectionPoint(QWebEngineScript::DocumentReady);
    script.setWorldId(QWebEngineScript::ApplicationWorld);
    script.setRunsOnSubFrames(true);
    script.setSourceCode(QStringLiteral(
        "if (window !== window.top) {"
        "  const tell = () => console.log('\\x01snimkorez-frame-complete ' + location.href);"
        "  if (document.readyState === 'complete') tell();"
        "  else window.addEventListener('load', tell);"
        "}"));
    return script;
}

}  // namespace

// Requests the download options keep from the network.
class RequestFilter : public QWebEngineUrlRequestInterceptor {
public:
    using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;
    TDownloadControlOptions options;

    void interceptRequest(QWebEngineUrlRequestInfo& info) override
    {
        const auto has = [this](TDownloadControlOption option) { return options.count(option) != 0; };
        const auto type = info.resourceType();
        if (!has(TDownloadControlOption::DLCTL_DLIMAGES) && (type == QWebEngineUrlRequestInfo::ResourceTypeImage ||
                                                            type == QWebEngineUrlRequestInfo::ResourceTypeFavicon))
            info.block(true);
        if (has(TDownloadControlOption::DLCTL_NO_FRAMEDOWNLOAD) &&
            type == QWebEngineUrlRequestInfo::ResourceTypeSubFrame)
            info.block(true);
        if (has(TDownloadControlOption::DLCTL_NO_SCRIPTS) && type == QWebEngineUrlRequestInfo::ResourceTypeScript)
            info.block(true);
        const QString scheme = info.requestUrl().scheme();
        if ((has(TDownloadControlOption::DLCTL_OFFLINE) || has(TDownloadControlOption::DLCTL_FORCEOFFLINE)) &&
            (scheme == QLatin1String("http") || scheme == QLatin1String("https")))
            info.block(true);
        if (has(TDownloadControlOption::DLCTL_PRAGMA_NO_CACHE) || has(TDownloadControlOption::DLCTL_RESYNCHRONIZE)) {
            info.setHttpHeader("Cache-Control", "no-cache");
            info.setHttpHeader("Pragma", "no-cache");
        }
    }
};

class WebHostPage : public QWebEnginePage {
public:
    WebHostPage(QWebEngineProfile* profile, TWebHost* host) : QWebEnginePage(profile, host), m_host(host) {}
    bool silent = false;

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override
    {
        return m_host->BeforeNavigate(url, static_cast<int>(type), isMainFrame);
    }

    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message, int line,
                                  const QString& source) override
    {
        if (message.startsWith(kFrameMark)) {
            m_host->FrameComplete(QUrl(message.mid(kFrameMark.size())));
            return;
        }
        QWebEnginePage::javaScriptConsoleMessage(level, message, line, source);
    }

    QStringList chooseFiles(FileSelectionMode mode, const QStringList& oldFiles,
                            const QStringList& acceptedMimeTypes) override
    {
        if (!m_host->OnChooseFiles)
            return QWebEnginePage::chooseFiles(mode, oldFiles, acceptedMimeTypes);
        QStringList files;
        m_host->Dispatch([&] { files = m_host->OnChooseFiles(oldFiles); });
        return mode == FileSelectOpen && files.size() > 1 ? files.mid(0, 1) : files;
    }

    // Silent mode: the page's dialogs are answered without being shown.
    void javaScriptAlert(const QUrl& origin, const QString& message) override
    {
        if (!silent)
            QWebEnginePage::javaScriptAlert(origin, message);
    }
    bool javaScriptConfirm(const QUrl& origin, const QString& message) override
    {
        return silent ? false : QWebEnginePage::javaScriptConfirm(origin, message);
    }
    bool javaScriptPrompt(const QUrl& origin, const QString& message, const QString& value, QString* result) override
    {
        return silent ? false : QWebEnginePage::javaScriptPrompt(origin, message, value, result);
    }

private:
    TWebHost* m_host;
};

TWebHost::TWebHost(QWidget* parent) : QWebEngineView(parent)
{
    SetFpExceptions(true);
    m_page = new WebHostPage(QWebEngineProfile::defaultProfile(), this);
    m_requests = new RequestFilter(this);
    m_page->setUrlRequestInterceptor(m_requests);
    m_page->scripts().insert(FrameCompletionScript());
    setPage(m_page);
    // The engine reports percentages.
    connect(m_page, &QWebEnginePage::loadProgress, this, [this](int progress) { ProgressChange(progress, 100); });
    connect(m_page, &QWebEnginePage::loadFinished, this, [this](bool) {
        Dispatch([&] {
            if (OnDocumentComplete)
                OnDocumentComplete(this, m_page, QVariant(m_page->url().toString()));
        });
    });
    SetDownloadOptions({TDownloadControlOption::DLCTL_DLIMAGES, TDownloadControlOption::DLCTL_VIDEOS,
                        TDownloadControlOption::DLCTL_BGSOUNDS});
    SetUserInterfaceOptions({});
    m_enableDde = false;
}

TWebHost::~TWebHost()
{
    if (m_loaded) {
        qApp->removeEventFilter(this);
        DeleteUserAgentToken(m_tokenAgent);
    }
    // The page goes before the view it is shown in.
    setPage(nullptr);
    delete m_page;
    StartEnvironment().Restore();
}

void TWebHost::Navigate(const QString& url)
{
    const QUrl address(url, QUrl::StrictMode);
    if (url.isEmpty() || !address.isValid() || address.scheme().isEmpty())
        throw platform::Exception(QStringLiteral("Недопустимый адрес: ") + url);
    m_page->load(address);
}

void TWebHost::SetDownloadOptions(const TDownloadControlOptions& options)
{
    m_downloadOptions = options;
    m_downloadControl = DownloadControlValue(options);
    ApplyDownloadOptions();
}

void TWebHost::SetUserInterfaceOptions(const TUserInterfaceOptions& options)
{
    m_interfaceOptions = options;
    m_interfaceFlags = UserInterfaceValue(options);
    settings()->setAttribute(QWebEngineSettings::ShowScrollBars,
                             options.count(TUserInterfaceOption::SCROLL_NO) == 0);
}

// The engine reads the value at once: every member that has a meaning here
// is mapped onto its settings or onto the request filter.
void TWebHost::ApplyDownloadOptions()
{
    const auto has = [this](TDownloadControlOption option) { return m_downloadOptions.count(option) != 0; };
    QWebEngineSettings* engine = settings();
    engine->setAttribute(QWebEngineSettings::AutoLoadImages, has(TDownloadControlOption::DLCTL_DLIMAGES));
    engine->setAttribute(QWebEngineSettings::JavascriptEnabled, !has(TDownloadControlOption::DLCTL_NO_SCRIPTS));
    engine->setAttribute(QWebEngineSettings::PluginsEnabled,
                         !has(TDownloadControlOption::DLCTL_NO_JAVA) &&
                             !has(TDownloadControlOption::DLCTL_NO_RUNACTIVEXCTLS) &&
                             !has(TDownloadControlOption::DLCTL_NO_DLACTIVEXCTLS));
    engine->setAttribute(QWebEngineSettings::PlaybackRequiresUserGesture, !has(TDownloadControlOption::DLCTL_VIDEOS));
    engine->setAttribute(QWebEngineSettings::ErrorPageEnabled, !has(TDownloadControlOption::DLCTL_SILENT));
    m_page->setAudioMuted(!has(TDownloadControlOption::DLCTL_BGSOUNDS));
    m_page->silent = has(TDownloadControlOption::DLCTL_SILENT);
    m_requests->options = m_downloadOptions;
}

QVariant TWebHost::AmbientProperty(int32_t dispid) const
{
    if (dispid == kDispidAmbientDlControl)
        return QVariant(static_cast<int32_t>(m_downloadControl));
    return {};
}

void TWebHost::SetFpExceptions(bool exceptions)
{
    m_fpExceptions = exceptions;
    if (exceptions)
        StartEnvironment().Restore();
    else
        fedisableexcept(FE_ALL_EXCEPT);
}

void TWebHost::SetUserAgent(const QString& agent)
{
    static const QString engineAgent = QWebEngineProfile::defaultProfile()->httpUserAgent();
    m_userAgent = agent;
    QWebEngineProfile::defaultProfile()->setHttpUserAgent(agent.isEmpty() ? engineAgent
                                                                          : engineAgent + QLatin1Char(' ') + agent);
}

void TWebHost::Loaded()
{
    if (m_loaded)
        return;
    m_loaded = true;
    qApp->installEventFilter(this);
    // The value written is the one deleted, whatever the agent becomes.
    m_tokenAgent = m_userAgent;
    WriteUserAgentToken(m_tokenAgent);
}

void TWebHost::SetErrorDisplay(std::function<void(const std::exception&)> display)
{
    ErrorDisplay() = std::move(display);
}

void TWebHost::Dispatch(const std::function<void()>& handler)
{
    try {
        handler();
    } catch (const std::exception& error) {
        if (ErrorDisplay())
            ErrorDisplay()(error);
        else
            std::fprintf(stderr, "snimkorez: %s\n", error.what());
    } catch (...) {
        std::fputs("snimkorez: unknown error in a browser event handler\n", stderr);
    }
}

bool TWebHost::BeforeNavigate(const QUrl& url, int type, bool mainFrame)
{
    bool cancel = false;
    Dispatch([&] {
        if (OnBeforeNavigate2)
            OnBeforeNavigate2(this, m_page, QVariant(url.toString()), QVariant(type),
                              mainFrame ? QVariant() : QVariant(QStringLiteral("frame")), QVariant(), QVariant(),
                              cancel);
    });
    return !cancel;
}

void TWebHost::ProgressChange(int32_t progress, int32_t progressMax)
{
    Dispatch([&] {
        if (OnProgressChange)
            OnProgressChange(this, progress, progressMax);
    });
}

void TWebHost::FrameComplete(const QUrl& url)
{
    Dispatch([&] {
        if (OnDocumentComplete)
            OnDocumentComplete(this, m_page, QVariant(url.toString()));
    });
}

// Key messages for the page: Backspace, Enter and the arrow keys Left and
// Right (not the keypad's) go straight to it; every other key is offered to
// the application's shortcuts first, which is Qt's own order.
bool TWebHost::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::ShortcutOverride) {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget && (widget == this || isAncestorOf(widget))) {
            auto* key = static_cast<QKeyEvent*>(event);
            int virtualKey = 0;
            switch (key->key()) {
            case Qt::Key_Backspace:
                virtualKey = 8;
                break;
            case Qt::Key_Return:
            case Qt::Key_Enter:
                virtualKey = 13;
                break;
            case Qt::Key_Left:
                virtualKey = 0x25;
                break;
            case Qt::Key_Right:
                virtualKey = 0x27;
                break;
            default:
                break;
            }
            const bool extended = !(key->modifiers() & Qt::KeypadModifier);
            if (virtualKey != 0 && !OfferedToAccelerators(virtualKey, extended)) {
                event->accept();  // the page wants it: no shortcut takes it
                return true;
            }
        }
    }
    return QWebEngineView::eventFilter(watched, event);
}

void PrepareEngine()
{
    if (geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX")) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
        std::fputs("snimkorez: запущен от имени root: песочница Chromium отключена, "
                   "иначе Chromium не запускается\n",
                   stderr);
    }
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

}  // namespace browser
