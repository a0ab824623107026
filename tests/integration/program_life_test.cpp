// Runs the real program on the X display it is given, drives it as a user and
// a window manager would, and watches how its process ends.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

// The process ids and their parents, from /proc.
QHash<qint64, qint64> Parents(QHash<qint64, QByteArray>* names = nullptr)
{
    QHash<qint64, qint64> parents;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(QStringLiteral("/proc/") + entry + QStringLiteral("/stat"));
        if (entry.toLongLong() <= 0 || !stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        const qsizetype close = text.lastIndexOf(')');
        const QList<QByteArray> fields = text.mid(close + 2).split(' ');
        if (fields.size() < 2 || fields[0] == "Z")  // a zombie has ended
            continue;
        parents.insert(entry.toLongLong(), fields[1].toLongLong());
        if (names)
            names->insert(entry.toLongLong(), text.mid(text.indexOf('(') + 1, close - text.indexOf('(') - 1));
    }
    return parents;
}

// The web engine's processes that descend from `ancestor`.
QList<qint64> EngineProcesses(qint64 ancestor)
{
    QHash<qint64, QByteArray> names;
    const QHash<qint64, qint64> parents = Parents(&names);
    QList<qint64> found;
    for (auto it = parents.cbegin(); it != parents.cend(); ++it) {
        qint64 up = it.value();
        for (int depth = 0; up > 1 && up != ancestor && depth < 64; ++depth)
            up = parents.value(up);
        if (up == ancestor && names.value(it.key()).startsWith("QtWebEngineProc"))
            found.append(it.key());
    }
    return found;
}

class Display {
public:
    Display() : m_x(xcb_connect(nullptr, nullptr))
    {
        if (ok())
            m_root = xcb_setup_roots_iterator(xcb_get_setup(m_x)).data->root;
    }
    ~Display() { xcb_disconnect(m_x); }
    bool ok() const { return !xcb_connection_has_error(m_x); }

    // A mapped top-level window whose title begins with one of `prefixes`.
    xcb_window_t Find(const QStringList& prefixes)
    {
        xcb_query_tree_reply_t* tree = xcb_query_tree_reply(m_x, xcb_query_tree(m_x, m_root), nullptr);
        if (!tree)
            return XCB_WINDOW_NONE;
        xcb_window_t match = XCB_WINDOW_NONE;
        const xcb_window_t* children = xcb_query_tree_children(tree);
        for (int i = 0; i < xcb_query_tree_children_length(tree) && match == XCB_WINDOW_NONE; ++i) {
            const QString title = Title(children[i]);
            for (const QString& prefix : prefixes)
                if (title.startsWith(prefix) && Viewable(children[i]))
                    match = children[i];
        }
        std::free(tree);
        return match;
    }

    // Left click at a point of `window`, through the server's own input.
    void Click(xcb_window_t window, int x, int y)
    {
        xcb_translate_coordinates_reply_t* at =
            xcb_translate_coordinates_reply(m_x, xcb_translate_coordinates(m_x, window, m_root, x, y), nullptr);
        QVERIFY(at);
        xcb_test_fake_input(m_x, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, m_root, at->dst_x, at->dst_y, 0);
        xcb_test_fake_input(m_x, XCB_BUTTON_PRESS, 1, XCB_CURRENT_TIME, XCB_WINDOW_NONE, 0, 0, 0);
        xcb_test_fake_input(m_x, XCB_BUTTON_RELEASE, 1, XCB_CURRENT_TIME, XCB_WINDOW_NONE, 0, 0, 0);
        std::free(at);
        xcb_flush(m_x);
    }

    // What a window manager sends when the user closes a window.
    void Close(xcb_window_t window)
    {
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = window;
        message.type = Atom("WM_PROTOCOLS");
        message.data.data32[0] = Atom("WM_DELETE_WINDOW");
        message.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(m_x, false, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&message));
        xcb_flush(m_x);
    }

private:
    xcb_atom_t Atom(const char* name)
    {
        xcb_intern_atom_reply_t* reply =
            xcb_intern_atom_reply(m_x, xcb_intern_atom(m_x, false, std::strlen(name), name), nullptr);
        const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return atom;
    }
    QString Title(xcb_window_t window)
    {
        for (const auto& [property, type] : {std::pair(Atom("_NET_WM_NAME"), Atom("UTF8_STRING")),
                                             std::pair(xcb_atom_t(XCB_ATOM_WM_NAME), xcb_atom_t(XCB_ATOM_ANY))}) {
            xcb_get_property_reply_t* reply = xcb_get_property_reply(
                m_x, xcb_get_property(m_x, false, window, property, type, 0, 1024), nullptr);
            const QString title = reply ? QString::fromUtf8(static_cast<const char*>(xcb_get_property_value(reply)),
                                                            xcb_get_property_value_length(reply))
                                        : QString();
            std::free(reply);
            if (!title.isEmpty())
                return title;
        }
        return {};
    }
    bool Viewable(xcb_window_t window)
    {
        xcb_get_window_attributes_reply_t* attributes =
            xcb_get_window_attributes_reply(m_x, xcb_get_window_attributes(m_x, window), nullptr);
        const bool viewable = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        std::free(attributes);
        return viewable;
    }

    xcb_connection_t* m_x;
    xcb_window_t m_root = XCB_WINDOW_NONE;
};

}  // namespace

class ProgramLifeTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cleanup()
    {
        m_program.kill();
        m_program.waitForFinished(5000);
        m_errors += m_program.readAllStandardError();
        if (QTest::currentTestFailed())
            qWarning("the program's stderr:\n%s", m_errors.constData());
    }

    // Closing the main window, with the browser window open, ends the
    // program with code 0 and takes the engine's processes with it.
    void closingMainWindowEndsProgram()
    {
        Display display;
        QVERIFY2(display.ok(), "no X display");
        QTemporaryDir dir;
        const QString exe = dir.filePath(QStringLiteral("snimkorez"));
        QVERIFY(QFile::copy(QStringLiteral(SNIMKOREZ_EXECUTABLE), exe));
        // The modules travel with the program, as an installed copy has them.
        const QString built = QFileInfo(QStringLiteral(SNIMKOREZ_EXECUTABLE)).path();
        for (const char* module : {"CRDE2001.so", "ISP2000.so", "snimkorez-webengine.so"})
            QVERIFY(QFile::copy(built + u'/' + QLatin1String(module), dir.filePath(QLatin1String(module))));

        // Whatever the board's address, the page goes to a closed local port.
        QTcpServer port;
        QVERIFY(port.listen(QHostAddress::LocalHost));
        const quint16 closed = port.serverPort();
        port.close();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        for (const char* xdg : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
            environment.insert(QLatin1String(xdg), dir.filePath(QLatin1String(xdg)));
        environment.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));
        environment.insert(QStringLiteral("QTWEBENGINE_CHROMIUM_FLAGS"),
                           QStringLiteral("--disable-gpu --proxy-server=http://127.0.0.1:%1").arg(closed));
        m_program.setProcessEnvironment(environment);
        connect(&m_program, &QProcess::readyReadStandardError, this,
                [this] { m_errors += m_program.readAllStandardError(); });
        m_program.start(exe, {});
        QVERIFY(m_program.waitForStarted(10000));

        const auto appear = [&](const QStringList& titles) {
            xcb_window_t window = XCB_WINDOW_NONE;
            const bool found = QTest::qWaitFor(
                [&] { return (window = display.Find(titles)) || m_program.state() != QProcess::Running; }, 30000);
            return found ? window : xcb_window_t(XCB_WINDOW_NONE);
        };
        const xcb_window_t main = appear({QStringLiteral("Снимкорез для досок объявлений")});
        QVERIFY2(main, "no main window");
        display.Click(main, 240 + 89 / 2, 400 + 4 + 25 / 2);  // "Выбрать фото"
        const xcb_window_t open = appear({QStringLiteral("Открыть")});
        QVERIFY2(open, "no open dialog");
        display.Close(open);
        QVERIFY2(appear({QStringLiteral("Загрузка с "), QStringLiteral("Доска объявлений")}), "no browser window");
        QList<qint64> engine;
        QVERIFY2(QTest::qWaitFor([&] { return !(engine = EngineProcesses(m_program.processId())).isEmpty(); }, 30000),
                 "the browser window runs no engine process");

        display.Close(main);
        QElapsedTimer ending;
        ending.start();
        QVERIFY2(m_program.waitForFinished(5000), "still running 5 s after its main window closed");
        QCOMPARE(m_program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_program.exitCode(), 0);
        qInfo("ended %lld ms after the close", static_cast<long long>(ending.elapsed()));
        // The engine's processes end with it: the zygotes see their pipe
        // close, so they may take a moment more, but not longer.
        const auto engineLeft = [&] {
            const QHash<qint64, qint64> running = Parents();
            return std::any_of(engine.cbegin(), engine.cend(), [&](qint64 pid) { return running.contains(pid); });
        };
        QVERIFY2(QTest::qWaitFor([&] { return !engineLeft(); }, 2000), "engine processes outlived the program");
    }

private:
    QProcess m_program;
    QByteArray m_errors;
};

QTEST_GUILESS_MAIN(ProgramLifeTest)
#include "program_life_test.moc"
