#include "dev-service/DevServiceOptions.h"

#include <QCommandLineParser>
#include <QRegularExpression>

#include <cmath>

namespace kovra::devservice {

namespace {

constexpr int kHostCount = 3;
constexpr double kMaxSeconds = 365.0 * 24 * 3600;

const QCommandLineOption kPorts(QStringLiteral("ports"),
                                QStringLiteral("Ports of the three hosts, comma-separated (0: a free port)."),
                                QStringLiteral("p1,p2,p3"));
const QCommandLineOption kState(QStringLiteral("state"), QStringLiteral("Keep the state in this JSON file between runs."),
                                QStringLiteral("file"));
const QCommandLineOption kTargets(QStringLiteral("write-targets"),
                                  QStringLiteral("Write the external targets (KOVRA_TARGETS_FILE) to this file."),
                                  QStringLiteral("file"));
const QCommandLineOption kConfirmAfter(QStringLiteral("confirm-after"),
                                       QStringLiteral("Polls of a sign-in answered 202 before the token (default 3)."),
                                       QStringLiteral("n"));
const QCommandLineOption kSubscription(QStringLiteral("subscription"),
                                       QStringLiteral("Start with this subscription: trial, active, expired, exhausted or unlimited."),
                                       QStringLiteral("plan"));
const QCommandLineOption kPayAfter(QStringLiteral("pay-after"),
                                   QStringLiteral("Seconds from an invoice to the extended subscription (default 10)."),
                                   QStringLiteral("seconds"));
const QCommandLineOption kWakeSeconds(QStringLiteral("wake-seconds"),
                                      QStringLiteral("Seconds from a wake request to an online region (default 30)."),
                                      QStringLiteral("seconds"));
const QCommandLineOption kSessionSeconds(QStringLiteral("session-seconds"),
                                         QStringLiteral("Lifetime of a sign-in session in seconds (default 300)."),
                                         QStringLiteral("seconds"));
const QCommandLineOption kEchoCutAt(QStringLiteral("echo-cut-at"),
                                    QStringLiteral("Break echo bodies off after this many bytes."), QStringLiteral("bytes"));
const QCommandLineOption kProbesFail(QStringLiteral("probes-fail"),
                                     QStringLiteral("The reachability probes close the connection without an answer."));
const QCommandLineOption kHost(QStringLiteral("host"),
                               QStringLiteral("Host N (1-3) refuses connections (N=down) or answers late (N=delay:MS); repeatable."),
                               QStringLiteral("N=down|N=delay:MS"));

std::optional<qint64> integerIn(const QString &text, qint64 low, qint64 high)
{
    bool ok = false;
    const qint64 value = text.trimmed().toLongLong(&ok);
    if (!ok || value < low || value > high)
        return std::nullopt;
    return value;
}

std::optional<std::chrono::milliseconds> secondsIn(const QString &text)
{
    bool ok = false;
    const double seconds = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(seconds) || seconds < 0 || seconds > kMaxSeconds)
        return std::nullopt;
    return std::chrono::milliseconds(std::llround(seconds * 1000));
}

std::optional<SubscriptionPlan> planNamed(const QString &name)
{
    static const QHash<QString, SubscriptionPlan> plans{{QStringLiteral("trial"), SubscriptionPlan::trial},
                                                        {QStringLiteral("active"), SubscriptionPlan::active},
                                                        {QStringLiteral("expired"), SubscriptionPlan::expired},
                                                        {QStringLiteral("exhausted"), SubscriptionPlan::exhausted},
                                                        {QStringLiteral("unlimited"), SubscriptionPlan::unlimited}};
    const auto it = plans.find(name);
    return it == plans.end() ? std::nullopt : std::optional(*it);
}

bool readHostKnob(const QString &text, DevServiceOptions &options)
{
    static const QRegularExpression pattern(QStringLiteral("^([1-9])=(down|delay:([0-9]{1,7}))$"));
    const auto match = pattern.match(text.trimmed());
    if (!match.hasMatch())
        return false;
    const int host = match.captured(1).toInt() - 1;
    if (host >= kHostCount || options.downHosts.contains(host) || options.hostDelays.contains(host))
        return false;
    if (match.captured(2) == QLatin1String("down"))
        options.downHosts.insert(host);
    else
        options.hostDelays.insert(host, std::chrono::milliseconds(match.captured(3).toLongLong()));
    return true;
}

} // namespace

void addDevServiceOptions(QCommandLineParser &parser)
{
    parser.addOptions({kPorts, kState, kTargets, kConfirmAfter, kSubscription, kPayAfter, kWakeSeconds, kSessionSeconds,
                       kEchoCutAt, kProbesFail, kHost});
}

std::optional<DevServiceOptions> devServiceOptions(const QCommandLineParser &parser, QString *error)
{
    DevServiceOptions options;
    const auto fail = [error](const QCommandLineOption &option, const QString &value) {
        if (error)
            *error = QStringLiteral("invalid --%1 value \"%2\"").arg(option.names().constFirst(), value);
        return std::nullopt;
    };
    if (parser.isSet(kPorts)) {
        const QStringList parts = parser.value(kPorts).split(u',');
        if (parts.size() != kHostCount)
            return fail(kPorts, parser.value(kPorts));
        for (const QString &part : parts) {
            const auto port = integerIn(part, 0, 65535);
            if (!port || (*port != 0 && options.ports.contains(quint16(*port))))
                return fail(kPorts, parser.value(kPorts));
            options.ports.append(quint16(*port));
        }
    }
    options.statePath = parser.value(kState);
    options.targetsPath = parser.value(kTargets);
    if (parser.isSet(kConfirmAfter)) {
        const auto n = integerIn(parser.value(kConfirmAfter), 0, 10'000);
        if (!n)
            return fail(kConfirmAfter, parser.value(kConfirmAfter));
        options.confirmAfter = int(*n);
    }
    if (parser.isSet(kSubscription)) {
        options.subscription = planNamed(parser.value(kSubscription));
        if (!options.subscription)
            return fail(kSubscription, parser.value(kSubscription));
    }
    for (const auto &[option, target] : {std::pair{&kPayAfter, &options.payAfter}, std::pair{&kWakeSeconds, &options.wakeAfter},
                                         std::pair{&kSessionSeconds, &options.sessionLifetime}}) {
        if (!parser.isSet(*option))
            continue;
        const auto value = secondsIn(parser.value(*option));
        if (!value)
            return fail(*option, parser.value(*option));
        *target = *value;
    }
    // A region stays "stopped" for a fifth of its wake time, two seconds at most.
    options.wakeStoppedFor = std::min(std::chrono::milliseconds(2000), options.wakeAfter / 5);
    if (parser.isSet(kEchoCutAt)) {
        const auto bytes = integerIn(parser.value(kEchoCutAt), 0, options.echoMaxBytes);
        if (!bytes)
            return fail(kEchoCutAt, parser.value(kEchoCutAt));
        options.echoCutAt = *bytes;
    }
    options.probesFail = parser.isSet(kProbesFail);
    for (const QString &knob : parser.values(kHost)) {
        if (!readHostKnob(knob, options))
            return fail(kHost, knob);
    }
    return options;
}

} // namespace kovra::devservice
