#pragma once

#include "diagnostics/RawProbes.h"
#include "platform/Clock.h"

#include <QHash>
#include <QStringList>

#include <chrono>
#include <memory>

namespace kovra::test {

// Header-only: the test support library does not link the diagnostics library.
// Raw probes with scripted outcomes, looked up by what a probe targets:
// "dns <host>", "tcp <host>:<port>", "HEAD <url>" or "GET <url>". Each answer comes
// after its delay on the clock (at least one turn of the event loop later). Records
// every call with its arguments, the order in which probes finished and how many
// overlapped.
class ScriptedProber final : public RawProber {
public:
    struct Script {
        RawProbeOutcome outcome;
        std::chrono::milliseconds delay{0};
    };

    explicit ScriptedProber(std::shared_ptr<Clock> clock = Clock::system()) : m_clock(std::move(clock)) {}

    // Outcome of every probe without a script.
    RawProbeOutcome fallback{false, 0, QStringLiteral("unscripted")};
    QHash<QString, Script> scripts;

    // "<target> t=<time-out>", with " prefix=<n> sep=«<separator>»" before the time-out
    // for HTTP probes, in call order.
    QStringList calls;
    // Targets in the order their probes ended.
    QStringList finished;
    int inFlight = 0;
    int mostInFlight = 0;

    void script(const QString &target, RawProbeOutcome outcome, std::chrono::milliseconds delay = {})
    {
        scripts.insert(target, Script{std::move(outcome), delay});
    }

    QCoro::Task<RawProbeOutcome> tcp(QString host, qint64 port, double timeout) override;
    QCoro::Task<RawProbeOutcome> dns(QString host, double timeout) override;
    QCoro::Task<RawProbeOutcome> https(QString url, bool get, qint64 bodyPrefixLength, QString separator,
                                       double timeout) override;

private:
    QCoro::Task<RawProbeOutcome> answer(QString target, QString call);

    std::shared_ptr<Clock> m_clock;
};


inline QCoro::Task<RawProbeOutcome> ScriptedProber::tcp(QString host, qint64 port, double timeout)
{
    const QString target = QStringLiteral("tcp %1:%2").arg(host).arg(port);
    return answer(target, target + QStringLiteral(" t=") + QString::number(timeout));
}

inline QCoro::Task<RawProbeOutcome> ScriptedProber::dns(QString host, double timeout)
{
    const QString target = QStringLiteral("dns ") + host;
    return answer(target, target + QStringLiteral(" t=") + QString::number(timeout));
}

inline QCoro::Task<RawProbeOutcome> ScriptedProber::https(QString url, bool get, qint64 bodyPrefixLength, QString separator,
                                                   double timeout)
{
    const QString target = (get ? QStringLiteral("GET ") : QStringLiteral("HEAD ")) + url;
    return answer(target, target + QStringLiteral(" prefix=%1 sep=«%2» t=%3").arg(bodyPrefixLength).arg(separator).arg(timeout));
}

inline QCoro::Task<RawProbeOutcome> ScriptedProber::answer(QString target, QString call)
{
    calls << call;
    mostInFlight = qMax(mostInFlight, ++inFlight);
    const Script script = scripts.value(target, Script{fallback, {}});
    co_await m_clock->sleep(script.delay);
    --inFlight;
    finished << target;
    co_return script.outcome;
}

} // namespace kovra::test
