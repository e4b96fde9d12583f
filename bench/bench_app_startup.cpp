// What the app costs to start and to keep open: the time from process start to the main
// window's first frame, then the resident memory and CPU time of an idle period, signed
// in and disconnected, beside a bare Qt Quick window started the same way in the same
// run (both are this executable started again, in a child mode). The app child builds
// the shell exactly as "kovra" does, over a loopback service and the fake tunnel provider
// of this process, in a private home with a keychain item of its own (run it where a
// Secret Service answers, e.g. under scripts/with-test-env).
//
//     bench_app_startup [idle seconds] [launches]     (30 and 3 by default)
//
// Target: the app's first frame within 400 ms of the bare window's (medians).

#include "account/KeychainStore.h"
#include "app/KovraApp.h"
#include "app/shell/AppShell.h"
#include "tunnel/ProviderConfiguration.h"

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QQuickItem>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include <unistd.h>

#include "support/Await.h"
#include "support/FakeProvider.h"
#include "support/FakeService.h"
#include "support/TestHome.h"

using namespace kovra;
using namespace std::chrono_literals;

namespace {

qint64 monotonicMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Prints the monotonic time of the window's first frame on stdout, once.
void reportFirstFrame(QQuickWindow *window)
{
    QObject::connect(
        window, &QQuickWindow::frameSwapped, window,
        [] {
            static bool reported = false;
            if (!reported) {
                reported = true;
                std::printf("frame %lld\n", static_cast<long long>(monotonicMs()));
                std::fflush(stdout);
            }
        },
        Qt::DirectConnection);
}

int runBare(int argc, char **argv)
{
    QGuiApplication application(argc, argv);
    QQmlApplicationEngine engine;
    engine.loadData("import QtQuick\nWindow { width: 780; height: 520; visible: true; color: \"white\" }");
    auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().value(0));
    if (!window)
        return 1;
    reportFirstFrame(window);
    return QGuiApplication::exec();
}

QCoro::Task<void> startApp(AppShell *shell)
{
    const AppShell::Claim claim = co_await shell->start();
    if (claim != AppShell::Claim::Primary || !shell->mainWindow()) {
        std::fprintf(stderr, "the app did not start: %s\n", qPrintable(shell->problem()));
        QCoreApplication::exit(1);
        co_return;
    }
    reportFirstFrame(shell->mainWindow());
}

int runApp(int argc, char **argv)
{
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    ShellOptions options;
    options.reduceMotionRequested = true;
    AppShell shell(AppOptions::fromEnvironment(), std::move(options));
    startApp(&shell);
    return QApplication::exec();
}

struct Figures {
    qint64 firstFrameMs = -1;
    double cpuSeconds = 0;
    qint64 rssKiB = 0;
};

double cpuSecondsOf(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray stat = file.readAll();
    // Fields after the command's closing parenthesis; utime and stime are the 14th and 15th.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 12 ? double(fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK))
                              : 0;
}

qint64 rssOf(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/status").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : file.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return 0;
}

// Starts a child, waits for its first frame and, when `idleSeconds` is set, measures
// the idle period after it.
Figures launch(const QString &mode, const QProcessEnvironment &environment, int idleSeconds)
{
    Figures figures;
    QProcess child;
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const qint64 startedAt = monotonicMs();
    child.start(QCoreApplication::applicationFilePath(), {mode});
    QByteArray out;
    for (int waited = 0; waited < 60000 && !out.contains('\n') && child.state() != QProcess::NotRunning; waited += 5) {
        QTest::qWait(5);
        out += child.readAllStandardOutput();
    }
    if (out.startsWith("frame "))
        figures.firstFrameMs = out.mid(6).trimmed().toLongLong() - startedAt;
    if (idleSeconds > 0 && child.state() == QProcess::Running) {
        const double before = cpuSecondsOf(child.processId());
        QTest::qWait(idleSeconds * 1000);
        figures.cpuSeconds = cpuSecondsOf(child.processId()) - before;
        figures.rssKiB = rssOf(child.processId());
    }
    child.terminate();
    if (!child.waitForFinished(10000))
        child.kill();
    return figures;
}

qint64 median(QList<qint64> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? -1 : values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 2 && qstrcmp(argv[1], "--bare") == 0)
        return runBare(argc, argv);
    if (argc == 2 && qstrcmp(argv[1], "--app") == 0)
        return runApp(argc, argv);

    QCoreApplication application(argc, argv);
    const int idle = argc > 1 ? std::atoi(argv[1]) : 30;
    const int launches = argc > 2 ? std::atoi(argv[2]) : 3;
    if (idle < 1 || idle > 3600 || launches < 1 || launches > 50) {
        std::fprintf(stderr, "usage: %s [idle seconds, 1 to 3600] [launches, 1 to 50]\n", argv[0]);
        return 2;
    }

    // Signed in with an active subscription; the tunnel configured and disconnected.
    test::TestHome home(test::TestHome::PathsOnly);
    test::FakeService service;
    service.script(test::FakeService::anyHost, "GET", QStringLiteral("/me/subscription"),
                   {test::FakeReply::json(200, "{\"subscription_url\":\"https://sub.example/u\",\"status\":\"active\","
                                               "\"data_limit_bytes\":0,\"used_bytes\":0}")});
    test::FakeProvider provider;
    provider.setStatus(1);
    {
        TunnelPreferences preferences(test::tunnelOptions(home.paths(), provider.socketPath()));
        test::saveConfiguration(preferences, kPacketTunnelBundleID);
    }
    const QString keychain = test::uniqueName(QStringLiteral("kovra-bench"));
    test::await(KeychainStore(keychain).saveJWT(QStringLiteral("bench-token")));

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.configHome());
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home.dataHome());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.runtimeDir());
    environment.insert(QStringLiteral("KOVRA_KEYCHAIN_SERVICE"), keychain);
    environment.insert(QStringLiteral("KOVRA_TUNNEL_SOCKET"), provider.socketPath());
    QStringList urls;
    for (const QUrl &url : service.baseURLs())
        urls << url.toString();
    environment.insert(QStringLiteral("KOVRA_API_BASE_URLS"), urls.join(u','));

    std::printf("app start-up: %d launches each, then %d s idle (signed in, disconnected)\n", launches, idle);
    QList<qint64> bareFrames, appFrames;
    Figures bareIdle, appIdle;
    for (int i = 0; i < launches; ++i) {
        const bool last = i == launches - 1;
        const Figures bare = launch(QStringLiteral("--bare"), environment, last ? idle : 0);
        const Figures app = launch(QStringLiteral("--app"), environment, last ? idle : 0);
        bareFrames << bare.firstFrameMs;
        appFrames << app.firstFrameMs;
        if (last) {
            bareIdle = bare;
            appIdle = app;
        }
    }
    test::await(KeychainStore(keychain).deleteJWT());

    const qint64 bareMs = median(bareFrames), appMs = median(appFrames);
    std::printf("%-22s first frame %5lld ms (median)   idle cpu %7.3f s   rss %7lld KiB\n", "bare Qt Quick window",
                static_cast<long long>(bareMs), bareIdle.cpuSeconds, static_cast<long long>(bareIdle.rssKiB));
    std::printf("%-22s first frame %5lld ms (median)   idle cpu %7.3f s   rss %7lld KiB\n", "kovra shell",
                static_cast<long long>(appMs), appIdle.cpuSeconds, static_cast<long long>(appIdle.rssKiB));
    std::printf("first frame after the bare window's: %lld ms (target: within 400 ms)\n",
                static_cast<long long>(appMs - bareMs));
    return 0;
}
