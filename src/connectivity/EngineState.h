#pragma once

#include <QString>

namespace kovra {

// What the reliability engine is doing while the tunnel runs.
enum class EngineState {
    idle,               // tunnel not connected; nothing is judged
    settling,           // just connected (or a switch landed); waiting before the first judgement
    monitoring,         // traffic flows; periodic probing
    confirmingDegraded, // a probe failed; further probes confirm or clear it
    switching,          // a move to another connection is applied; its reconnect is awaited
    settled,            // degraded, staying on the connection in use
    repromoteProbing,   // on a fallback, probing the preferred connection before returning
    exhausted,          // degradation confirmed and no candidate left
};

// What the controller observed. settleElapsed and tick carry the result of the probe
// pass that produced them; the other kinds carry nothing.
class EngineEvent {
public:
    enum class Kind {
        settleElapsed,
        tick,
        connected,
        disconnected,
        confirmOnline,
        confirmsAllDegraded,
        repromoteTimer,
        switchLanded,
        switchApplyFailed,
        watchdogFired,
        gatePassed,
        gateFailed,
        manualRetry,
        rearm,
    };

    // `online` is kept only for settleElapsed and tick, so events of the other kinds
    // compare equal whatever was passed.
    constexpr explicit EngineEvent(Kind kind, bool online = false)
        : m_kind(kind), m_online(online && carriesOnline(kind)) {}
    static constexpr EngineEvent settleElapsed(bool online) { return EngineEvent(Kind::settleElapsed, online); }
    static constexpr EngineEvent tick(bool online) { return EngineEvent(Kind::tick, online); }

    constexpr Kind kind() const { return m_kind; }
    constexpr bool online() const { return m_online; }
    static constexpr bool carriesOnline(Kind kind) { return kind == Kind::settleElapsed || kind == Kind::tick; }

    // The case name; "tick(online: true)" for the two kinds with a result.
    QString description() const;

    bool operator==(const EngineEvent &) const = default;

private:
    Kind m_kind;
    bool m_online;
};

// What the controller is told to do; the reducer only names it.
enum class EngineAction {
    none,
    beginSettle,
    enterMonitoring,
    beginConfirmations,
    applyNextCandidate,
    applyPreferred,
    settleDegraded,
    markExhausted,
    reprobeDense,
    beginRepromoteProbe,
    penalizePreferred,
};

// The facts the reducer consults, computed by the controller for each event.
struct EngineFlags {
    bool canWalk = false;              // entry "auto" selected, or the engine is auto-managed
    bool hasCandidates = false;        // the candidate list is not empty
    bool offPreferred = false;         // auto-managed and not on the preferred connection
    bool preferredOffCooldown = false; // a preferred connection exists and is off cooldown
    bool currentHealthy = false;       // a failed re-promotion gate while the current connection is fine

    bool operator==(const EngineFlags &) const = default;
};

struct EngineTransition {
    EngineState state;
    EngineAction action;

    bool operator==(const EngineTransition &) const = default;
};

// The next state and the action for an event. Pure and total: `disconnected` leads
// every state to idle; a pair the rules do not name keeps the state with no action.
EngineTransition transition(EngineState state, const EngineEvent &event, const EngineFlags &flags);

// Case names ("confirmingDegraded", "applyNextCandidate"), as the telemetry writes them.
QString caseName(EngineState state);
QString caseName(EngineAction action);
QString caseName(EngineEvent::Kind kind);

} // namespace kovra
