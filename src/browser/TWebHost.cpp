#include "TWebHost.h"

#include "UserAgentToken.h"
#include "platform/Exception.h"
#include "platform/FloatingPointEnvironment.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QOpenGLContext>
#include <QStandardPaths>
#include <QUrl>
#include <QVBoxLayout>

#include <cfenv>
#include <cstdio>
#include <dlfcn.h>
#include <unistd.h>

// Qt's own: the context every OpenGL context of the program shares with.
QOpenGLContext* qt_gl_global_share_context();
void qt_gl_set_global_share_context(QOpenGLContext* context);

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

struct EngineModule {
    void* handle = nullptr;
    CreateControlEntry create = nullptr;
    ShutdownEntry shutdown = nullptr;
    QString error;
};

EngineModule& Engine()
{
    static EngineModule module;
    return module;
}

// Loads the web engine module once: beside the program first, then by the
// loader's own search (an installed program's run path, LD_LIBRARY_PATH).
EngineModule& LoadEngine()
{
    EngineModule& module = Engine();
    if (module.create || !module.error.isEmpty())
        return module;
    // The engine draws through OpenGL contexts that share with one context
    // the application makes when asked to before it starts; made here instead,
    // the main window does not wait for it at start-up.
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) && !qt_gl_global_share_context()) {
        auto* context = new QOpenGLContext;
        context->create();
        qt_gl_set_global_share_context(context);
        // Qt warns that the attribute belongs before the application object:
        // it is read when a context is made, and none has been made yet.
        const QtMessageHandler previous =
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
        qInstallMessageHandler(previous);
    }
    char self[4096] = {};
    QString beside;
    if (readlink("/proc/self/exe", self, sizeof self - 1) > 0)
        beside = QFileInfo(QFile::decodeName(self)).absolutePath() + u'/' + QLatin1String(kModuleName);
    module.handle = dlopen(QFile::encodeName(beside).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!module.handle)
        module.handle = dlopen(kModuleName, RTLD_NOW | RTLD_LOCAL);
    if (module.handle) {
        module.create = reinterpret_cast<CreateControlEntry>(dlsym(module.handle, kCreateEntry));
        module.shutdown = reinterpret_cast<ShutdownEntry>(dlsym(module.handle, kShutdownEntry));
    }
    if (!module.create || !module.shutdown) {
        const char* reason = dlerror();
        module.create = nullptr;
        module.error = QStringLiteral("Не удалось запустить браузер: модуль %1 не загружен (%2)")
                           .arg(QLatin1String(kModuleName), QString::fromLocal8Bit(reason ? reason : "нет точки входа"));
    }
    return module;
}

// A page's new window: a plain host of its own, captioned with the page's
// title; closing it destroys it.
class TBrowserPopup : public QWidget {
public:
    explicit TBrowserPopup(TWebHost* opener) : QWidget(opener, Qt::Window)
    {
        setAttribute(Qt::WA_DeleteOnClose);
        setWindowTitle(opener->window()->windowTitle());
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        host = new TWebHost(this);
        layout->addWidget(host);
        host->OnTitleChange = [this](TWebHost*, const QString& title) {
            if (!title.isEmpty())
                setWindowTitle(title);
        };
        host->OnChooseFiles = opener->OnChooseFiles;
        host->OnChooseDownload = opener->OnChooseDownload;
        host->SetUserAgent(opener->UserAgent());
        resize(opener->window()->size());
        move(opener->window()->pos() + QPoint(32, 32));
    }
    TWebHost* host = nullptr;
};

}  // namespace

TWebHost::TWebHost(QWidget* parent) : QWidget(parent)
{
    SetFpExceptions(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
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
    // New windows first: their pages belong to the engine as much as ours.
    const QObjectList kids = children();
    for (QObject* child : kids)
        if (auto* popup = dynamic_cast<TBrowserPopup*>(child))
            delete popup;
    m_control.reset();
    StartEnvironment().Restore();
}

void TWebHost::CreateControl()
{
    if (m_control)
        return;
    EngineModule& engine = LoadEngine();
    if (!engine.create)
        throw platform::Exception(engine.error);
    m_control.reset(engine.create(this, this));
    if (!m_control)
        throw platform::Exception(QStringLiteral("Не удалось запустить браузер"));
    layout()->addWidget(m_control->Widget());
    setFocusProxy(m_control->Widget());
    ApplyOptions();
    if (!m_userAgent.isEmpty())
        m_control->SetUserAgent(m_userAgent);
}

QWidget* TWebHost::ControlWidget()
{
    CreateControl();
    return m_control->Widget();
}

QObject* TWebHost::Document()
{
    CreateControl();
    return m_control->Document();
}

void TWebHost::ShutdownEngine()
{
    if (Engine().shutdown)
        Engine().shutdown();
}

void TWebHost::Navigate(const QString& url)
{
    const QUrl address(url, QUrl::StrictMode);
    if (url.isEmpty() || !address.isValid() || address.scheme().isEmpty())
        throw platform::Exception(QStringLiteral("Недопустимый адрес: ") + url);
    CreateControl();
    m_control->Navigate(address);
}

void TWebHost::SetDownloadOptions(const TDownloadControlOptions& options)
{
    m_downloadOptions = options;
    m_downloadControl = DownloadControlValue(options);
    ApplyOptions();
}

void TWebHost::SetUserInterfaceOptions(const TUserInterfaceOptions& options)
{
    m_interfaceOptions = options;
    m_interfaceFlags = UserInterfaceValue(options);
    ApplyOptions();
}

// The control reads the values at once: every member that has a meaning
// here is mapped onto the engine's settings or its request filter.
void TWebHost::ApplyOptions()
{
    if (!m_control)
        return;
    const auto has = [this](TDownloadControlOption option) { return m_downloadOptions.count(option) != 0; };
    EngineOptions options;
    options.images = has(TDownloadControlOption::DLCTL_DLIMAGES);
    options.scripts = !has(TDownloadControlOption::DLCTL_NO_SCRIPTS);
    options.plugins = !has(TDownloadControlOption::DLCTL_NO_JAVA) &&
                      !has(TDownloadControlOption::DLCTL_NO_RUNACTIVEXCTLS) &&
                      !has(TDownloadControlOption::DLCTL_NO_DLACTIVEXCTLS);
    options.autoplay = has(TDownloadControlOption::DLCTL_VIDEOS);
    options.audio = has(TDownloadControlOption::DLCTL_BGSOUNDS);
    options.silent = has(TDownloadControlOption::DLCTL_SILENT);
    options.offline = has(TDownloadControlOption::DLCTL_OFFLINE) || has(TDownloadControlOption::DLCTL_FORCEOFFLINE);
    options.frames = !has(TDownloadControlOption::DLCTL_NO_FRAMEDOWNLOAD);
    options.noCache =
        has(TDownloadControlOption::DLCTL_PRAGMA_NO_CACHE) || has(TDownloadControlOption::DLCTL_RESYNCHRONIZE);
    options.scrollBars = m_interfaceOptions.count(TUserInterfaceOption::SCROLL_NO) == 0;
    m_control->SetOptions(options);
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
    m_userAgent = agent;
    if (m_control)
        m_control->SetUserAgent(agent);
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
            OnBeforeNavigate2(this, Document(), QVariant(url.toString()), QVariant(type),
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

void TWebHost::DocumentComplete(const QUrl& url, bool)
{
    Dispatch([&] {
        if (OnDocumentComplete)
            OnDocumentComplete(this, Document(), QVariant(url.toString()));
    });
}

void TWebHost::TitleChange(const QString& title)
{
    Dispatch([&] {
        if (OnTitleChange)
            OnTitleChange(this, title);
    });
}

QStringList TWebHost::ChooseFiles(const FileRequest& request)
{
    QStringList files;
    Dispatch([&] {
        if (OnChooseFiles) {
            files = OnChooseFiles(request);
            return;
        }
        QFileDialog dialog(window(), QString(), QDir::homePath());
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setFileMode(request.mode == FileRequest::Mode::OpenMultiple ? QFileDialog::ExistingFiles
                           : request.mode == FileRequest::Mode::Folder     ? QFileDialog::Directory
                           : request.mode == FileRequest::Mode::Save       ? QFileDialog::AnyFile
                                                                           : QFileDialog::ExistingFile);
        if (dialog.exec() == QDialog::Accepted)
            files = dialog.selectedFiles();
    });
    return files;
}

QString TWebHost::ChooseDownload(const QString& suggested)
{
    QString path;
    Dispatch([&] {
        if (OnChooseDownload) {
            path = OnChooseDownload(suggested);
            return;
        }
        const QString folder = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
        QFileDialog dialog(window(), QStringLiteral("Сохранить файл"), folder + u'/' + suggested);
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            path = dialog.selectedFiles().first();
    });
    return path;
}

WebControl* TWebHost::NewWindow()
{
    WebControl* control = nullptr;
    Dispatch([&] {
        auto* popup = new TBrowserPopup(this);
        popup->host->CreateControl();
        popup->show();
        control = popup->host->m_control.get();
    });
    return control;
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
    return QWidget::eventFilter(watched, event);
}

void PrepareEngine()
{
    if (geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX")) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
        std::fputs("snimkorez: запущен от имени root: песочница Chromium отключена, "
                   "иначе Chromium не запускается\n",
                   stderr);
    }
}

}  // namespace browser
