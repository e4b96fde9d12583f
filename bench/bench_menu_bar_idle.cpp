// What the app costs while it sits in the tray: CPU seconds of the shell with the tray
// icon shown, the main window closed to the tray and the panel closed, first with the
// tunnel disconnected, then connected, beside a bare event loop measured first in the
// same run. It counts the timer events of each phase by receiver class and those that
// reach the shell's own objects (the shell, its windows, the tray extra and its panel):
// the target is that none of those wakes while nothing changes.
//
//     bench_menu_bar_idle [seconds per phase]     (60 by default)
//
// The shell is built as "kovra" builds it, in this process, over a loopback service
// and the fake tunnel provider in a private home with a keychain item of its own (run
// it where a Secret Service answers, e.g. under scripts/with-test-env). The panel is
// opened and closed once before measuring, so that its window exists.

#include "account/KeychainStore.h"
#include "app/AppOptions.h"
#include "app/shell/AppShell.h"
#include "tunnel/ProviderConfiguration.h"
#include "ui/main/MenuBarExtra.h"

#include <QApplication>
#include <QQuickView>
#include <QQuickWindow>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <map>

#include "BenchSupport.h"

#include "support/Await.h"
#include "support/FakeProvider.h"
#include "support/FakeService.h"
#include "support/TestHome.h"

using namespace kovra;

using kovra::bench::cpuSeconds;

namespace {

// Counts the timer events of the main thread by receiver class (and its parent's),
// and those whose receiver is one of `shell` or below one.
class TimerCounter : public QObject {
public:
    QList<QObject *> shell;
    std::map<QString, int> byClass;
    int shellEvents = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::Timer)
            return false;
        QString name = QString::fromLatin1(watched->metaObject()->className());
        if (watched->parent())
            name += QStringLiteral(" in ") + QString::fromLatin1(watched->parent()->metaObject()->className());
        ++byClass[name];
        for (QObject *o = watched; o; o = o->parent()) {
            if (shell.contains(o)) {
                ++shellEvents;
                break;
            }
        }
        return false;
    }
};

struct Phase {
    double cpu = 0;
    int timers = 0;
    int shellTimers = 0;
    std::map<QString, int> byClass;
};

Phase runFor(double seconds, TimerCounter &counter)
{
    counter.byClass.clear();
    counter.shellEvents = 0;
    const double before = cpuSeconds();
    QTimer::singleShot(int(seconds * 1000), Qt::PreciseTimer, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
    Phase phase{cpuSeconds() - before, 0, counter.shellEvents, counter.byClass};
    for (const auto &[name, count] : counter.byClass)
        phase.timers += count;
    return phase;
}

void print(const char *what, const Phase &phase, double seconds)
{
    std::printf("%-26s %6.1f s   cpu %8.4f s   %.4f cpu-s/min   timer events %d (shell %d)\n", what, seconds,
                phase.cpu, phase.cpu / seconds * 60, phase.timers, phase.shellTimers);
    for (const auto &[name, count] : phase.byClass)
        std::printf("    %-60s %d\n", qPrintable(name), count);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 60;
    if (!(seconds >= 5 && seconds <= 3600)) {
        std::fprintf(stderr, "usage: %s [seconds per phase, 5 to 3600]\n", argv[0]);
        return 2;
    }
    TimerCounter counter;
    application.installEventFilter(&counter);
    std::printf("app in the tray, panel closed, %.0f s per phase (platform %s)\n", seconds,
                qPrintable(QGuiApplication::platformName()));
    const Phase bare = runFor(seconds, counter);

    // Signed in with an active subscription; the tunnel configured and disconnected.
    test::TestHome home(test::TestHome::PathsOnly);
    test::FakeService service;
    service.script(test::FakeService::anyHost, "GET", QStringLiteral("/me/subscription"),
                   {test::FakeReply::json(200, R"({"subscription_url":"https://sub.example/u","status":"active",)"
                                               R"("data_limit_bytes":10737418240,"used_bytes":1610612736})")});
    test::FakeProvider provider;
    provider.setStatus(1);
    AppOptions options;
    for (ReachabilityService &s : options.targets.reachability)
        s.url = service.baseURLs().first().toString() + QStringLiteral("/") + s.name;
    options.paths = home.paths();
    options.baseURLs = service.baseURLs();
    options.tunnelSocketOverride = provider.socketPath();
    options.keychainService = test::uniqueName(QStringLiteral("kovra-bench"));
    {
        TunnelPreferences preferences(test::tunnelOptions(home.paths(), provider.socketPath()));
        test::saveConfiguration(preferences, kPacketTunnelBundleID);
    }
    test::await(KeychainStore(options.keychainService).saveJWT(QStringLiteral("bench-token")));
    const QString keychain = options.keychainService;

    ShellOptions shellOptions;
    shellOptions.instanceFolder = home.runtimeDir() + QStringLiteral("/instance");
    shellOptions.trayAvailable = [] { return true; };
    shellOptions.exitApplication = [] {};
    {
        AppShell shell(std::move(options), std::move(shellOptions));
        const AppShell::Claim claim = test::await(shell.start());
        if (claim != AppShell::Claim::Primary || !QTest::qWaitForWindowExposed(shell.mainWindow())
            || !QTest::qWaitFor([&] { return shell.menuBar() != nullptr; })) {
            std::fprintf(stderr, "the shell did not start: %s\n", qPrintable(shell.problem()));
            return 1;
        }
        ui::MenuBarExtra *menuBar = shell.menuBar();
        menuBar->openPanel(QRect(100, 0, 22, 22));
        runFor(1, counter);
        menuBar->closePanel();
        shell.mainWindow()->close();
        runFor(2, counter);
        counter.shell = {&shell, shell.mainWindow(), menuBar, menuBar->panel()};

        const Phase idle = runFor(seconds, counter);
        provider.setStatus(3);
        runFor(2, counter);
        const Phase connected = runFor(seconds, counter);

        print("bare event loop", bare, seconds);
        print("in the tray, disconnected", idle, seconds);
        print("in the tray, connected", connected, seconds);
        std::printf("extra cost over the bare loop: %.4f %% (disconnected), %.4f %% (connected) of one core\n",
                    (idle.cpu - bare.cpu) / seconds * 100, (connected.cpu - bare.cpu) / seconds * 100);
        std::printf("shell timer events while nothing changed: %d (target: 0)\n",
                    idle.shellTimers + connected.shellTimers);
        shell.quit();
    }
    test::await(KeychainStore(keychain).deleteJWT());
    return 0;
}
