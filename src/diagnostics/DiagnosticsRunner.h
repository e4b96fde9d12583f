#pragma once

#include "diagnostics/DiagnosticsReport.h"
#include "diagnostics/RawProbes.h"
#include "platform/Clock.h"
#include "platform/Log.h"

#include <QObject>
#include <QStringList>

#include <qcoro/qcorotask.h>

#include <memory>
#include <optional>

namespace kovra {

class TunnelStatusSource;

// What the quick diagnostics probe. The defaults are public services and the
// service's entry host; tests point them elsewhere.
struct DiagnosticsTargets {
    // A public resolver's address: a HEAD of "https://<address>/" and a TCP connect.
    QString resolverAddress = QStringLiteral("1.1.1.1");
    quint16 resolverPort = 443;
    // A service whose root answers with the caller's public address as plain text.
    QString exitAddressHost = QStringLiteral("api.ipify.org");
    // A public test domain: its name is looked up by the HEAD of its root.
    QString testDomain = QStringLiteral("example.com");
    // The resolver operator's own domain name, looked up alone.
    QString resolverDomain = QStringLiteral("cloudflare.com");
    // The service's entry host and port: a TCP connect.
    QString entryHost = QStringLiteral("entry.kovra.example");
    quint16 entryPort = 9459;
    // Full URLs that replace "https://<host>/" of the resolver's address, the exit
    // address service and the test domain (stand-ins on other ports); empty: none.
    QString resolverURL;
    QString exitAddressURL;
    QString testDomainURL;
};

struct DiagnosticsRunnerOptions {
    DiagnosticsTargets targets{};
    // Each probe's own time-out, in seconds.
    double probeTimeout = 4.0;
    // The probes; default: RawProber over the system clock and resolver.
    std::shared_ptr<RawProber> prober{};
    // Dates the report; default: the system clock.
    std::shared_ptr<Clock> clock{};
};

// The quick check of the diagnostics screen: six probes at once (an HTTPS HEAD to the
// resolver's address, the exit address, an HTTPS HEAD to a test domain, two TCP
// connects and a name look-up), gathered with the tunnel's status report and the
// engine's telemetry into a DiagnosticsReport. One run at a time; the screen keeps one
// runner for its lifetime. Lives on the GUI thread; logs under "Diagnostics".
class DiagnosticsRunner : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isRunning READ isRunning NOTIFY isRunningChanged)
    Q_PROPERTY(bool hasReport READ hasReport NOTIFY lastReportChanged)

public:
    explicit DiagnosticsRunner(DiagnosticsRunnerOptions options = {}, QObject *parent = nullptr);
    ~DiagnosticsRunner() override;

    // True from the start of a run to its end.
    bool isRunning() const { return m_isRunning; }
    // The report of the last completed run; a new run does not clear it.
    const std::optional<DiagnosticsReport> &lastReport() const { return m_lastReport; }
    bool hasReport() const { return m_lastReport.has_value(); }

    // Runs the six probes (each bounded by its time-out), then asks `statusSource` for
    // the tunnel's status report (none without a source or when its query fails), and
    // publishes the report with `telemetry` unchanged. Returns at once, changing
    // nothing, while a run is under way. Never throws.
    QCoro::Task<void> run(std::shared_ptr<TunnelStatusSource> statusSource, QStringList telemetry);

    // The six probes' names in report order, for the given targets.
    static QStringList probeNames(const DiagnosticsTargets &targets);

Q_SIGNALS:
    void isRunningChanged();
    // Emitted on every completed run, even when the report reads the same.
    void lastReportChanged();

private:
    DiagnosticsRunnerOptions m_options;
    bool m_isRunning = false;
    std::optional<DiagnosticsReport> m_lastReport;
    Logger m_log{QStringLiteral("Diagnostics")};
};

} // namespace kovra
