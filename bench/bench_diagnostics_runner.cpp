// Wall time of a diagnostics runner pass whose six scripted probes take 40 to 200 ms,
// beside the slowest of those probes alone, measured in the same run. The probes run
// at once, so a pass should take within 10 % of the slowest probe.

#include "diagnostics/DiagnosticsRunner.h"

#include "BenchSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>

#include "support/Await.h"
#include "support/ScriptedProber.h"

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace kovra;
using namespace std::chrono_literals;

using kovra::bench::median;

namespace {

constexpr int kRounds = 15;
const std::chrono::milliseconds kDelays[6] = {120ms, 40ms, 200ms, 80ms, 160ms, 60ms};

std::shared_ptr<test::ScriptedProber> scriptedProber()
{
    auto prober = std::make_shared<test::ScriptedProber>();
    const DiagnosticsTargets t;
    const QStringList targets{"HEAD https://" + t.resolverAddress + "/", "GET https://" + t.exitAddressHost + "/",
                              "HEAD https://" + t.testDomain + "/", QStringLiteral("tcp %1:%2").arg(t.resolverAddress).arg(t.resolverPort),
                              "dns " + t.resolverDomain, QStringLiteral("tcp %1:%2").arg(t.entryHost).arg(t.entryPort)};
    for (int i = 0; i < 6; ++i)
        prober->script(targets[i], {true, kDelays[i].count(), {}}, kDelays[i]);
    return prober;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("kovra.*=false"));
    const auto slowest = *std::max_element(std::begin(kDelays), std::end(kDelays));
    std::vector<double> passes;
    std::vector<double> alone;
    for (int round = 0; round < kRounds; ++round) {
        auto prober = scriptedProber();
        DiagnosticsRunner runner({.prober = prober});
        QElapsedTimer timer;
        timer.start();
        test::await(runner.run(nullptr, {}));
        passes.push_back(timer.nsecsElapsed() / 1e6);
        if (!runner.lastReport() || runner.lastReport()->okCount() != 6 || prober->mostInFlight != 6) {
            std::fprintf(stderr, "bench_diagnostics_runner: the pass did not run six probes at once\n");
            return 1;
        }

        test::ScriptedProber single;
        single.script(QStringLiteral("dns slowest"), {true, slowest.count(), {}}, slowest);
        timer.restart();
        test::await(single.dns(QStringLiteral("slowest"), 4.0));
        alone.push_back(timer.nsecsElapsed() / 1e6);
    }
    const double pass = median(passes);
    const double baseline = median(alone);
    std::printf("diagnostics runner pass (6 probes, slowest %lld ms): median %.1f ms over %d rounds\n",
                static_cast<long long>(slowest.count()), pass, kRounds);
    std::printf("slowest probe alone (baseline):                     median %.1f ms\n", baseline);
    std::printf("pass / baseline: %.3f (target at most 1.100)\n", pass / baseline);
    return 0;
}
