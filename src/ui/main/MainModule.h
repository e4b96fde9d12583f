#pragma once

namespace kovra::ui {

// Registers the C++ types of the QML module Kovra.Main (once per process). Call
// before an engine loads the module's files (qrc:/qt/qml/Kovra/Main/).
void registerMainModule();

} // namespace kovra::ui
