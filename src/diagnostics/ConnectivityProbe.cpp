#include "diagnostics/ConnectivityProbe.h"

#include "diagnostics/AppGroupFiles.h"
#include "diagnostics/PlainText.h"
#include "diagnostics/SettledProbe.h"

#include <QUrl>

namespace kovra {
namespace {

constexpr qint64 kTracePrefixBytes = 512;
const QString kLineFeed = QStringLiteral("\n");

// One of the six probes: what it checks and how.
struct Step {
    enum class Kind { tcp, lookup, get, head };
    ConnectivityLayer layer;
    QString name;
    Kind kind;
    QString target;
};

QList<Step> planFor(const ConnectivityTargets &t)
{
    const QUrl trace(t.traceURL);
    return {
        {ConnectivityLayer::tcp, QStringLiteral("TCP %1:%2").arg(t.resolverAddress).arg(t.resolverPort),
         Step::Kind::tcp, t.resolverAddress},
        {ConnectivityLayer::dns, QStringLiteral("DNS ") + t.firstName, Step::Kind::lookup, t.firstName},
        {ConnectivityLayer::dns, QStringLiteral("DNS ") + t.secondName, Step::Kind::lookup, t.secondName},
        {ConnectivityLayer::tls, QStringLiteral("TLS+HTTP ") + trace.host() + trace.path(), Step::Kind::get,
         t.traceURL},
        {ConnectivityLayer::http, QStringLiteral("HTTP ") + t.checkLabel + QStringLiteral(" generate_204"),
         Step::Kind::head, t.checkURL},
        {ConnectivityLayer::baseline, QStringLiteral("Baseline generate_204 (control)"), Step::Kind::head,
         t.checkURL},
    };
}

QCoro::Task<RawProbeOutcome> probe(RawProber &prober, const Step &step, const ConnectivityTargets &t, double timeout)
{
    if (step.kind == Step::Kind::tcp)
        return prober.tcp(step.target, t.resolverPort, timeout);
    if (step.kind == Step::Kind::lookup)
        return prober.dns(step.target, timeout);
    // The HEAD gets the same prefix and separator; they have no effect there.
    return prober.https(step.target, step.kind == Step::Kind::get, kTracePrefixBytes, kLineFeed, timeout);
}

bool isLineBreak(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 0x0A && u <= 0x0D) || u == 0x85 || u == 0x2028 || u == 0x2029;
}

} // namespace

const Logger &ConnectivityProbe::log()
{
    static const Logger logger(QStringLiteral("ConnectivityProbe"));
    return logger;
}

ConnectivityClassification ConnectivityProbe::classify(bool tcp, bool firstLookup, bool secondLookup, bool trace,
                                                       bool check)
{
    const bool anyName = firstLookup || secondLookup;
    const bool anyAnswer = trace || check;
    if (!tcp)
        return anyName || anyAnswer ? ConnectivityClassification::tcpFail
                                    : ConnectivityClassification::tunnelNotCarrying;
    if (!anyName)
        return ConnectivityClassification::dnsFail;
    return anyAnswer ? ConnectivityClassification::allOk : ConnectivityClassification::tlsFail;
}

std::pair<std::optional<QString>, std::optional<QString>> ConnectivityProbe::parseTrace(const QString &text)
{
    std::optional<QString> ip;
    std::optional<QString> loc;
    const QStringView all(text);
    qsizetype begin = 0;
    // A carriage return and line feed pair only makes an empty line between them, and
    // empty lines are skipped, so every break character can end a line on its own.
    for (qsizetype i = 0; i <= all.size(); ++i) {
        if (i < all.size() && !isLineBreak(all.at(i)))
            continue;
        const QStringView line = trimSpacesAndTabs(all.sliced(begin, i - begin));
        begin = i + 1;
        if (line.startsWith(u"ip=")) {
            const QStringView value = trimSpacesAndTabs(line.sliced(3));
            if (!value.isEmpty())
                ip = value.toString();
        } else if (line.startsWith(u"loc=")) {
            const QStringView value = trimSpacesAndTabs(line.sliced(4));
            if (!value.isEmpty())
                loc = value.toString();
        }
    }
    return {ip, loc};
}

QCoro::Task<ConnectivityReport> ConnectivityProbe::run(std::optional<TunnelStatusReport> status, AppGroupContainer appGroup,
                                                       QDateTime startedAt, ConnectivityProbeOptions options)
{
    log().info(QStringLiteral("connectivity self-test: starting"));
    const std::shared_ptr<RawProber> prober = options.prober ? options.prober : std::make_shared<RawProber>();
    const ConnectivityTargets &t = options.targets;
    const double timeout = options.stepTimeout;

    ConnectivityReport report;
    report.timestamp = startedAt;
    // One probe at a time: each is awaited before the next starts.
    const QList<Step> plan = planFor(t);
    for (const Step &step : plan) {
        const RawProbeOutcome outcome = co_await settledProbe(probe(*prober, step, t, timeout));
        ConnectivityStep result;
        result.layer = step.layer;
        result.name = step.name;
        result.ok = outcome.ok;
        result.latencyMS = outcome.latencyMS;
        result.detail = outcome.detail;
        report.steps.append(std::move(result));
    }

    const auto &s = report.steps;
    report.classification = classify(s[0].ok, s[1].ok, s[2].ok, s[3].ok, s[4].ok);
    std::tie(report.exitIP, report.exitLoc) = parseTrace(s[3].detail);
    if (status) {
        report.autoDetectSkippedBinds = status->autoDetectSkippedBinds;
        report.autoDetectTotalCalls = status->autoDetectTotalCalls;
    }
    log().info(QStringLiteral("connectivity self-test: ") + rawValue(report.classification));
    AppGroupFiles::writeText(report.plainText().toUtf8(), DiagnosticsFiles::connectivityLast, appGroup, log(),
                             QStringLiteral("connectivity self-test"));
    co_return report;
}

} // namespace kovra
