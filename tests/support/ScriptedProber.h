#pragma once

// Header-only: the test support library does not link the diagnostics library.

#include "diagnostics/RawProbes.h"
#include "platform/Clock.h"

#include <QHash>
#include <QStringList>

#include <chrono>
#include <memory>

namespace kovra::test {

// Raw probes with scripted outcomes, looked up by target: "dns <host>",
// "tcp <host>:<port>", "HEAD <url>" or "GET <url>" (unscripted ones get `fallback`).
// Each answer comes after its delay on the clock, at least one event-loop turn later.
// Records every call with its arguments ("<target> t=<time-out>", HTTP probes with
// " prefix=<n> sep=«<separator>»" before it), the targets in the order their probes
// ended, and how many probes overlapped at most.
class ScriptedProber final : public RawProber {
public:
    struct Script {
        RawProbeOutcome outcome;
        std::chrono::milliseconds delay{0};
    };

    explicit ScriptedProber(std::shared_ptr<Clock> clock = Clock::system()) : m_clock(std::move(clock)) {}

    RawProbeOutcome fallback{false, 0, QStringLiteral("unscripted")};
    QHash<QString, Script> scripts;
    QStringList calls;
    QStringList finished;
    int mostInFlight = 0;

    void script(const QString &target, RawProbeOutcome outcome, std::chrono::milliseconds delay = {})
    {
        scripts.insert(target, Script{std::move(outcome), delay});
    }

    QCoro::Task<RawProbeOutcome> tcp(QString host, qint64 port, double timeout) override
    {
        return answer(QStringLiteral("tcp %1:%2").arg(host).arg(port), QStringLiteral(" t=%1").arg(timeout));
    }
    QCoro::Task<RawProbeOutcome> dns(QString host, double timeout) override
    {
        return answer(QStringLiteral("dns ") + host, QStringLiteral(" t=%1").arg(timeout));
    }
    QCoro::Task<RawProbeOutcome> https(QString url, bool get, qint64 prefix, QString separator, double timeout) override
    {
        return answer((get ? QStringLiteral("GET ") : QStringLiteral("HEAD ")) + url,
                      QStringLiteral(" prefix=%1 sep=«%2» t=%3").arg(prefix).arg(separator).arg(timeout));
    }

private:
    QCoro::Task<RawProbeOutcome> answer(QString target, QString arguments)
    {
        calls << target + arguments;
        mostInFlight = qMax(mostInFlight, ++m_inFlight);
        const Script script = scripts.value(target, Script{fallback, {}});
        co_await m_clock->sleep(script.delay);
        --m_inFlight;
        finished << target;
        co_return script.outcome;
    }

    std::shared_ptr<Clock> m_clock;
    int m_inFlight = 0;
};

} // namespace kovra::test
