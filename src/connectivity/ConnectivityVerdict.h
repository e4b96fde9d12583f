#pragma once

#include "connectivity/EngineState.h"

#include <QString>

namespace kovra {

// The engine's judgement as the user interface shows it; a function of the state alone.
// A degradation still being confirmed and a re-promotion probe both show `online`.
enum class ConnectivityVerdict { idle, checking, online, degraded };

ConnectivityVerdict verdictOf(EngineState state);

// "idle", "checking", "online", "degraded".
QString caseName(ConnectivityVerdict verdict);

} // namespace kovra
