// What the menu-bar extra costs while nothing changes: CPU seconds of the process with
// the extra's tray icon shown and its panel closed, first with the tunnel disconnected,
// then connected (verdict online, a subscription loaded), beside a bare event loop
// measured first in the same run. It also counts the timer events each phase delivers
// and names their receivers: the target is that no timer of the shell wakes at all.
//
//     bench_menu_bar_idle [seconds per phase]     (60 by default)
//
// The tunnel runs on the in-process fake provider, the stores on a loopback fake
// service; the panel is opened and closed once before measuring so that its window
// and engine exist.

#include "ui/main/MacMenuBarExtra.h"
#include "ui/main/MainModule.h"
#include "ui/main/MenuBarIcon.h"

#include "ui/main/MenuBarFakes.h"

#include <QApplication>
#include <QQuickView>
#include <QSystemTrayIcon>
#include <QTimer>

#include <cstdio>
#include <map>

#include <sys/resource.h>

using namespace kovra;

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
         + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Counts the timer events of the main thread by receiver class, and those that
// reach the extra's own objects.
class TimerCounter : public QObject {
public:
    // The extra and its panel window: a timer event below either is the shell's.
    QList<QObject *> shell;
    std::map<QString, int> byClass;
    int shellEvents = 0;

    void reset()
    {
        byClass.clear();
        shellEvents = 0;
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::Timer)
            return false;
        ++byClass[QString::fromLatin1(watched->metaObject()->className())];
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
    double cpu;
    int timers;
    int shellTimers;
    std::map<QString, int> byClass;
};

Phase runFor(double seconds, TimerCounter &counter)
{
    counter.reset();
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
    const double perMinute = phase.cpu / seconds * 60;
    std::printf("%-28s %6.1f s   cpu %8.4f s   %.4f cpu-s/min   timer events %d (shell %d)\n", what, seconds,
                phase.cpu, perMinute, phase.timers, phase.shellTimers);
    for (const auto &[name, count] : phase.byClass)
        std::printf("    %-40s %d\n", qPrintable(name), count);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 60;
    if (!(seconds >= 5 && seconds <= 3600)) {
        std::fprintf(stderr, "usage: %s [seconds per phase, 5 to 3600]\n", argv[0]);
        return 2;
    }
    ui::registerMainModule();
    TimerCounter counter;
    app.installEventFilter(&counter);
    std::printf("menu-bar extra, panel closed, %.0f s per phase (platform %s, tray host %s)\n", seconds,
                qPrintable(QGuiApplication::platformName()),
                QSystemTrayIcon::isSystemTrayAvailable() ? "present" : "absent");
    const Phase bare = runFor(seconds, counter);

    test::MenuBarRig rig;
    rig.attachAt(1);
    ui::MacMenuBarExtra extra(rig.sources(), {[] {}, [] {}, [] {}}, {.clock = rig.clock});
    extra.setIconVisible(true);
    extra.openPanel(QRect(100, 0, 22, 22));
    QTimer::singleShot(500, &extra, &ui::MacMenuBarExtra::closePanel);
    runFor(1, counter);
    counter.shell = {&extra, extra.panel()};

    const Phase idle = runFor(seconds, counter);
    rig.giveSubscription();
    rig.provider.setStatus(3);
    rig.engine.set(ConnectivityVerdict::online);
    runFor(0.5, counter);
    const Phase connected = runFor(seconds, counter);

    print("bare event loop", bare, seconds);
    print("idle, disconnected", idle, seconds);
    print("idle, connected", connected, seconds);
    std::printf("extra's timer events while nothing changed: %d (target: 0); icon %s, tooltip \"%s\"\n",
                idle.shellTimers + connected.shellTimers, qPrintable(extra.icon()->symbol()),
                qPrintable(extra.trayIcon()->toolTip()));
    return 0;
}
