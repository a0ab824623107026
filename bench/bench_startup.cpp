// Start-up of the program under the current X display: the time from exec to
// its main window being mapped, as a ratio to a bare Qt Widgets window this
// bench starts the same way in the same run; the program's memory before the
// first photo command; and the first navigation of the browser window made
// at once or after the engine was warmed up.
//
//   bench_startup [--runs N] [PROGRAM]
//
// Needs a display without a window manager (xvfb-run -a bench_startup).
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QWidget>

#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// A number from /proc/PID/status, in KiB.
long StatusKiB(pid_t pid, const char* field)
{
    FILE* file = std::fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
    if (!file)
        return 0;
    char line[256];
    long value = 0;
    const size_t length = std::strlen(field);
    while (std::fgets(line, sizeof line, file))
        if (std::strncmp(line, field, length) == 0 && line[length] == ':')
            value = std::atol(line + length + 1);
    std::fclose(file);
    return value;
}

// The web engine's processes under `parent` (children and theirs): count and
// resident memory in KiB.
void EngineProcesses(pid_t parent, int& count, long& rssKiB)
{
    QDir proc(QStringLiteral("/proc"));
    for (const QString& entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const pid_t pid = entry.toInt(&number);
        if (!number)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        const qsizetype close = text.lastIndexOf(')');
        const QByteArray name = text.mid(text.indexOf('(') + 1, close - text.indexOf('(') - 1);
        const QList<QByteArray> fields = text.mid(close + 2).split(' ');
        if (fields.size() < 2 || !name.startsWith("QtWebEngineProc"))
            continue;
        // Its parent chain reaches the program.
        for (pid_t up = fields[1].toInt(); up > 1;) {
            if (up == parent) {
                ++count;
                rssKiB += StatusKiB(pid, "VmRSS");
                break;
            }
            QFile upStat(QStringLiteral("/proc/%1/stat").arg(up));
            if (!upStat.open(QIODevice::ReadOnly))
                break;
            const QByteArray upText = upStat.readAll();
            up = upText.mid(upText.lastIndexOf(')') + 2).split(' ').value(1).toInt();
        }
    }
}

struct Run {
    double mappedMs = 0;
    long peakAtMapKiB = 0;      // the program's own peak when its window appeared
    int enginesAtMap = 0;       // engine processes then
    int enginesBeforeIdle = 0;  // at 0.8 s after mapping
    long peakIdleKiB = 0;       // the program's own peak after 3 s idle
    long enginesIdleKiB = 0;    // the engine processes' memory then
};

// Starts `argv`, waits for its first top-level window to be mapped, and, when
// asked, watches it idle for a while.
Run StartAndWatch(xcb_connection_t* x, const std::vector<std::string>& arguments, bool watchIdle,
                  const std::vector<std::string>& extraEnvironment)
{
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> environment;
    for (char** e = environ; *e; ++e)
        environment.emplace_back(*e);
    environment.insert(environment.end(), extraEnvironment.begin(), extraEnvironment.end());
    std::vector<char*> envp;
    for (std::string& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    // Forget map events of earlier runs.
    while (xcb_generic_event_t* stale = xcb_poll_for_event(x))
        std::free(stale);

    Run run;
    pid_t pid = 0;
    const auto start = Clock::now();
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data()) != 0) {
        std::fprintf(stderr, "bench_startup: cannot start %s\n", argv[0]);
        std::exit(1);
    }
    for (;;) {
        xcb_generic_event_t* event = xcb_wait_for_event(x);
        if (!event) {
            std::fputs("bench_startup: the display went away\n", stderr);
            std::exit(1);
        }
        const bool mapped = (event->response_type & 0x7f) == XCB_MAP_NOTIFY &&
                            !reinterpret_cast<xcb_map_notify_event_t*>(event)->override_redirect;
        std::free(event);
        if (mapped)
            break;
    }
    run.mappedMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    run.peakAtMapKiB = StatusKiB(pid, "VmHWM");
    long ignored = 0;
    EngineProcesses(pid, run.enginesAtMap, ignored);
    if (watchIdle) {
        usleep(800 * 1000);
        EngineProcesses(pid, run.enginesBeforeIdle, ignored);
        usleep(2200 * 1000);
        run.peakIdleKiB = StatusKiB(pid, "VmHWM");
        int count = 0;
        EngineProcesses(pid, count, run.enginesIdleKiB);
    }
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    return run;
}

int Bare(int argc, char** argv)
{
    QApplication application(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("bare"));
    window.setFixedSize(728, 440);
    window.show();
    return application.exec();
}

double MeasureNavigation(const std::string& navigator, bool warm, const std::string& dataHome)
{
    const std::string command = "'" + navigator + "' " + (warm ? "--warm" : "--cold");
    const std::string environment = "XDG_DATA_HOME='" + dataHome + "' ";
    FILE* pipe = popen((environment + command).c_str(), "r");
    double ms = -1;
    if (pipe) {
        if (std::fscanf(pipe, "%lf", &ms) != 1)
            ms = -1;
        pclose(pipe);
    }
    return ms;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--bare") == 0)
        return Bare(argc, argv);

    int runs = 7;
    std::string program = SNIMKOREZ_PROGRAM;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else
            program = argv[i];
    }
    xcb_connection_t* x = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(x)) {
        std::fputs("bench_startup: no X display; run it as xvfb-run -a bench_startup\n", stderr);
        return 1;
    }
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(x)).data;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(x, screen->root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(x);

    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0)
        return 1;
    // The program keeps its settings beside itself and its browser data in
    // the data folder: both in a folder of this run, so a stored position or
    // an old browser profile changes nothing.
    QTemporaryDir folder;
    const std::string home = folder.path().toStdString();
    const std::vector<std::string> environment = {"XDG_CONFIG_HOME=" + home + "/config",
                                                  "XDG_DATA_HOME=" + home + "/data",
                                                  "XDG_CACHE_HOME=" + home + "/cache"};

    std::vector<double> bare, ours;
    std::vector<Run> programRuns;
    for (int i = 0; i < runs; ++i) {
        bare.push_back(StartAndWatch(x, {self, "--bare"}, false, environment).mappedMs);
        const Run run = StartAndWatch(x, {program}, i == 0, environment);
        ours.push_back(run.mappedMs);
        programRuns.push_back(run);
    }
    const Run& first = programRuns.front();
    std::printf("program: %s (%d runs, medians)\n", program.c_str(), runs);
    std::printf("%-44s %8.1f ms\n", "bare Qt Widgets window mapped after", Median(bare));
    std::printf("%-44s %8.1f ms  %5.2f x bare\n", "main window mapped after", Median(ours),
                Median(ours) / Median(bare));
    std::printf("%-44s %8.1f MiB, %d engine processes\n", "program's peak memory when mapped",
                first.peakAtMapKiB / 1024.0, first.enginesAtMap);
    std::printf("%-44s %8d\n", "engine processes 0.8 s after mapping", first.enginesBeforeIdle);
    std::printf("%-44s %8.1f MiB, engine processes %.1f MiB\n", "program's peak memory after 3 s idle",
                first.peakIdleKiB / 1024.0, first.enginesIdleKiB / 1024.0);

    std::vector<double> cold, warm;
    for (int i = 0; i < std::min(runs, 5); ++i) {
        QTemporaryDir data;
        cold.push_back(MeasureNavigation(SNIMKOREZ_NAVIGATOR, false, data.path().toStdString()));
        QTemporaryDir warmData;
        warm.push_back(MeasureNavigation(SNIMKOREZ_NAVIGATOR, true, warmData.path().toStdString()));
    }
    std::printf("%-44s %8.1f ms\n", "first navigation, engine made by it", Median(cold));
    std::printf("%-44s %8.1f ms  %5.2f x made by it\n", "first navigation, engine warmed 1 s before",
                Median(warm), Median(warm) / Median(cold));
    xcb_disconnect(x);
    return 0;
}
