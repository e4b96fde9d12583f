#pragma once

// Scripted collaborators of the diagnostics sheet, shared by its view-model and view tests.

#include "connectivity/TelemetrySource.h"
#include "core/AppGroupStore.h"
#include "platform/TunnelManager.h"
#include "support/Await.h"
#include "support/FakeProvider.h"
#include "support/ScriptedProber.h"
#include "support/TestHome.h"
#include "tunnel/ProviderConfiguration.h"
#include "tunnel/SystemExtensionActivator.h"
#include "tunnel/TunnelController.h"
#include "ui/diagnostics/DiagnosticsView.h"

#include <QTest>

namespace kovra::test {

// The six probe targets of the default DiagnosticsTargets, in report order.
inline QStringList probeTargets()
{
    return {u"HEAD https://1.1.1.1/"_qs, u"GET https://api.ipify.org/"_qs, u"HEAD https://example.com/"_qs,
            u"tcp 1.1.1.1:443"_qs,       u"dns cloudflare.com"_qs,         u"tcp entry.kovra.example:9459"_qs};
}

// Scripts every probe with the outcome of the same index (the last one for the rest).
inline void scriptProbes(ScriptedProber &prober, const QList<RawProbeOutcome> &outcomes,
                         std::chrono::milliseconds delay = {})
{
    const QStringList targets = probeTargets();
    for (qsizetype i = 0; i < targets.size(); ++i)
        prober.script(targets[i], outcomes.value(i, outcomes.last()), delay);
}

// The check of the API hosts: records each call and answers with `report`, at once or,
// while `hold` is set, when the test resolves `release`.
struct FakeControlPlane {
    ControlPlaneReachability::Report report;
    bool hold = false;
    OneShot<ControlPlaneReachability::Report> release;
    QList<ControlPlaneOptions> calls;
    std::function<void()> onCall;

    ui::ControlPlaneRun run()
    {
        return [this](ControlPlaneOptions options) { return answer(this, std::move(options)); };
    }

    static QCoro::Task<ControlPlaneReachability::Report> answer(FakeControlPlane *self, ControlPlaneOptions options)
    {
        self->calls.append(options);
        if (self->onCall)
            self->onCall();
        if (!self->hold) {
            const ControlPlaneReachability::Report copy = self->report;
            co_return copy;
        }
        const OneShot<ControlPlaneReachability::Report> release = self->release;
        const ControlPlaneReachability::Report later = co_await release.wait();
        co_return later;
    }
};

struct FakeTelemetry final : TelemetrySource {
    QStringList lines;
    mutable int reads = 0;
    QStringList telemetryLines() const override
    {
        ++reads;
        return lines;
    }
};

// A tunnel controller attached to an in-process provider at a given status, in a
// private home.
struct TunnelRig {
    explicit TunnelRig(int status)
        : preferences(tunnelOptions(home.configHome(), provider.socketPath(), nullptr, std::chrono::seconds(6))),
          activation(provider.socketPath()), activator(activation), controller(std::nullopt, options())
    {
        provider.setStatus(status);
        saveConfiguration(preferences, kPacketTunnelBundleID);
        await(controller.attach());
    }

    TunnelControllerOptions options()
    {
        TunnelControllerOptions o;
        o.preferences = &preferences;
        o.activator = &activator;
        o.appGroupFactory = [] { return std::make_unique<AppGroupStore>(Defaults::inMemory(), nullptr); };
        return o;
    }

    // The "status" provider messages received so far.
    int statusQueries() const
    {
        int count = 0;
        for (const auto &request : provider.requests(u"message"_qs))
            count += request.op() == u"status";
        return count;
    }

    TestHome home{TestHome::PathsOnly};
    FakeProvider provider;
    TunnelPreferences preferences;
    ProviderActivationManager activation;
    SystemExtensionActivator activator;
    TunnelController controller;
};

// Options of a sheet that reaches nothing outside the test: scripted probes, the fake
// host check, the snapshot files below `paths`.
inline ui::DiagnosticsViewOptions sheetOptions(const PlatformPaths &paths, std::shared_ptr<ScriptedProber> prober,
                                               FakeControlPlane &controlPlane, std::shared_ptr<Clock> clock = Clock::system())
{
    ui::DiagnosticsViewOptions o;
    o.paths = paths;
    o.runner.prober = std::move(prober);
    o.controlPlaneRun = controlPlane.run();
    o.clock = std::move(clock);
    return o;
}

// Writes a file of the app group's container.
inline void writeSnapshot(const PlatformPaths &paths, const QString &relativePath, const QByteArray &bytes)
{
    QVERIFY(AppGroupContainer(paths, ui::DiagnosticsView::appGroupIdentifier()).write(relativePath, bytes));
}

} // namespace kovra::test
