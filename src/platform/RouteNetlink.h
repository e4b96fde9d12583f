#pragma once

#include "platform/NetworkPath.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QList>
#include <QMap>
#include <QSet>
#include <QString>

#include <functional>

// Reading rtnetlink dumps of links, nexthop objects and routes into the network path.
// Pure functions over bytes: the socket side is in NetlinkPathSource.
namespace kovra::netlink {

struct Link {
    int index = 0;
    QString name;
    int type = 0;       // ARPHRD_*
    quint32 flags = 0;  // IFF_*

    // Administratively up and with a carrier (or a device that has no carrier to lose).
    bool isUp() const;
};

struct Nexthop {
    int interfaceIndex = 0;  // 0 for a group or a blackhole
    QList<quint32> group;    // member nexthop ids
};

// What one set of dumps said: every link, every nexthop object, and where the
// default routes (unicast, any table, IPv4 or IPv6) leave the host.
struct RouteSnapshot {
    QMap<int, Link> links;
    QHash<quint32, Nexthop> nexthops;
    QSet<int> defaultRouteInterfaces;
    QSet<quint32> defaultRouteNexthops;
    // The kernel flagged a reply as inconsistent (the tables changed during the dump).
    bool interrupted = false;
};

enum class ReadOutcome {
    More,    // the dump goes on in the next datagram
    Done,    // the dump ended
    Failed,  // the kernel refused the dump, or the datagram was malformed
};

struct ReadResult {
    ReadOutcome outcome = ReadOutcome::More;
    int error = 0;  // errno reported by the kernel, 0 when none or malformed
};

// Reads one datagram of replies to the dump request `seq` sent from `port`. Messages
// of other requests or other senders are skipped; a message whose length runs past
// the datagram, or shorter than its header, fails the datagram.
ReadResult readDumpReplies(QByteArrayView datagram, quint32 seq, quint32 port, RouteSnapshot &into);

// A dump request for RTM_GETLINK, RTM_GETROUTE or RTM_GETNEXTHOP in one address family.
QByteArray dumpRequest(quint16 type, quint8 family, quint32 seq);

// The path the snapshot describes: satisfied when a default route leaves through an up
// interface; the interfaces are those, by index, each with the kind `kindOf` gives.
NetworkPath pathOf(const RouteSnapshot &snapshot, const std::function<InterfaceKind(const Link &)> &kindOf);

} // namespace kovra::netlink
