#pragma once

// A sheet whose in-tunnel self-test runs on scripted probes and a manual clock, shared
// by the section's view-model and view tests.

#include "DiagnosticsFakes.h"

#include "diagnostics/AppGroupFiles.h"
#include "support/ManualClock.h"

namespace kovra::test {

// A tunnel at `status` (-1: no controller) answering the status query with the auto-detect
// counters (or failing), and a sheet over it whose self-test gets `connectivity`, by
// default with the scripted probes below.
struct ConnectivityRig {
    explicit ConnectivityRig(int status = 3, bool queryFails = false, ui::ConnectivityCheckOptions connectivity = {})
    {
        if (status >= 0) {
            tunnel = std::make_unique<TunnelRig>(status);
            using Reply = provider::ProviderServer::Reply;
            const QByteArray json = R"({"singboxRunning":true,"recentLogs":[],"autoDetectSkippedBinds":3,"autoDetectTotalCalls":40})";
            tunnel->provider.setMessageReply(u"status"_qs, queryFails ? Reply::failure() : Reply::withData(json));
        }
        ui::DiagnosticsViewOptions options = sheetOptions(home.paths(), prober, controlPlane, clock);
        options.connectivity = std::move(connectivity);
        if (!options.connectivity.probe.prober)
            options.connectivity.probe.prober = prober;
        view = std::make_unique<ui::DiagnosticsView>(tunnel ? &tunnel->controller : nullptr, nullptr, std::move(options));
    }
    ui::ConnectivityCheck *section() const { return view->connectivityCheck(); }

    // The TCP step, the two look-ups, the trace GET and the check HEAD (twice) by their
    // ok flags, each answering after `delay`; the trace page names the exit.
    void script(QList<bool> ok, std::chrono::milliseconds delay)
    {
        const QStringList targets{u"tcp 1.1.1.1:443"_qs, u"dns cloudflare.com"_qs, u"dns google.com"_qs,
                                  u"GET https://1.1.1.1/cdn-cgi/trace"_qs, u"HEAD https://www.google.com/generate_204"_qs};
        const QStringList details{u"TCP connected"_qs, u"104.16.132.229"_qs, QString(),
                                  u"HTTP 200\nip=203.0.113.7\nloc=NL"_qs, u"HTTP 204"_qs};
        for (int i = 0; i < targets.size(); ++i)
            prober->script(targets[i], {ok[i], 10 * (i + 1), ok[i] ? details[i] : u"timeout 5s"_qs}, delay);
    }
    // Starts a run and waits until the status query is answered and the probes begin.
    bool start()
    {
        const qsizetype before = prober->calls.size();
        section()->run();
        return QTest::qWaitFor([&] { return prober->calls.size() > before; });
    }
    // The self-test's report file.
    QString lastFile() const { return QString::fromUtf8(container.read(DiagnosticsFiles::connectivityLast).value_or("")); }

    TestHome home{TestHome::PathsOnly};
    AppGroupContainer container{home.paths(), ui::DiagnosticsView::appGroupIdentifier()};
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    std::shared_ptr<ScriptedProber> prober = std::make_shared<ScriptedProber>(clock);
    FakeControlPlane controlPlane;
    std::unique_ptr<TunnelRig> tunnel;
    std::unique_ptr<ui::DiagnosticsView> view;
};

} // namespace kovra::test
