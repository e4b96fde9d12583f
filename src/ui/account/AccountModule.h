#pragma once

#include <QtGlobal>

namespace kovra::ui {

// Registers the account module's C++ types (`import Kovra.Account`), once per
// process. Call before an engine prepared with prepareEngine() loads an account
// screen from "qrc:/qt/qml/Kovra/Account/<File>.qml".
void registerAccountModule();

} // namespace kovra::ui
