// The browser window's first navigation to a local page, in milliseconds on
// standard output: with the engine made by the navigation itself (--cold), or
// warmed up a second before (--warm). Run by bench_startup.
#include "app/TForm2.h"
#include "browser/TWebHost.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QHttpServer>

#include <cstdio>
#include <cstring>

namespace {

// The browser window's first navigation to a local page: with the engine
// made by the navigation itself, and with it warmed up a second before.
int Navigation(int argc, char** argv, bool warm)
{
    browser::PrepareEngine();
    QApplication application(argc, argv);
    QHttpServer server;
    server.route(QStringLiteral("/"), [] {
        return QByteArray("<!doctype html><meta charset='utf-8'><title>Доска</title><p>Продаю диван</p>");
    });
    const quint16 port = server.listen(QHostAddress(QHostAddress::LocalHost), 0);
    app::TForm2 window;
    window.show();
    if (warm) {
        window.WebHost()->CreateControl();
        QElapsedTimer idle;
        idle.start();
        while (idle.elapsed() < 1000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    bool done = false;
    window.WebHost()->OnDocumentComplete = [&](browser::TWebHost*, QObject*, const QVariant&) { done = true; };
    QElapsedTimer timer;
    timer.start();
    window.WebHost()->Navigate(QStringLiteral("http://127.0.0.1:%1/").arg(port));
    while (!done && timer.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    std::printf("%.1f\n", static_cast<double>(timer.nsecsElapsed()) / 1e6);
    return done ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    return Navigation(argc, argv, argc > 1 && std::strcmp(argv[1], "--warm") == 0);
}
