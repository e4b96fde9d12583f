#include "diagnostics/ControlPlaneReachability.h"

#include "diagnostics/ApiHostTarget.h"
#include "diagnostics/PlainText.h"
#include "diagnostics/SettledProbe.h"
#include "platform/L10n.h"

#include <algorithm>
#include <array>
#include <vector>

namespace kovra {
namespace {

constexpr std::array<const char16_t *, 5> kRawValues{u"reachable", u"dnsBlocked", u"blackholed", u"tlsBlocked",
                                                     u"noNetwork"};

struct Finished {
    int order = 0;
    ControlPlaneHostResult result;
};

// One host's chain: look-up, connect, HEAD, one after another, each whatever the
// earlier ones gave. `finishedCount` numbers the chains in the order they end.
QCoro::Task<Finished> hostChain(std::shared_ptr<RawProber> prober, ApiHostTarget target, double timeout,
                                std::shared_ptr<int> finishedCount)
{
    const RawProbeOutcome dns = co_await settledProbe(prober->dns(target.host, timeout));
    const RawProbeOutcome tcp = co_await settledProbe(prober->tcp(target.host, target.port, timeout));
    const RawProbeOutcome https = co_await settledProbe(prober->https(target.rootURL, false, 0, QString(), timeout));
    co_return Finished{(*finishedCount)++, ControlPlaneHostResult{target.host, dns, tcp, https}};
}

} // namespace

QString rawValue(ControlPlaneVerdict verdict)
{
    return QString::fromUtf16(kRawValues[std::size_t(verdict)]);
}

std::optional<ControlPlaneVerdict> controlPlaneVerdict(const QString &raw)
{
    for (std::size_t i = 0; i < kRawValues.size(); ++i) {
        if (raw == QStringView(kRawValues[i]))
            return ControlPlaneVerdict(i);
    }
    return std::nullopt;
}

QString localizedTitle(ControlPlaneVerdict verdict)
{
    switch (verdict) {
    case ControlPlaneVerdict::reachable:
        return L10n::text("diag.controlPlane.reachable", u"Серверы Kovra доступны");
    case ControlPlaneVerdict::dnsBlocked:
        return L10n::text("diag.controlPlane.dnsBlocked", u"Не удаётся разрешить имена серверов Kovra");
    case ControlPlaneVerdict::blackholed:
        return L10n::text("diag.controlPlane.blackholed",
                          u"Имена серверов Kovra найдены, но TCP-соединение не открывается");
    case ControlPlaneVerdict::tlsBlocked:
        return L10n::text("diag.controlPlane.tlsBlocked", u"TCP-соединение открывается, но HTTPS-ответа нет");
    case ControlPlaneVerdict::noNetwork:
        return L10n::text("diag.controlPlane.noNetwork", u"Нет доступа к интернету");
    }
    return {};
}

QString ControlPlaneHostResult::rowText() const
{
    const auto part = [](const RawProbeOutcome &o) { return okOrFail(o.ok) + QLatin1Char(' ') + o.detail; };
    return host + QStringLiteral("  DNS ") + part(dns) + QStringLiteral(" | TCP ") + part(tcp) +
           QStringLiteral(" | HTTPS ") + part(https);
}

namespace ControlPlaneReachability {

bool answeredHTTP(const RawProbeOutcome &outcome)
{
    return outcome.detail.startsWith(QStringLiteral("HTTP "));
}

ControlPlaneVerdict verdict(const QList<ControlPlaneHostResult> &results, bool controlReachable)
{
    const auto any = [&results](auto test) { return std::any_of(results.begin(), results.end(), test); };
    const bool anyAnswered = any([](const ControlPlaneHostResult &r) { return answeredHTTP(r.https); });
    if (!anyAnswered && !controlReachable)
        return ControlPlaneVerdict::noNetwork;
    if (anyAnswered)
        return ControlPlaneVerdict::reachable;
    if (!any([](const ControlPlaneHostResult &r) { return r.dns.ok; }))
        return ControlPlaneVerdict::dnsBlocked;
    if (!any([](const ControlPlaneHostResult &r) { return r.tcp.ok; }))
        return ControlPlaneVerdict::blackholed;
    return ControlPlaneVerdict::tlsBlocked;
}

QString cell(const RawProbeOutcome &outcome)
{
    QString text = okOrFail(outcome.ok) + QLatin1Char(' ') + outcome.detail;
    if (outcome.latencyMS >= 1)
        text += QStringLiteral(" (%1ms)").arg(outcome.latencyMS);
    return trimSpacesAndTabs(text).toString();
}

QString Report::plainText() const
{
    QStringList lines;
    lines << QStringLiteral("Kovra S — доступ к серверам без VPN");
    lines << QStringLiteral("taken_at=") + isoUTC(takenAt) + QStringLiteral(" net=") + net.rawValue();
    lines << QStringLiteral("verdict=") + rawValue(verdict) + QLatin1Char(' ') + localizedTitle(verdict);
    for (const ControlPlaneHostResult &r : results)
        lines << r.host + QStringLiteral("  DNS ") + cell(r.dns) + QStringLiteral(" | TCP ") + cell(r.tcp) +
                     QStringLiteral(" | HTTPS ") + cell(r.https);
    lines << QStringLiteral("control=") + okOrFail(controlReachable);
    return lines.join(QLatin1Char('\n'));
}

QCoro::Task<Report> run(ControlPlaneOptions options)
{
    const std::shared_ptr<Clock> clock = options.clock ? options.clock : Clock::system();
    const std::shared_ptr<RawProber> prober = options.prober ? options.prober : std::make_shared<RawProber>();
    Report report;
    report.takenAt = clock->now();
    const NetworkPathType net = co_await NetworkPathType::currentOffThread(options.pathTimeout, options.pathSources);
    report.net = net;

    QStringList hosts;
    std::vector<ApiHostTarget> targets;
    for (const QUrl &url : options.baseURLs) {
        if (std::optional<ApiHostTarget> target = ApiHostTarget::of(url, options.followBaseURLs)) {
            hosts << target->host;
            targets.push_back(std::move(*target));
        }
    }

    // Tasks start at once: the control probe first, then every host's chain.
    QCoro::Task<RawProbeOutcome> control =
        settledProbe(prober->https(options.controlURL, false, 0, QString(), options.timeout));
    const auto finishedCount = std::make_shared<int>(0);
    std::vector<QCoro::Task<Finished>> chains;
    for (const ApiHostTarget &target : targets)
        chains.push_back(hostChain(prober, target, options.timeout, finishedCount));

    std::vector<Finished> finished;
    for (const QCoro::Task<Finished> &chain : chains) {
        Finished done = co_await chain;
        finished.push_back(std::move(done));
    }
    // Host-list order; a host listed twice keeps the order its chains ended in.
    std::stable_sort(finished.begin(), finished.end(), [&hosts](const Finished &a, const Finished &b) {
        const qsizetype pa = hosts.indexOf(a.result.host);
        const qsizetype pb = hosts.indexOf(b.result.host);
        return pa != pb ? pa < pb : a.order < b.order;
    });
    for (Finished &f : finished)
        report.results.append(std::move(f.result));

    const RawProbeOutcome controlOutcome = co_await control;
    report.controlReachable = answeredHTTP(controlOutcome);
    report.verdict = verdict(report.results, report.controlReachable);
    co_return report;
}

} // namespace ControlPlaneReachability

} // namespace kovra
