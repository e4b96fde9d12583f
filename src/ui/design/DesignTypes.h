#pragma once

#include <QObject>
#include <QtQml/qqmlregistration.h>

// The enumerations that view-models produce and design components show. Each sits
// in its own namespace so that QML reads them as `ConnectButtonVisual.Verified`,
// `StatusDotState.Connected`, ... and C++ as `ConnectButtonVisual::Verified` with
// the type `ConnectButtonVisual::Value`. The order of the values is part of the
// contract (tables index by it).
namespace kovra::ui {

// The look of the connect button, chosen by the connect coordinator.
namespace ConnectButtonVisual {
Q_NAMESPACE
QML_ELEMENT
enum Value { Idle, Progress, ConnectedChecking, Verified, Failed };
Q_ENUM_NS(Value)
} // namespace ConnectButtonVisual

// The state a status dot shows.
namespace StatusDotState {
Q_NAMESPACE
QML_ELEMENT
enum Value { Connected, Transition, Warning, Danger, Inactive };
Q_ENUM_NS(Value)
} // namespace StatusDotState

// The tone of an inline notice or a notice banner.
namespace NoticeTone {
Q_NAMESPACE
QML_ELEMENT
enum Value { Info, Warning, Danger };
Q_ENUM_NS(Value)
} // namespace NoticeTone

// The kind of a call-to-action button.
namespace ButtonKind {
Q_NAMESPACE
QML_ELEMENT
enum Value { Primary, Secondary, Destructive };
Q_ENUM_NS(Value)
} // namespace ButtonKind

// Elevation presets; only Button casts a visible shadow.
namespace Elevation {
Q_NAMESPACE
QML_ELEMENT
enum Value { None, Card, Button, Sheet };
Q_ENUM_NS(Value)
} // namespace Elevation

// The hosting provider of a server, as its badge shows it. `Other` carries the
// provider's own name beside it (lower case, as the catalogue stores it).
namespace ProviderKind {
Q_NAMESPACE
QML_ELEMENT
enum Value { Other, Gcp, Aws, HipHosting, Ztv, Absent };
Q_ENUM_NS(Value)
} // namespace ProviderKind

} // namespace kovra::ui
