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

#include <algorithm>

namespace kovra::test {

// Scripts the six probes of the default targets, in report order, with the outcome of
// the same index (the last one for the rest).
inline void scriptProbes(ScriptedProber &prober, const QList<RawProbeOutcome> &outcomes,
                         std::chrono::milliseconds delay = {})
{
    const QStringList targets{u"HEAD https://1.1.1.1/"_qs, u"GET https://api.ipify.org/"_qs,
                              u"HEAD https://example.com/"_qs, u"tcp 1.1.1.1:443"_qs,
                              u"dns cloudflare.com"_qs, u"tcp entry.kovra.example:9459"_qs};
    for (qsizetype i = 0; i < targets.size(); ++i)
        prober.script(targets[i], outcomes.value(i, outcomes.last()), delay);
}

// The check of the API hosts: records the options of each call and answers with
// `report`, at once or, while `hold` is set, once the test resolves `release`.
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
        OneShot<ControlPlaneReachability::Report> release = self->release;
        if (!self->hold)
            release.resolve(self->report);
        const ControlPlaneReachability::Report answer = co_await release.wait();
        co_return answer;
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

// A tunnel controller attached to an in-process provider at `status`, in a private home.
struct TunnelRig {
    explicit TunnelRig(int status)
        : preferences(tunnelOptions(home.paths(), provider.socketPath(), nullptr, std::chrono::seconds(6))),
          activation(provider.socketPath()), activator(activation),
          controller({.preferences = &preferences, .activator = &activator, .appGroupFactory = [] {
                          return std::make_unique<AppGroupStore>(Defaults::inMemory(), nullptr);
                      }})
    {
        provider.setStatus(status);
        saveConfiguration(preferences, kPacketTunnelBundleID);
        await(controller.attach());
    }
    // The "status" provider messages received so far.
    int statusQueries() const
    {
        const auto requests = provider.requests(u"message"_qs);
        return int(std::count_if(requests.begin(), requests.end(), [](const auto &r) { return r.op() == u"status"; }));
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

} // namespace kovra::test
