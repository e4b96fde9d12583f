#pragma once

namespace kovra::ui {

// Registers the C++ types of the QML module Kovra.Diagnostics (once per process).
// Call before an engine loads the module's files (qrc:/qt/qml/Kovra/Diagnostics/).
void registerDiagnosticsModule();

} // namespace kovra::ui
