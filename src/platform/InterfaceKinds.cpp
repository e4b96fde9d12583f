#include "platform/InterfaceKinds.h"

#include <QFile>
#include <QFileInfo>

namespace kovra {
namespace {

constexpr int linkTypeEthernet = 1;   // ARPHRD_ETHER
constexpr int linkTypeLoopback = 772; // ARPHRD_LOOPBACK
constexpr qint64 maxSysfsFileBytes = 4096;

InterfaceKind kindOfLinkType(int linkType)
{
    switch (linkType) {
    case linkTypeEthernet:
        return InterfaceKind::Wired;
    case linkTypeLoopback:
        return InterfaceKind::Loopback;
    default:
        return InterfaceKind::Other;
    }
}

QByteArray readSmallFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(maxSysfsFileBytes);
}

// The DEVTYPE line of a uevent file, empty when there is none.
QByteArray devType(const QByteArray &uevent)
{
    for (const QByteArray &line : uevent.split('\n')) {
        if (line.startsWith("DEVTYPE="))
            return line.mid(8).trimmed();
    }
    return {};
}

} // namespace

bool isPlausibleInterfaceName(const QString &name)
{
    const QByteArray bytes = name.toUtf8();
    if (bytes.isEmpty() || bytes.size() > 15 || name == u"." || name == u"..")
        return false;
    for (char c : bytes) {
        if (c == '/' || c == ':' || c == '\0' || QChar::isSpace(uchar(c)))
            return false;
    }
    return true;
}

InterfaceKind interfaceKind(const QString &sysRoot, const QString &name, int linkType)
{
    if (!isPlausibleInterfaceName(name))
        return kindOfLinkType(linkType);
    const QString dir = sysRoot + QStringLiteral("/class/net/") + name;
    if (!QFileInfo(dir).isDir())
        return kindOfLinkType(linkType);
    const QByteArray type = devType(readSmallFile(dir + QStringLiteral("/uevent")));
    if (type == "wlan" || QFileInfo::exists(dir + QStringLiteral("/wireless"))
        || QFileInfo::exists(dir + QStringLiteral("/phy80211")))
        return InterfaceKind::Wifi;
    if (type == "wwan")
        return InterfaceKind::Cellular;
    bool ok = false;
    const int sysfsType = readSmallFile(dir + QStringLiteral("/type")).trimmed().toInt(&ok);
    return kindOfLinkType(ok ? sysfsType : linkType);
}

} // namespace kovra
