#include "diagnostics/NetworkTriage.h"

#include "diagnostics/ApiHostTarget.h"
#include "diagnostics/SettledProbe.h"
#include "diagnostics/TriageURLs.h"

#include <algorithm>
#include <limits>

namespace kovra {
namespace {

// The run's own list of steps; each step also goes to the caller's handler.
struct StepLog {
    QList<TriageStep> steps;
    NetworkTriage::StepHandler onStep;

    void append(TriageStep step)
    {
        steps.append(step);
        if (onStep)
            onStep(steps.last());
    }
};

TriageStep probeStep(const QString &host, const QString &name, const RawProbeOutcome &outcome)
{
    return {host, name, outcome.ok, outcome.latencyMS, outcome.detail, true};
}

TriageStep downloadStep(const QString &host, const QString &name, const TriageBodyOutcome &outcome)
{
    return {host, name, outcome.isComplete(), outcome.elapsedMS, outcome.detailText(), outcome.statusCode.has_value()};
}

// A whole decimal number with an optional sign and nothing else; none when it does not fit.
std::optional<qint64> decimal(QStringView text)
{
    bool negative = false;
    if (!text.isEmpty() && (text.front() == u'+' || text.front() == u'-')) {
        negative = text.front() == u'-';
        text = text.sliced(1);
    }
    if (text.isEmpty())
        return std::nullopt;
    // The lowest value has one more step than the highest.
    const quint64 bound = quint64(std::numeric_limits<qint64>::max()) + (negative ? 1 : 0);
    quint64 magnitude = 0;
    for (QChar c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        const quint64 digit = c.unicode() - u'0';
        if (magnitude > (bound - digit) / 10)
            return std::nullopt;
        magnitude = magnitude * 10 + digit;
    }
    return negative ? qint64(0 - magnitude) : qint64(magnitude);
}

} // namespace

namespace NetworkTriage {

std::optional<QUrl> configurationURL(const Defaults &defaults)
{
    const std::optional<QString> text = defaults.string(AppGroupKey::subscriptionURL);
    if (!text || text->isEmpty())
        return std::nullopt;
    const QUrl url(*text, QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    return withEntryQuery(withCapsQuery(ensuringSingBoxPath(url)), defaults.string(AppGroupKey::preferredEntry));
}

QCoro::Task<TriageReport> run(AppGroupStore store, StepHandler onStep, NetworkTriageOptions options)
{
    const std::shared_ptr<Clock> clock = options.clock ? options.clock : Clock::system();
    const std::shared_ptr<RawProber> prober = options.prober ? options.prober : std::make_shared<RawProber>();
    const double timeout = options.probeTimeout;
    TriageReport report;
    report.takenAt = clock->now();
    const NetworkPathType net = co_await NetworkPathType::currentOffThread(options.pathTimeout, options.pathSources);
    report.net = net;
    const std::optional<QUrl> configuration = configurationURL(*store.defaults());

    StepLog log{{}, std::move(onStep)};
    for (const QUrl &base : options.baseURLs) {
        const std::optional<ApiHostTarget> target = ApiHostTarget::of(base, options.followBaseURLs);
        if (!target)
            continue;
        const QString &host = target->host;
        const RawProbeOutcome dns = co_await settledProbe(prober->dns(host, timeout));
        log.append(probeStep(host, QStringLiteral("dns"), dns));
        const RawProbeOutcome tcp = co_await settledProbe(prober->tcp(host, target->port, timeout));
        log.append(probeStep(host, QStringLiteral("tcp"), tcp));
        const RawProbeOutcome head = co_await settledProbe(prober->https(target->rootURL, false, 0, QString(), timeout));
        log.append(probeStep(host, QStringLiteral("head"), head));

        const QUrl echo = appendingPath(base, QStringLiteral("diag/echo"));
        for (const qint64 size : options.echoSizes) {
            const QUrl url = withQueryItem(echo, QStringLiteral("bytes"), QString::number(size));
            const TriageBodyOutcome outcome = co_await bodyProbe(url, options.body);
            log.append(downloadStep(host, QStringLiteral("echo:%1").arg(size), outcome));
            if (!log.steps.last().ok)
                break;
        }
        if (configuration) {
            const QUrl url = rebased(*configuration, base);
            const TriageBodyOutcome outcome = co_await bodyProbe(url, options.body);
            log.append(downloadStep(host, QStringLiteral("config"), outcome));
        }
    }
    report.steps = std::move(log.steps);
    report.summary = summarize(report.steps);
    co_return report;
}

QStringList uniqueHosts(const QList<TriageStep> &steps)
{
    QStringList hosts;
    for (const TriageStep &step : steps) {
        if (!hosts.contains(step.host))
            hosts << step.host;
    }
    return hosts;
}

QString sizeText(qint64 bytes)
{
    if (bytes >= 1024 && bytes % 1024 == 0)
        return QString::number(bytes / 1024) + QStringLiteral(" КБ");
    return QString::number(bytes) + QStringLiteral(" Б");
}

QString summarize(const QList<TriageStep> &steps)
{
    if (steps.isEmpty())
        return QStringLiteral("проверки не выполнялись");
    const auto passed = [](const TriageStep &s) { return s.ok; };
    if (std::all_of(steps.begin(), steps.end(), passed))
        return QStringLiteral("все проверки прошли");

    QStringList working;
    QStringList failing;
    for (const QString &host : uniqueHosts(steps)) {
        const bool allPassed = std::all_of(steps.begin(), steps.end(),
                                           [&host](const TriageStep &s) { return s.host != host || s.ok; });
        (allPassed ? working : failing) << host;
    }
    const QString separator = QStringLiteral(", ");
    for (const TriageStep &step : steps) {
        if (step.ok || !step.gotResponse || !step.name.startsWith(QStringLiteral("echo:")))
            continue;
        const std::optional<qint64> size = decimal(QStringView(step.name).sliced(5));
        if (!size)
            continue;
        QString summary = QStringLiteral("тело ответа обрывается начиная с ") + sizeText(*size);
        if (!working.isEmpty())
            summary += QStringLiteral(", рабочий путь есть: ") + working.join(separator);
        return summary;
    }
    if (!working.isEmpty())
        return QStringLiteral("работает через ") + working.join(separator) + QStringLiteral("; не отвечает ") +
               failing.join(separator);
    return QStringLiteral("ни один хост не отвечает");
}

} // namespace NetworkTriage

} // namespace kovra
