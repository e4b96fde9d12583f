#pragma once

#include <QString>
#include <QStringView>

#include <optional>

namespace kovra {

// Availability of a region or a route as the service reports it. An on-demand region
// reports `stopped` while it sleeps and `starting` while it boots.
enum class RegionStatus { online, offline, unknown, stopped, starting, degraded };

// "online", "offline", ... (the case names).
QString rawValue(RegionStatus status);
// The case whose raw value equals `raw` exactly (case-sensitive), else none.
std::optional<RegionStatus> regionStatusFromRawValue(QStringView raw);
// The decoded form of an optional "status" value: missing, null or unknown text is `unknown`.
RegionStatus regionStatusOrUnknown(const std::optional<QString> &raw);

// Whether a region or route with this status may be selected: `online`, `unknown`
// and `degraded`. The picker, the selection and the engine's candidates share it.
bool isSelectable(RegionStatus status);

} // namespace kovra
