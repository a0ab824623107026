// The browser window and its host against pages served on 127.0.0.1 by a
// server the test starts: the events and captions, the download options the
// engine obeys, keystrokes into the page, the user-agent token.
#include "TestFiles.h"
#include "app/TForm2.h"
#include "browser/HostOptions.h"
#include "browser/TWebHost.h"
#include "browser/UserAgentToken.h"
#include "platform/TIniFile.h"

#include <QApplication>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QPointer>
#include <QProcess>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QShortcut>
#include <QTcpServer>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineProfile>

#include <cfenv>
#include <cstdio>
#include <memory>

using browser::TDownloadControlOption;
using browser::TWebHost;

namespace {

const QByteArray kPixel = QByteArray::fromBase64(
    "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8BQDwAEhQGAhKmMIQAAAABJRU5ErkJggg==");

// Serves the test pages and remembers every path asked for.
class PageServer {
public:
    PageServer()
    {
        m_server.setMissingHandler([this](const QHttpServerRequest& request, QHttpServerResponder&& responder) {
            const QString path = request.url().path();
            requests << path;
            agents << request.value("User-Agent");
            if (path == QLatin1String("/frames.html"))
                responder.write(Html("<h1>Диван, почти новый</h1><iframe src='/one.html'></iframe>"
                                     "<iframe src='/two.html'></iframe><img src='/pixel.png'>"),
                                "text/html; charset=utf-8");
            else if (path == QLatin1String("/one.html") || path == QLatin1String("/two.html"))
                responder.write(Html("<p>Рамка</p>"), "text/html; charset=utf-8");
            else if (path == QLatin1String("/pixel.png"))
                responder.write(kPixel, "image/png");
            else if (path == QLatin1String("/script.html"))
                responder.write(Html("<title>до</title><script>document.title = 'после';</script>"),
                                "text/html; charset=utf-8");
            else if (path == QLatin1String("/alert.html"))
                responder.write(Html("<title>до</title><script>alert('Проверка'); confirm('Да?');"
                                     "document.title = 'после';</script>"),
                                "text/html; charset=utf-8");
            else if (path == QLatin1String("/form.html"))
                responder.write(Html("<input id='field' value='abc' autofocus>"), "text/html; charset=utf-8");
            else if (path == QLatin1String("/remember.html"))
                responder.write(Html("<script>localStorage.setItem('draft', 'диван');"
                                     "document.title = 'запомнено';</script>"),
                                {{"Content-Type", "text/html; charset=utf-8"},
                                 {"Set-Cookie", "seller=anna; Max-Age=86400; Path=/"}});
            else if (path == QLatin1String("/recall.html"))
                responder.write(Html("<script>document.title = document.cookie + '|' + "
                                     "(localStorage.getItem('draft') || '');</script>"),
                                "text/html; charset=utf-8");
            else if (path == QLatin1String("/links.html"))
                responder.write(Html("<a id='blank' href='/rules.html' target='_blank'>Правила</a>"
                                     "<button id='open' onclick=\"window.open('/captcha.html')\">Код</button>"),
                                "text/html; charset=utf-8");
            else if (path == QLatin1String("/rules.html"))
                responder.write(Html("<title>Правила доски</title><p>Правила</p>"), "text/html; charset=utf-8");
            else if (path == QLatin1String("/captcha.html"))
                responder.write(Html("<title>Код с картинки</title><p>Код</p>"), "text/html; charset=utf-8");
            else if (path == QLatin1String("/price.txt"))
                responder.write(QByteArray("Диван 3000 руб.\n"),
                                {{"Content-Type", "application/octet-stream"},
                                 {"Content-Disposition", "attachment; filename=\"price.txt\""}});
            else if (path == QLatin1String("/fake-marker.html"))
                // Guesses at the frame report, printed while the page loads.
                responder.write(Html("<script>for (const secret of ['', 'undefined', '0'])"
                                     "  console.log('\\x01snimkorez-frame-complete ' + secret + ' http://x/');"
                                     "console.log('\\x01snimkorez-frame-complete http://x/');</script>"
                                     "<img src='/pixel.png'>"),
                                "text/html; charset=utf-8");
            else if (path == QLatin1String("/board.html"))
                responder.write(Html("<h1>Доска объявлений Ялты</h1><p>Продаю диван, почти новый. "
                                     "Самовывоз с Набережной.</p><form><input value='Диван'></form>"),
                                "text/html; charset=utf-8");
            else
                responder.write(QHttpServerResponder::StatusCode::NotFound);
        });
        port = m_server.listen(QHostAddress(QHostAddress::LocalHost), 0);
    }

    [[nodiscard]] QString Url(const QString& path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path);
    }

    quint16 port = 0;
    QStringList requests;
    QByteArrayList agents;

private:
    static QByteArray Html(const char* body)
    {
        return QByteArray("<!doctype html><html><head><meta charset='utf-8'></head><body>") + body +
               "</body></html>";
    }

    QHttpServer m_server;
};

// A port nothing listens on.
quint16 ClosedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress(QHostAddress::LocalHost), 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

}  // namespace

class BrowserWindowTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<PageServer> m_server;
    std::unique_ptr<app::TForm2> m_window;
    QString m_selector;
    int m_beforeNavigate = 0;
    int m_complete = 0;
    int m_lastProgress = -1;
    int m_lastProgressMax = -1;
    QString m_loadingCaption;
    bool m_barShownWhileLoading = false;
    QStringList m_errors;
    bool m_topFinished = false;

    TWebHost* Host() const { return m_window->WebHost(); }
    QWebEnginePage* Page() const { return qobject_cast<QWebEnginePage*>(Host()->Document()); }

    // Counts the host's events around the window's own handlers.
    void Watch()
    {
        auto before = Host()->OnBeforeNavigate2;
        Host()->OnBeforeNavigate2 = [this, before](TWebHost* s, QObject* d, const QVariant& u, const QVariant& f,
                                                   const QVariant& t, const QVariant& p, const QVariant& h,
                                                   bool& cancel) {
            before(s, d, u, f, t, p, h, cancel);
            ++m_beforeNavigate;
            m_loadingCaption = m_window->windowTitle();
            m_barShownWhileLoading = m_window->ProgressBar()->isVisible();
        };
        auto progress = Host()->OnProgressChange;
        Host()->OnProgressChange = [this, progress](TWebHost* s, int32_t value, int32_t maximum) {
            progress(s, value, maximum);
            m_lastProgress = value;
            m_lastProgressMax = maximum;
        };
        auto complete = Host()->OnDocumentComplete;
        Host()->OnDocumentComplete = [this, complete](TWebHost* s, QObject* d, const QVariant& u) {
            complete(s, d, u);
            ++m_complete;
        };
        connect(Page(), &QWebEnginePage::loadFinished, this, [this] { m_topFinished = true; });
    }

    void Reset()
    {
        m_beforeNavigate = m_complete = 0;
        m_lastProgress = m_lastProgressMax = -1;
        m_loadingCaption.clear();
        m_barShownWhileLoading = false;
        m_topFinished = false;
        m_server->requests.clear();
    }

    // Loads and waits for the top document and `frames` frames.
    void Load(const QString& path, int frames = 0)
    {
        Reset();
        Host()->Navigate(m_server->Url(path));
        QTRY_VERIFY_WITH_TIMEOUT(m_topFinished && m_complete >= 1 + frames, 30000);
    }

private Q_SLOTS:
    void initTestCase()
    {
        TWebHost::SetErrorDisplay([this](const std::exception& error) { m_errors << QString::fromUtf8(error.what()); });
        m_server = std::make_unique<PageServer>();
        QVERIFY(m_server->port != 0);
    }

    void init()
    {
        m_selector = QStringLiteral("yalta-leto.ru");
        m_errors.clear();
        m_window = std::make_unique<app::TForm2>();
        m_window->SetSelectorText([this] { return m_selector; });
        Watch();
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }

    void cleanup()
    {
        m_window.reset();
        QVERIFY2(m_errors.isEmpty() || QString::fromUtf8(QTest::currentTestFunction()) == "refusedRange",
                 qPrintable(m_errors.join(u'\n')));
    }

    void windowAsDefined()
    {
        app::TForm2 fresh;
        QCOMPARE(fresh.windowTitle(), QStringLiteral("Доска объявлений"));
        QVERIFY(!fresh.isVisible());
        QCOMPARE(fresh.ProgressBar()->height(), 17);
        QCOMPARE(fresh.ProgressBar()->minimum(), 0);
        QCOMPARE(fresh.ProgressBar()->maximum(), 100);
        QCOMPARE(fresh.WebHost()->DownloadControl(), 0x70u);
        QCOMPARE(fresh.WebHost()->AmbientProperty(browser::kDispidAmbientDlControl).toInt(), 0x70);
        QVERIFY(!fresh.WebHost()->AmbientProperty(-5513).isValid());
        QCOMPARE(fresh.WebHost()->UserInterfaceFlags(), 0u);
        QCOMPARE(fresh.WebHost()->GetHostInfo().size, 20u);
        QCOMPARE(fresh.WebHost()->GetHostInfo().flags, 0u);
        // The engine waits for the first need.
        QVERIFY(!fresh.WebHost()->HasControl());
        // Closing only hides it.
        fresh.show();
        QVERIFY(!fresh.close());  // the close is refused: the window stays, hidden
        QVERIFY(!fresh.isVisible());
    }

    // One event before each navigation (the page and both frames), progress
    // up to 100, the completion caption and the bar hidden.
    void pageWithFrames()
    {
        Load(QStringLiteral("/frames.html"), 2);
        QTRY_COMPARE(m_complete, 3);
        QCOMPARE(m_beforeNavigate, 3);
        QCOMPARE(m_lastProgress, 100);
        QCOMPARE(m_lastProgressMax, 100);
        QCOMPARE(m_loadingCaption, QStringLiteral("Загрузка с yalta-leto.ru. Ожидайте..."));
        QVERIFY(m_barShownWhileLoading);
        QCOMPARE(m_window->windowTitle(), QStringLiteral("Доска объявлений yalta-leto.ru"));
        QVERIFY(!m_window->ProgressBar()->isVisible());
        QVERIFY(m_server->requests.contains(QStringLiteral("/pixel.png")));

        // A second page: the loading caption and the bar again; the selector
        // changed meanwhile names the board in the next captions.
        m_selector = QStringLiteral("krym-doska.ru");
        Load(QStringLiteral("/one.html"));
        QCOMPARE(m_loadingCaption, QStringLiteral("Загрузка с krym-doska.ru. Ожидайте..."));
        QVERIFY(m_barShownWhileLoading);
        QCOMPARE(m_window->windowTitle(), QStringLiteral("Доска объявлений krym-doska.ru"));
        QVERIFY(!m_window->ProgressBar()->isVisible());
    }

    void emptySelectorText()
    {
        m_selector.clear();
        Load(QStringLiteral("/one.html"));
        QCOMPARE(m_loadingCaption, QStringLiteral("Загрузка с . Ожидайте..."));
        QCOMPARE(m_window->windowTitle(), QStringLiteral("Доска объявлений "));
    }

    void unreachableAddressCompletes()
    {
        Reset();
        Host()->Navigate(QStringLiteral("http://127.0.0.1:%1/").arg(ClosedPort()));
        QTRY_VERIFY_WITH_TIMEOUT(m_complete >= 1, 30000);
        QCOMPARE(m_window->windowTitle(), QStringLiteral("Доска объявлений yalta-leto.ru"));
    }

    void refusedAddressRaises()
    {
        QVERIFY_THROWS_EXCEPTION(std::exception, Host()->Navigate(QString()));
        QVERIFY_THROWS_EXCEPTION(std::exception, Host()->Navigate(QStringLiteral("no address at all")));
    }

    // A range below the bar's minimum is refused through the error display;
    // caption and position stay.
    void refusedRange()
    {
        m_window->WebHostBeforeNavigate2();
        Host()->ProgressChange(40, 100);
        const QString caption = m_window->windowTitle();
        Host()->ProgressChange(5, -1);
        QCOMPARE(m_errors, QStringList{QStringLiteral("TProgressBar property out of range")});
        QCOMPARE(m_window->windowTitle(), caption);
        QCOMPARE(m_window->ProgressBar()->value(), 40);
        QCOMPARE(m_window->ProgressBar()->maximum(), 100);
    }

    // Without DLCTL_DLIMAGES no image is asked for; with DLCTL_NO_SCRIPTS
    // the page's script does not run.
    void downloadOptionsReachTheEngine()
    {
        Host()->SetDownloadOptions({TDownloadControlOption::DLCTL_VIDEOS, TDownloadControlOption::DLCTL_BGSOUNDS});
        QCOMPARE(Host()->AmbientProperty(browser::kDispidAmbientDlControl).toInt(), 0x60);
        Load(QStringLiteral("/frames.html"), 2);
        QVERIFY(m_server->requests.contains(QStringLiteral("/frames.html")));
        QVERIFY2(!m_server->requests.contains(QStringLiteral("/pixel.png")), qPrintable(m_server->requests.join(u' ')));

        Load(QStringLiteral("/script.html"));
        QCOMPARE(Page()->title(), QStringLiteral("после"));
        Host()->SetDownloadOptions({TDownloadControlOption::DLCTL_DLIMAGES, TDownloadControlOption::DLCTL_NO_SCRIPTS});
        QCOMPARE(Host()->DownloadControl(), 0x90u);
        Load(QStringLiteral("/script.html"));
        QCOMPARE(Page()->title(), QStringLiteral("до"));
    }

    // Silent: the page's dialogs are answered unseen, so its script goes on;
    // offline: nothing reaches the network, and the load still completes.
    void silentAndOffline()
    {
        Host()->SetDownloadOptions({TDownloadControlOption::DLCTL_SILENT});
        Load(QStringLiteral("/alert.html"));
        QTRY_COMPARE(Page()->title(), QStringLiteral("после"));
        QVERIFY(QApplication::activeModalWidget() == nullptr);

        Host()->SetDownloadOptions({TDownloadControlOption::DLCTL_OFFLINE});
        Reset();
        Host()->Navigate(m_server->Url(QStringLiteral("/one.html")));
        QTRY_VERIFY_WITH_TIMEOUT(m_complete >= 1, 30000);
        QVERIFY2(m_server->requests.isEmpty(), qPrintable(m_server->requests.join(u' ')));
    }

    // Backspace reaches the page's text field even with a window shortcut
    // on it; a plain letter key is offered to shortcuts first.
    void backspaceReachesThePage()
    {
        int shortcutFired = 0;
        auto* shortcut = new QShortcut(QKeySequence(Qt::Key_Backspace), m_window.get());
        connect(shortcut, &QShortcut::activated, this, [&] { ++shortcutFired; });
        Load(QStringLiteral("/form.html"));
        m_window->activateWindow();
        Host()->setFocus();
        QTRY_VERIFY(Host()->ControlWidget()->focusProxy() != nullptr);
        const auto fieldValue = [this] {
            QString value;
            bool done = false;
            Page()->runJavaScript(QStringLiteral("document.getElementById('field').focus();"
                                                         "document.getElementById('field').value"),
                                          [&](const QVariant& result) {
                                              value = result.toString();
                                              done = true;
                                          });
            if (!QTest::qWaitFor([&] { return done; }, 10000))
                return QStringLiteral("(no answer)");
            return value;
        };
        QCOMPARE(fieldValue(), QStringLiteral("abc"));
        QTest::keyClick(Host()->ControlWidget()->focusProxy(), Qt::Key_End);
        QTest::keyClick(Host()->ControlWidget()->focusProxy(), Qt::Key_Backspace);
        QTRY_COMPARE(fieldValue(), QStringLiteral("ab"));
        QCOMPARE(shortcutFired, 0);

        // Outside a text field too the page gets Backspace, while another
        // key is the window's shortcut first.
        int otherFired = 0;
        auto* other = new QShortcut(QKeySequence(Qt::Key_F2), m_window.get());
        connect(other, &QShortcut::activated, this, [&] { ++otherFired; });
        Load(QStringLiteral("/one.html"));
        m_window->activateWindow();
        Host()->setFocus();
        QTRY_VERIFY(Host()->ControlWidget()->focusProxy() != nullptr);
        QTest::keyClick(Host()->ControlWidget()->focusProxy(), Qt::Key_Backspace);
        QTest::keyClick(Host()->ControlWidget()->focusProxy(), Qt::Key_F2);
        QCOMPARE(shortcutFired, 0);
        QCOMPARE(otherFired, 1);
    }

    // The user agent goes after the engine's own, to the server and into the
    // token's name.
    void userAgentReachesTheServer()
    {
        Host()->SetUserAgent(QStringLiteral("Snimkorez/1.0"));
        Load(QStringLiteral("/one.html"));
        QVERIFY(Page()->profile()->httpUserAgent().endsWith(QStringLiteral(" Snimkorez/1.0")));
        QVERIFY(m_server->agents.last().endsWith("Snimkorez/1.0"));
        Host()->SetUserAgent(QString());
        QVERIFY(!Page()->profile()->httpUserAgent().contains(QStringLiteral("Snimkorez")));
        {
            TWebHost named;
            named.SetUserAgent(QStringLiteral("Snimkorez/1.0"));
            named.Loaded();
            const platform::TIniFile store(browser::KeyStoreFile());
            QCOMPARE(store.ReadString(browser::kPostPlatformKey, QStringLiteral("Snimkorez/1.0"), QStringLiteral("none")),
                     QString());
            named.SetUserAgent(QString());
        }
        QCOMPARE(platform::TIniFile(browser::KeyStoreFile())
                     .ReadString(browser::kPostPlatformKey, QStringLiteral("Snimkorez/1.0"), QStringLiteral("none")),
                 QStringLiteral("none"));
    }

    // Off: every floating-point exception masked; on: the program's own
    // environment back, rounding included.
    void floatingPointMode()
    {
        feenableexcept(FE_DIVBYZERO | FE_INVALID);
        Host()->SetFpExceptions(false);
        QCOMPARE(fegetexcept(), 0);
        QVERIFY(!Host()->fpExceptions());
        std::fesetround(FE_UPWARD);
        Host()->SetFpExceptions(true);
        QCOMPARE(std::fegetround(), FE_TONEAREST);
        QVERIFY(Host()->fpExceptions());
    }

    // Written while the host lives, gone when it goes.
    void userAgentToken()
    {
        const platform::TIniFile store(browser::KeyStoreFile());
        QCOMPARE(store.ReadString(browser::kPostPlatformKey, QStringLiteral("@"), QStringLiteral("none")), QString());
        m_window.reset();
        QCOMPARE(store.ReadString(browser::kPostPlatformKey, QStringLiteral("@"), QStringLiteral("none")),
                 QStringLiteral("none"));
    }

    // A page's own script cannot fake the frame report: only the top
    // document completes, and the loading caption stays until it does.
    void frameReportCannotBeFaked()
    {
        Load(QStringLiteral("/fake-marker.html"));
        QTest::qWait(300);
        QCOMPARE(m_complete, 1);
        QCOMPARE(m_window->windowTitle(), QStringLiteral("Доска объявлений yalta-leto.ru"));
    }

    // A link with a target and window.open each open a window of their own
    // that loads from the server; the board window keeps its page and
    // caption; closing such a window destroys it.
    void newWindows()
    {
        Load(QStringLiteral("/links.html"));
        const auto windowTitled = [](const QString& title) -> QWidget* {
            for (QWidget* widget : QApplication::topLevelWidgets())
                if (widget->isVisible() && widget->windowTitle() == title)
                    return widget;
            return nullptr;
        };
        const QString caption = m_window->windowTitle();
        Page()->runJavaScript(QStringLiteral("document.getElementById('blank').click()"));
        QTRY_VERIFY_WITH_TIMEOUT(windowTitled(QStringLiteral("Правила доски")), 30000);
        Page()->runJavaScript(QStringLiteral("document.getElementById('open').click()"));
        QTRY_VERIFY_WITH_TIMEOUT(windowTitled(QStringLiteral("Код с картинки")), 30000);
        QVERIFY(m_server->requests.contains(QStringLiteral("/rules.html")));
        QVERIFY(m_server->requests.contains(QStringLiteral("/captcha.html")));
        QCOMPARE(m_window->windowTitle(), caption);
        QCOMPARE(Page()->url().path(), QStringLiteral("/links.html"));
        QPointer<QWidget> rules = windowTitled(QStringLiteral("Правила доски"));
        rules->close();
        QTRY_VERIFY(rules.isNull());
    }

    // A download lands in the file chosen for it; a cancelled one saves
    // nothing.
    void downloads()
    {
        QTemporaryDir folder;
        const QString target = folder.filePath(QStringLiteral("прайс.txt"));
        QString suggested;
        Host()->OnChooseDownload = [&](const QString& name) {
            suggested = name;
            return target;
        };
        Host()->Navigate(m_server->Url(QStringLiteral("/price.txt")));
        QTRY_COMPARE_WITH_TIMEOUT(testfiles::ReadAll(target), QByteArray("Диван 3000 руб.\n"), 30000);
        QCOMPARE(suggested, QStringLiteral("price.txt"));

        bool asked = false;
        Host()->OnChooseDownload = [&](const QString&) {
            asked = true;
            return QString();
        };
        Host()->Navigate(m_server->Url(QStringLiteral("/price.txt?again")));
        QTRY_VERIFY_WITH_TIMEOUT(asked, 30000);
        QTest::qWait(500);
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("прайс.txt")});
    }

    // Cookies and local storage outlive the program: a second run with the
    // same data folder finds what the first one was given. A browser folder
    // that cannot be used leaves an in-memory profile and a word on stderr.
    void profileSurvivesRestart()
    {
        QTemporaryDir data;
        const auto run = [&](const QString& path, QByteArray* errors = nullptr) {
            QProcess child;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("XDG_DATA_HOME"), data.path());
            child.setProcessEnvironment(environment);
            child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--profile-run"), m_server->Url(path)});
            // The server answers from this loop, so no blocking wait.
            if (!QTest::qWaitFor([&] { return child.state() == QProcess::NotRunning; }, 60000))
                child.kill();
            if (errors)
                *errors = child.readAllStandardError();
            return child.exitCode() == 0 ? QString::fromUtf8(child.readAllStandardOutput()).trimmed()
                                         : QStringLiteral("(failed)");
        };
        QCOMPARE(run(QStringLiteral("/remember.html")), QStringLiteral("запомнено"));
        QVERIFY(QFileInfo(data.filePath(QStringLiteral("snimkorez/browser"))).isDir());
        QCOMPARE(run(QStringLiteral("/recall.html")), QStringLiteral("seller=anna|диван"));

        QVERIFY(QDir(data.filePath(QStringLiteral("snimkorez/browser"))).removeRecursively());
        QFile inTheWay(data.filePath(QStringLiteral("snimkorez/browser")));
        QVERIFY(inTheWay.open(QIODevice::WriteOnly));
        inTheWay.close();
        QByteArray errors;
        QCOMPARE(run(QStringLiteral("/recall.html"), &errors), QStringLiteral("|"));
        QVERIFY2(errors.contains("папку браузера"), errors.constData());
    }

    // The look of the window on a local page, for docs/browser.png.
    void screenshot()
    {
        const QString target = qEnvironmentVariable("SNIMKOREZ_BROWSER_SHOT");
        if (target.isEmpty())
            QSKIP("set SNIMKOREZ_BROWSER_SHOT=<file.png> to write the screenshot");
        m_selector = QStringLiteral("yalta-leto.ru");
        Load(QStringLiteral("/board.html"));
        QTest::qWait(1500);  // let the compositor draw
        QVERIFY(m_window->grab().save(target));
    }
};

// One run of a browser host on `url`: prints the page's title once loaded,
// then shuts the engine down as the program does.
int ProfileRun(int argc, char** argv, const QString& url)
{
    browser::PrepareEngine();
    QApplication application(argc, argv);
    QString title;
    {
        TWebHost host;
        bool done = false;
        host.OnDocumentComplete = [&](TWebHost*, QObject*, const QVariant&) { done = true; };
        host.Navigate(url);
        if (!QTest::qWaitFor([&] { return done; }, 30000))
            return 1;
        title = qobject_cast<QWebEnginePage*>(host.Document())->title();
    }
    TWebHost::ShutdownEngine();
    std::printf("%s\n", title.toUtf8().constData());
    return 0;
}

int main(int argc, char** argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--profile-run") == 0)
        return ProfileRun(1, argv, QString::fromUtf8(argv[2]));
    browser::PrepareEngine();
    QApplication application(argc, argv);
    BrowserWindowTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "browser_window_test.moc"
