#pragma once

#include "platform/NetworkPath.h"

#include <QString>

namespace kovra {

// The kind of a network interface from what sysfs says under <sysRoot>/class/net/<name>:
// a "wireless" or "phy80211" entry, or DEVTYPE=wlan in its uevent, is Wi-Fi; DEVTYPE=wwan
// is cellular; link type 772 is loopback; link type 1 (Ethernet) is wired; anything else
// is other. Where sysfs has no entry for the name (another network namespace, sysfs not
// mounted), the link type the kernel reported over netlink (`linkType`) decides alone.
// Names that could leave the folder ("..", "a/b", longer than the kernel allows) are
// never looked up. Reads files: never call on the GUI thread.
InterfaceKind interfaceKind(const QString &sysRoot, const QString &name, int linkType);

// Whether the kernel could have given an interface this name (1 to 15 bytes, no '/',
// no white space, not "." or "..").
bool isPlausibleInterfaceName(const QString &name);

} // namespace kovra
