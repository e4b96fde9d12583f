#include "connectivity/ReliabilityTelemetry.h"

using namespace Qt::StringLiterals;

namespace kovra {

void ReliabilityTelemetryBuffer::append(const QString &line)
{
    lines.append(line);
    const qsizetype excess = lines.size() - std::max<qsizetype>(capacity, 0);
    if (excess > 0)
        lines.remove(0, excess);
}

namespace telemetry {
QString boolText(bool value) { return value ? u"true"_s : u"false"_s; }

QString timestamp(const QDateTime &date)
{
    const QDateTime utc = date.toUTC();
    return utc.addMSecs(-utc.time().msec()).toString(Qt::ISODate);
}

QString routeText(const std::optional<QString> &connectionID) { return connectionID ? *connectionID : u"—"_s; }

QString transitionLine(const QDateTime &at, EngineState from, EngineState to, const QString &event,
                       const QString &action, const std::optional<QString> &route, bool autoManaged)
{
    return timestamp(at) + u" transition "_s + caseName(from) + u"→"_s + caseName(to) + u" event="_s + event
         + u" action="_s + action + u" route="_s + routeText(route) + u" autoManaged="_s + boolText(autoManaged);
}

QString rateText(const std::optional<double> &rate, bool fresh)
{
    const std::optional<qint64> whole = rate ? ThroughputSample::wholeRate(*rate) : std::nullopt;
    if (!whole)
        return u"—"_s;
    return QString::number(*whole) + (fresh ? QString() : u" (stale)"_s);
}

QString tickLine(const QDateTime &at, const TickLine &tick)
{
    const auto rate = [&tick](double ThroughputSample::*field) {
        return tick.sample ? std::optional<double>((*tick.sample).*field) : std::nullopt;
    };
    return timestamp(at) + u" tick phase="_s + tick.phase + u" state="_s + caseName(tick.state) + u" verdict="_s
         + caseName(tick.verdict) + u" reachable="_s + boolText(tick.reachable) + u" throttled="_s
         + boolText(tick.throttled) + u" rx="_s + rateText(rate(&ThroughputSample::rxRate), tick.sampleFresh)
         + u" tx="_s + rateText(rate(&ThroughputSample::txRate), tick.sampleFresh) + u" route="_s
         + routeText(tick.route) + u" autoManaged="_s + boolText(tick.autoManaged);
}

} // namespace telemetry
} // namespace kovra
