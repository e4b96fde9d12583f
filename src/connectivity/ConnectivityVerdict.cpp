#include "connectivity/ConnectivityVerdict.h"

namespace kovra {

ConnectivityVerdict verdictOf(EngineState state)
{
    switch (state) {
    case EngineState::idle: return ConnectivityVerdict::idle;
    case EngineState::settling:
    case EngineState::switching: return ConnectivityVerdict::checking;
    case EngineState::monitoring:
    case EngineState::confirmingDegraded:
    case EngineState::repromoteProbing: return ConnectivityVerdict::online;
    case EngineState::settled:
    case EngineState::exhausted: return ConnectivityVerdict::degraded;
    }
    return ConnectivityVerdict::idle;
}

QString caseName(ConnectivityVerdict verdict)
{
    switch (verdict) {
    case ConnectivityVerdict::idle: return QStringLiteral("idle");
    case ConnectivityVerdict::checking: return QStringLiteral("checking");
    case ConnectivityVerdict::online: return QStringLiteral("online");
    case ConnectivityVerdict::degraded: return QStringLiteral("degraded");
    }
    return {};
}

} // namespace kovra
