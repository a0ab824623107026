// The web engine module: the browser control on Qt WebEngine, loaded by the
// browser host on first need. One profile for every page of the program,
// kept in the per-user data folder so that board logins survive a restart.
#include "browser/WebControl.h"

#include <QDir>
#include <QWebEngineCookieStore>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QProgressDialog>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QWebEngineDownloadRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInfo>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>

#include <cstdio>

namespace browser {

namespace {

QWebEngineProfile* g_profile = nullptr;
QString g_engineAgent;

void Report(const QString& text)
{
    std::fprintf(stderr, "snimkorez: %s\n", text.toLocal8Bit().constData());
}

// A folder the profile can keep its files in: made when missing, and a file
// can be created inside (a file in the way, a read-only mount, a full disk
// all say no here rather than inside the engine).
bool UsableFolder(const QString& folder)
{
    if (!QDir().mkpath(folder) || !QFileInfo(folder).isDir())
        return false;
    QTemporaryFile probe(folder + QStringLiteral("/.probe-XXXXXX"));
    return probe.open();
}

void Download(QWebEngineDownloadRequest* download);

QWebEngineProfile* Profile()
{
    if (g_profile)
        return g_profile;
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                           QStringLiteral("/snimkorez/browser");
    const QString cache = folder + QStringLiteral("/cache");
    if (UsableFolder(folder) && UsableFolder(cache)) {
        g_profile = new QWebEngineProfile(QStringLiteral("snimkorez"));
        g_profile->setPersistentStoragePath(folder);
        g_profile->setCachePath(cache);
        g_profile->setHttpCacheType(QWebEngineProfile::DiskHttpCache);
        g_profile->setPersistentCookiesPolicy(QWebEngineProfile::AllowPersistentCookies);
    } else {
        Report(QStringLiteral("папку браузера «%1» нельзя использовать; вход на доски и куки "
                              "сохранятся только до выхода из программы")
                   .arg(folder));
        g_profile = new QWebEngineProfile();  // in memory
    }
    g_engineAgent = g_profile->httpUserAgent();
    // Read the stored cookies while nothing waits for them rather than at
    // the first request.
    g_profile->cookieStore()->loadAllCookies();
    QObject::connect(g_profile, &QWebEngineProfile::downloadRequested, g_profile, &Download);
    return g_profile;
}

// The engine tells of no frame's completion, so each frame tells of its own
// through the console, from a script world the page cannot see, signed with
// a value made for this control that the page's own scripts cannot read.
const QString kFrameMark = QStringLiteral("\x01snimkorez-frame-complete ");

QWebEngineScript FrameCompletionScript(const QString& secret)
{
    QWebEngineScript script;
    script.setName(QStringLiteral("snimkorez-frame-complete"));
    script.setInjectionPoint(QWebEngineScript::DocumentReady);
    script.setWorldId(QWebEngineScript::ApplicationWorld);
    script.setRunsOnSubFrames(true);
    script.setSourceCode(QStringLiteral(
        "if (window !== window.top) {"
        "  const tell = () => console.log('\\x01snimkorez-frame-complete %1 ' + location.href);"
        "  if (document.readyState === 'complete') tell();"
        "  else window.addEventListener('load', tell);"
        "}").arg(secret));
    return script;
}

QString MakeSecret()
{
    quint64 words[2];
    QRandomGenerator::system()->fillRange(words);
    return QString::number(words[0], 36) + QString::number(words[1], 36);
}

// Requests the options keep from the network.
class RequestFilter : public QWebEngineUrlRequestInterceptor {
public:
    using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;
    EngineOptions options;

    void interceptRequest(QWebEngineUrlRequestInfo& info) override
    {
        const auto type = info.resourceType();
        if (!options.images && (type == QWebEngineUrlRequestInfo::ResourceTypeImage ||
                                type == QWebEngineUrlRequestInfo::ResourceTypeFavicon))
            info.block(true);
        if (!options.frames && type == QWebEngineUrlRequestInfo::ResourceTypeSubFrame)
            info.block(true);
        if (!options.scripts && type == QWebEngineUrlRequestInfo::ResourceTypeScript)
            info.block(true);
        const QString scheme = info.requestUrl().scheme();
        if (options.offline && (scheme == QLatin1String("http") || scheme == QLatin1String("https")))
            info.block(true);
        if (options.noCache) {
            info.setHttpHeader("Cache-Control", "no-cache");
            info.setHttpHeader("Pragma", "no-cache");
        }
    }
};

class EnginePage : public QWebEnginePage {
public:
    EnginePage(WebControlSite* site, const QString& secret)
        : QWebEnginePage(Profile()), site(site), m_mark(kFrameMark + secret + QLatin1Char(' '))
    {
    }
    WebControlSite* site;
    bool silent = false;

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override
    {
        return site->BeforeNavigate(url, static_cast<int>(type), isMainFrame);
    }

    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message, int line,
                                  const QString& source) override
    {
        if (message.startsWith(m_mark)) {
            site->DocumentComplete(QUrl(message.mid(m_mark.size())), true);
            return;
        }
        QWebEnginePage::javaScriptConsoleMessage(level, message, line, source);
    }

    QStringList chooseFiles(FileSelectionMode mode, const QStringList& oldFiles,
                            const QStringList& acceptedMimeTypes) override
    {
        FileRequest request;
        request.mode = mode == FileSelectOpenMultiple ? FileRequest::Mode::OpenMultiple
                       : mode == FileSelectUploadFolder ? FileRequest::Mode::Folder
                       : mode == FileSelectSave         ? FileRequest::Mode::Save
                                                        : FileRequest::Mode::Open;
        request.oldFiles = oldFiles;
        request.accept = acceptedMimeTypes;
        const QStringList files = site->ChooseFiles(request);
        return mode != FileSelectOpenMultiple && files.size() > 1 ? files.mid(0, 1) : files;
    }

    QWebEnginePage* createWindow(WebWindowType) override;

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
    QString m_mark;
};

class EngineControl : public WebControl {
public:
    EngineControl(QWidget* parent, WebControlSite* site)
    {
        const QString secret = MakeSecret();
        m_page = new EnginePage(site, secret);
        m_filter = new RequestFilter(m_page);
        m_page->setUrlRequestInterceptor(m_filter);
        m_page->scripts().insert(FrameCompletionScript(secret));
        m_view = new QWebEngineView(parent);
        m_view->setPage(m_page);
        // The engine reports percentages.
        QObject::connect(m_page, &QWebEnginePage::loadProgress, m_page,
                         [site](int progress) { site->ProgressChange(progress, 100); });
        QObject::connect(m_page, &QWebEnginePage::loadFinished, m_page,
                         [site, page = m_page](bool) { site->DocumentComplete(page->url(), false); });
        QObject::connect(m_page, &QWebEnginePage::titleChanged, m_page,
                         [site](const QString& title) { site->TitleChange(title); });
    }

    ~EngineControl() override
    {
        // The page goes before the view it is shown in.
        m_view->setPage(nullptr);
        delete m_page;
        delete m_view;
    }

    QWidget* Widget() override { return m_view; }
    QObject* Document() override { return m_page; }
    [[nodiscard]] QWebEnginePage* Page() const { return m_page; }
    void Navigate(const QUrl& url) override { m_page->load(url); }

    void SetOptions(const EngineOptions& options) override
    {
        QWebEngineSettings* engine = m_page->settings();
        engine->setAttribute(QWebEngineSettings::AutoLoadImages, options.images);
        engine->setAttribute(QWebEngineSettings::JavascriptEnabled, options.scripts);
        engine->setAttribute(QWebEngineSettings::PluginsEnabled, options.plugins);
        engine->setAttribute(QWebEngineSettings::PlaybackRequiresUserGesture, !options.autoplay);
        engine->setAttribute(QWebEngineSettings::ErrorPageEnabled, !options.silent);
        engine->setAttribute(QWebEngineSettings::ShowScrollBars, options.scrollBars);
        m_page->setAudioMuted(!options.audio);
        m_page->silent = options.silent;
        m_filter->options = options;
    }

    void SetUserAgent(const QString& agent) override
    {
        Profile()->setHttpUserAgent(agent.isEmpty() ? g_engineAgent : g_engineAgent + QLatin1Char(' ') + agent);
    }

private:
    EnginePage* m_page = nullptr;
    RequestFilter* m_filter = nullptr;
    QWebEngineView* m_view = nullptr;
};

QWebEnginePage* EnginePage::createWindow(WebWindowType)
{
    auto* control = static_cast<EngineControl*>(site->NewWindow());
    return control ? control->Page() : nullptr;
}

// A download's progress beside the window that asked for it; cancelling it
// cancels the download.
void ShowProgress(QWebEngineDownloadRequest* download, QWidget* parent)
{
    const QString name = download->downloadFileName();
    auto* progress = new QProgressDialog(QStringLiteral("Загрузка «%1»…").arg(name), QStringLiteral("Отмена"), 0, 0,
                                         parent);
    progress->setWindowTitle(QStringLiteral("Загрузка файла"));
    progress->setAttribute(Qt::WA_DeleteOnClose);
    progress->setWindowModality(Qt::NonModal);
    progress->setMinimumDuration(0);
    progress->setAutoClose(false);
    progress->setAutoReset(false);
    const QPointer<QWebEngineDownloadRequest> watched(download);
    const auto update = [progress, download] {
        const qint64 total = download->totalBytes();
        if (total > 0) {
            progress->setMaximum(1000);
            progress->setValue(static_cast<int>(download->receivedBytes() * 1000 / total));
        }
    };
    QObject::connect(download, &QWebEngineDownloadRequest::receivedBytesChanged, progress, update);
    QObject::connect(download, &QWebEngineDownloadRequest::totalBytesChanged, progress, update);
    QObject::connect(progress, &QProgressDialog::canceled, progress, [watched] {
        if (watched)
            watched->cancel();
    });
    QObject::connect(download, &QWebEngineDownloadRequest::isFinishedChanged, progress, [progress, download, name] {
        progress->close();
        if (download->state() == QWebEngineDownloadRequest::DownloadInterrupted)
            QMessageBox::warning(progress->parentWidget(), QStringLiteral("Загрузка файла"),
                                 QStringLiteral("Не удалось загрузить «%1»: %2")
                                     .arg(name, download->interruptReasonString()));
    });
    progress->show();
}

void Download(QWebEngineDownloadRequest* download)
{
    auto* page = dynamic_cast<EnginePage*>(download->page());
    const QString path = page ? page->site->ChooseDownload(download->suggestedFileName()) : QString();
    if (path.isEmpty()) {
        download->cancel();
        return;
    }
    const QFileInfo target(path);
    download->setDownloadDirectory(target.absolutePath());
    download->setDownloadFileName(target.fileName());
    download->accept();
    QWidget* parent = nullptr;
    if (QWebEngineView* view = page ? QWebEngineView::forPage(page) : nullptr)
        parent = view->window();
    ShowProgress(download, parent);
}

}  // namespace

}  // namespace browser

extern "C" Q_DECL_EXPORT browser::WebControl* snimkorez_create_web_control(QWidget* parent,
                                                                           browser::WebControlSite* site)
{
    try {
        return new browser::EngineControl(parent, site);
    } catch (...) {
        return nullptr;
    }
}

extern "C" Q_DECL_EXPORT void snimkorez_shutdown_web_engine()
{
    delete browser::g_profile;
    browser::g_profile = nullptr;
}
