// What watching the network path costs while nothing changes: CPU time and wake-ups of
// the process over an idle period with the monitor running, beside the same period of a
// bare event loop measured first in the same run.
//
//     bench_path_monitor_idle [seconds]     (60 by default)

#include "connectivity/SystemNetworkPathMonitor.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTimer>

#include <atomic>
#include <cstdio>

#include "BenchSupport.h"

using namespace kovra;

namespace {

struct Sample {
    double cpuMs = 0;
    qint64 wakeUps = 0;     // context switches of every thread of the process
    qint64 pathWakeUps = 0; // of the path thread alone
};

qint64 switchesOf(const QString &taskDir)
{
    QFile status(taskDir + QStringLiteral("/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    qint64 total = 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("voluntary_ctxt_switches:") || line.startsWith("nonvoluntary_ctxt_switches:"))
            total += line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
    }
    return total;
}

Sample sample()
{
    Sample s;
    s.cpuMs = kovra::bench::cpuSeconds() * 1000.0;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString dir = tasks.filePath(tid);
        const qint64 switches = switchesOf(dir);
        s.wakeUps += switches;
        QFile comm(dir + QStringLiteral("/comm"));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed().startsWith("kovra-network"))
            s.pathWakeUps += switches;
    }
    return s;
}

// Runs the event loop for the period and returns what it cost.
Sample idleFor(int seconds)
{
    const Sample before = sample();
    QTimer::singleShot(seconds * 1000, Qt::PreciseTimer, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
    const Sample after = sample();
    return {after.cpuMs - before.cpuMs, after.wakeUps - before.wakeUps, after.pathWakeUps - before.pathWakeUps};
}

void print(const char *what, const Sample &s, int seconds)
{
    std::printf("%-28s cpu %8.2f ms  (%.4f ms/s)   wake-ups %6lld  (%.2f/s)   path thread %lld (%.2f/s)\n", what,
                s.cpuMs, s.cpuMs / seconds, static_cast<long long>(s.wakeUps), double(s.wakeUps) / seconds,
                static_cast<long long>(s.pathWakeUps), double(s.pathWakeUps) / seconds);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    bool ok = false;
    const int seconds = argc > 1 ? QByteArray(argv[1]).toInt(&ok) : 60;
    if (argc > 1 && (!ok || seconds <= 0)) {
        std::fprintf(stderr, "usage: %s [seconds]\n", argv[0]);
        return 2;
    }

    std::printf("network path monitor, idle for %d s (a bare event loop first, then with the monitor)\n", seconds);
    const Sample bare = idleFor(seconds);

    std::atomic<int> changes = 0;
    SystemNetworkPathMonitor monitor;
    monitor.setChangeHandler([&] { ++changes; });
    monitor.start();
    // The first dump happens right after start: keep it out of the idle figure.
    const Sample startup = idleFor(1);
    const Sample watched = idleFor(seconds);
    monitor.stop();

    print("bare event loop", bare, seconds);
    print("event loop + path monitor", watched, seconds);
    std::printf("start-up (first dump, 1 s window): cpu %.2f ms, wake-ups %lld\n", startup.cpuMs,
                static_cast<long long>(startup.wakeUps));
    std::printf("path changes reported during the run: %d%s\n", int(changes),
                changes ? " (the network did change: the figures include that work)" : "");
    std::printf("monitor's extra cost: %.2f ms CPU, %+lld wake-ups (%.2f/s)\n", watched.cpuMs - bare.cpuMs,
                static_cast<long long>(watched.wakeUps - bare.wakeUps), double(watched.wakeUps - bare.wakeUps) / seconds);
    return 0;
}
