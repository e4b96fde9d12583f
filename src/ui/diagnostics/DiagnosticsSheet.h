#pragma once

#include "ui/diagnostics/DiagnosticsViewOptions.h"

#include <QSize>

class QQmlEngine;
class QWindow;

namespace kovra {

class TelemetrySource;
class TunnelController;

namespace ui {

class SheetHost;

// Presents the diagnostics sheet: a window of its own, window-modal to `parent` and
// transient for it, titled "diag.title", at least 480 by 520 and opening at 560 by
// 640, holding a fresh DiagnosticsView (which the presentation owns: closing the
// sheet destroys it) whose work of the first showing starts at once. The user's
// dismissal and the closing of `parent` end the presentation. Returns the
// presentation (it deletes itself after closing), or null when the sheet's QML did
// not load (logged). `engine`: the QML engine of `parent` when null.
namespace DiagnosticsSheet {

inline constexpr QSize kMinimumSize{480, 520};
inline constexpr QSize kOpeningSize{560, 640};

SheetHost *present(QWindow *parent, TunnelController *tunnelController, TelemetrySource *telemetry = nullptr,
                   DiagnosticsViewOptions options = {}, QQmlEngine *engine = nullptr);

} // namespace DiagnosticsSheet
} // namespace ui
} // namespace kovra
