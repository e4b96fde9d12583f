#pragma once

#include "ui/design/DesignTypes.h"

#include <QString>

namespace kovra::ui {

// How a status dot's state reads beside the dot and in the menu bar: the Brand colour
// token of the status text ("success", "warning", "danger" or "textSecondary") and the
// shield symbol of the menu-bar icon.
QString statusTextColorRole(StatusDotState::Value state);
QString menuBarSymbol(StatusDotState::Value state);

} // namespace kovra::ui
