#include "platform/NetworkPath.h"

#include <QStringList>

#include <algorithm>

namespace kovra {

bool NetworkPath::uses(InterfaceKind kind) const
{
    return std::any_of(interfaces.begin(), interfaces.end(), [kind](const PathInterface &i) { return i.kind == kind; });
}

QString toString(NetworkPathStatus status)
{
    switch (status) {
    case NetworkPathStatus::Satisfied:
        return QStringLiteral("satisfied");
    case NetworkPathStatus::Unsatisfied:
        return QStringLiteral("unsatisfied");
    case NetworkPathStatus::RequiresConnection:
        return QStringLiteral("requiresConnection");
    }
    return QStringLiteral("unknown");
}

QString toString(InterfaceKind kind)
{
    switch (kind) {
    case InterfaceKind::Wifi:
        return QStringLiteral("wifi");
    case InterfaceKind::Cellular:
        return QStringLiteral("cellular");
    case InterfaceKind::Wired:
        return QStringLiteral("wired");
    case InterfaceKind::Loopback:
        return QStringLiteral("loopback");
    case InterfaceKind::Other:
        return QStringLiteral("other");
    }
    return QStringLiteral("other");
}

QString toString(const NetworkPath &path)
{
    QStringList parts;
    for (const PathInterface &i : path.interfaces)
        parts.append(i.name + u' ' + toString(i.kind));
    return toString(path.status) + QStringLiteral(" [") + parts.join(QStringLiteral(", ")) + u']';
}

} // namespace kovra
