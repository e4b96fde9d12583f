#include "ui/main/StatusLook.h"

namespace kovra::ui {

QString statusTextColorRole(StatusDotState::Value state)
{
    switch (state) {
    case StatusDotState::Connected: return QStringLiteral("success");
    case StatusDotState::Transition:
    case StatusDotState::Warning: return QStringLiteral("warning");
    case StatusDotState::Danger: return QStringLiteral("danger");
    case StatusDotState::Inactive: break;
    }
    return QStringLiteral("textSecondary");
}

QString menuBarSymbol(StatusDotState::Value state)
{
    switch (state) {
    case StatusDotState::Connected: return QStringLiteral("checkmark.shield.fill");
    case StatusDotState::Transition: return QStringLiteral("shield.lefthalf.filled");
    case StatusDotState::Warning: return QStringLiteral("exclamationmark.shield");
    case StatusDotState::Danger: return QStringLiteral("xmark.shield");
    case StatusDotState::Inactive: break;
    }
    return QStringLiteral("shield");
}

} // namespace kovra::ui
