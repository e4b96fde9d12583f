#include "diagnostics/DiagnosticsRunner.h"

#include "diagnostics/SettledProbe.h"
#include "diagnostics/TunnelStatusSource.h"
#include "platform/Property.h"
#include "tunnel/TunnelController.h"

#include <QPointer>

#include <vector>

namespace kovra {
namespace {

constexpr qint64 kBodyPrefix = 64;
const QString kSeparator = QStringLiteral(" — ");

QString rootURL(const QString &host, const QString &replacement)
{
    if (!replacement.isEmpty())
        return replacement;
    return QStringLiteral("https://") + host + QLatin1Char('/');
}

// Starts the probes at once (tasks run eagerly), in report order.
std::vector<QCoro::Task<RawProbeOutcome>> startProbes(RawProber &prober, const DiagnosticsTargets &t, double timeout)
{
    std::vector<QCoro::Task<RawProbeOutcome>> probes;
    probes.push_back(settledProbe(prober.https(rootURL(t.resolverAddress, t.resolverURL), false, kBodyPrefix, kSeparator, timeout)));
    probes.push_back(settledProbe(prober.https(rootURL(t.exitAddressHost, t.exitAddressURL), true, kBodyPrefix, kSeparator, timeout)));
    probes.push_back(settledProbe(prober.https(rootURL(t.testDomain, t.testDomainURL), false, kBodyPrefix, kSeparator, timeout)));
    probes.push_back(settledProbe(prober.tcp(t.resolverAddress, t.resolverPort, timeout)));
    probes.push_back(settledProbe(prober.dns(t.resolverDomain, timeout)));
    probes.push_back(settledProbe(prober.tcp(t.entryHost, t.entryPort, timeout)));
    return probes;
}

} // namespace

DiagnosticsRunner::DiagnosticsRunner(DiagnosticsRunnerOptions options, QObject *parent)
    : QObject(parent), m_options(std::move(options))
{
    if (!m_options.prober)
        m_options.prober = std::make_shared<RawProber>();
    if (!m_options.clock)
        m_options.clock = Clock::system();
}

DiagnosticsRunner::~DiagnosticsRunner() = default;

QStringList DiagnosticsRunner::probeNames(const DiagnosticsTargets &t)
{
    return {
        QStringLiteral("HTTPS via IP ") + t.resolverAddress,
        QStringLiteral("Exit IP (") + t.exitAddressHost + QLatin1Char(')'),
        QStringLiteral("DNS+HTTPS ") + t.testDomain,
        QStringLiteral("TCP %1:%2").arg(t.resolverAddress).arg(t.resolverPort),
        QStringLiteral("DNS resolve ") + t.resolverDomain,
        QStringLiteral("TCP %1:%2 (entry)").arg(t.entryHost).arg(t.entryPort),
    };
}

QCoro::Task<void> DiagnosticsRunner::run(std::shared_ptr<TunnelStatusSource> statusSource, QStringList telemetry)
{
    // Test and set before the first suspension: an overlapping call never starts probes.
    if (m_isRunning)
        co_return;
    updateProperty(m_isRunning, true, this, &DiagnosticsRunner::isRunningChanged);
    m_log.info(QStringLiteral("diagnostics: starting probes"));

    const QPointer<DiagnosticsRunner> self(this);
    // The frame keeps what the probes use, so the runner may go away meanwhile.
    const std::shared_ptr<RawProber> prober = m_options.prober;
    const std::shared_ptr<Clock> clock = m_options.clock;
    const QStringList names = probeNames(m_options.targets);
    std::vector<QCoro::Task<RawProbeOutcome>> probes = startProbes(*prober, m_options.targets, m_options.probeTimeout);

    DiagnosticsReport report;
    for (std::size_t i = 0; i < probes.size(); ++i) {
        const RawProbeOutcome outcome = co_await probes[i];
        DiagnosticProbeResult result;
        result.name = names.value(qsizetype(i));
        result.ok = outcome.ok;
        result.latencyMS = outcome.latencyMS;
        result.detail = outcome.detail;
        report.probes.append(std::move(result));
    }
    if (!self)
        co_return;
    const std::optional<TunnelStatusReport> status = co_await statusReportOrNone(statusSource.get());
    if (!self)
        co_return;

    report.timestamp = clock->now();
    report.tunnelStatus = status;
    report.reliabilityTelemetry = std::move(telemetry);
    m_log.info(QStringLiteral("diagnostics: %1/%2 ok").arg(report.okCount()).arg(report.probes.size()));
    m_lastReport = std::move(report);
    Q_EMIT lastReportChanged();
    updateProperty(m_isRunning, false, this, &DiagnosticsRunner::isRunningChanged);
}

} // namespace kovra
