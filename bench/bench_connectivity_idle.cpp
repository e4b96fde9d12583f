// What the connectivity engine costs while it watches a healthy tunnel: CPU seconds per
// minute in the dense phase (a tick every 8 s after the settle) and in the sparse phase
// (every 30 s), beside a bare event loop measured first in the same run. The engine runs
// at product intervals over the fake tunnel provider (connected), the app group's
// throughput record in a private home and the real path monitor; its five probes go to
// a loopback HTTP host in this process, so the host's own work is in the figures.
//
//     bench_connectivity_idle [seconds]     (180 by default: 120 dense, 60 sparse)
//
// A shorter run keeps the ticks and shrinks the dense window to two thirds of it.

#include "connectivity/AppReachabilityProbe.h"
#include "connectivity/KovraConnectivityController.h"
#include "tunnel/ProviderConfiguration.h"
#include "tunnel/SystemExtensionActivator.h"
#include "tunnel/TunnelController.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

#include "BenchSupport.h"

#include "support/Await.h"
#include "support/FakeProvider.h"
#include "support/FakeService.h"
#include "support/TestHome.h"

using namespace kovra;
using namespace std::chrono_literals;

using kovra::bench::cpuSeconds;

namespace {

// Runs the event loop for the period; returns the CPU seconds it cost.
double runFor(double seconds)
{
    const double before = cpuSeconds();
    QTimer::singleShot(int(seconds * 1000), Qt::PreciseTimer, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
    return cpuSeconds() - before;
}

void print(const char *what, double cpu, double seconds)
{
    const double perMinute = cpu / seconds * 60;
    std::printf("%-30s %6.1f s   cpu %8.4f s   %.4f cpu-s/min   %.4f %% of one core\n", what, seconds, cpu,
                perMinute, perMinute / 60 * 100);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const double total = argc > 1 ? std::atof(argv[1]) : 180;
    if (!(total >= 15 && total <= 3600)) {
        std::fprintf(stderr, "usage: %s [seconds, 15 to 3600]\n", argv[0]);
        return 2;
    }
    const double dense = total * 2 / 3, sparse = total - dense, bare = std::min(30.0, total / 6);

    test::TestHome home(test::TestHome::PathsOnly);
    test::FakeProvider provider;
    provider.setStatus(1);
    TunnelPreferences preferences(test::tunnelOptions(home.paths(), provider.socketPath()));
    ProviderActivationManager activation(provider.socketPath());
    SystemExtensionActivator activator(activation);
    TunnelController tunnel({.preferences = &preferences, .activator = &activator, .appGroupFactory = [&home] {
                                 return std::make_unique<AppGroupStore>(home.paths());
                             }});
    test::saveConfiguration(preferences, kPacketTunnelBundleID);
    test::await(tunnel.attach());

    // A throughput record as the provider leaves it, read from the file every poll.
    const AppGroupStore appGroup(home.paths());
    appGroup.defaults()->set(AppGroupKey::throughputSample,
                             QByteArrayLiteral(R"({"rxBps":52000.5,"txBps":3100,"connectionsOut":4,"updatedAt":1e9})"));

    test::FakeService host(1);
    AppReachabilityProbeOptions probeOptions;
    for (ReachabilityService &service : probeOptions.services)
        service.url = host.baseURLs().first().toString() + QStringLiteral("/") + service.name;

    KovraConnectivityControllerOptions options;
    options.denseWindow = std::chrono::milliseconds(qint64(dense * 1000));
    KovraConnectivityController engine(nullptr, &tunnel, appGroup,
                                       std::make_shared<AppReachabilityProbe>(probeOptions), nullptr, nullptr, options);
    tunnel.setOnStatusChange([&engine](VPNStatus, VPNStatus now) { engine.handleTunnelStatus(now); });

    std::printf("connectivity engine on a connected tunnel, %.0f s (a bare event loop for %.0f s first)\n", total, bare);
    const double bareCpu = runFor(bare);
    provider.setStatus(3);
    const double denseCpu = runFor(dense);
    const double sparseCpu = runFor(sparse);
    provider.setStatus(1);
    runFor(0.5);

    print("bare event loop", bareCpu, bare);
    print("engine, dense phase", denseCpu, dense);
    print("engine, sparse phase", sparseCpu, sparse);
    std::printf("engine's extra cost, sparse phase: %.4f %% of one core (target: under 0.2 %%)\n",
                (sparseCpu / sparse - bareCpu / bare) * 100);
    std::printf("probe requests answered: %d; telemetry lines: %lld; final verdict: %s\n", host.requestCount(),
                static_cast<long long>(engine.telemetryLines().size()), qPrintable(caseName(engine.verdict())));
    return 0;
}
