#include "platform/InterfaceKinds.h"
#include "platform/RouteNetlink.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>

#include <linux/if.h>
#include <linux/netlink.h>
#include <linux/nexthop.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

using namespace kovra;
using namespace kovra::netlink;

namespace {

constexpr quint32 seq = 7;
constexpr quint32 port = 4242;

QByteArray padded(QByteArray bytes)
{
    while (bytes.size() % 4)
        bytes.append('\0');
    return bytes;
}

template<typename T>
QByteArray bytesOf(const T &value)
{
    return QByteArray(reinterpret_cast<const char *>(&value), sizeof(value));
}

QByteArray attribute(quint16 type, const QByteArray &payload)
{
    nlattr header{quint16(sizeof(nlattr) + payload.size()), type};
    return padded(bytesOf(header) + payload);
}

QByteArray u32(quint32 value)
{
    return bytesOf(value);
}

QByteArray message(quint16 type, const QByteArray &body, quint32 messageSeq = seq, quint32 messagePort = port,
                   quint16 flags = NLM_F_MULTI)
{
    nlmsghdr header{quint32(NLMSG_HDRLEN + body.size()), type, flags, messageSeq, messagePort};
    return padded(bytesOf(header) + body);
}

QByteArray link(int index, const QByteArray &name, quint32 flags, quint16 type = 1)
{
    ifinfomsg info{};
    info.ifi_family = AF_UNSPEC;
    info.ifi_type = type;
    info.ifi_index = index;
    info.ifi_flags = flags;
    return message(RTM_NEWLINK, bytesOf(info) + attribute(IFLA_IFNAME, name + '\0'));
}

constexpr quint32 up = IFF_UP | IFF_RUNNING;

struct RouteSpec {
    quint8 family = AF_INET;
    quint8 dstLen = 0;
    quint8 type = RTN_UNICAST;
    quint32 flags = 0;
    QByteArray attributes;
};

QByteArray route(const RouteSpec &spec)
{
    rtmsg r{};
    r.rtm_family = spec.family;
    r.rtm_dst_len = spec.dstLen;
    r.rtm_table = RT_TABLE_MAIN;
    r.rtm_type = spec.type;
    r.rtm_flags = spec.flags;
    return message(RTM_NEWROUTE, bytesOf(r) + spec.attributes);
}

QByteArray viaInterface(int index)
{
    return route({.attributes = attribute(RTA_OIF, u32(index))});
}

QByteArray multipath(const QList<int> &indices)
{
    QByteArray hops;
    for (int index : indices) {
        rtnexthop hop{};
        hop.rtnh_len = sizeof(rtnexthop);
        hop.rtnh_ifindex = index;
        hops += bytesOf(hop);
    }
    return attribute(RTA_MULTIPATH, hops);
}

QByteArray nexthop(quint32 id, int index, const QList<quint32> &group = {})
{
    nhmsg nh{};
    QByteArray attributes = attribute(NHA_ID, u32(id));
    if (index)
        attributes += attribute(NHA_OIF, u32(index));
    if (!group.isEmpty()) {
        QByteArray members;
        for (quint32 member : group) {
            nexthop_grp entry{};
            entry.id = member;
            members += bytesOf(entry);
        }
        attributes += attribute(NHA_GROUP, members);
    }
    return message(RTM_NEWNEXTHOP, bytesOf(nh) + attributes);
}

QByteArray done(qint32 status = 0)
{
    return message(NLMSG_DONE, u32(quint32(status)));
}

QByteArray error(qint32 code)
{
    nlmsgerr e{};
    e.error = code;
    return message(NLMSG_ERROR, bytesOf(e), seq, port, 0);
}

// The usual set: loopback, a wired and a wireless interface, all up.
QByteArray interfaces()
{
    return link(1, "lo", up | IFF_LOOPBACK, 772) + link(2, "eth0", up) + link(3, "wlan0", up);
}

// Kinds by name, so that the path reads "satisfied [eth0 wired]".
InterfaceKind kindByName(const Link &link)
{
    if (link.name.startsWith(u"wlan"))
        return InterfaceKind::Wifi;
    if (link.name == u"lo")
        return InterfaceKind::Loopback;
    return link.type == 1 ? InterfaceKind::Wired : InterfaceKind::Other;
}

} // namespace

class RouteNetlinkTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // One dump, as datagrams, and the path it gives.
    void paths_data()
    {
        QTest::addColumn<QByteArray>("dump");
        QTest::addColumn<QString>("path");
        const QByteArray eth = interfaces();
        QTest::newRow("default over wired") << eth + viaInterface(2) << "satisfied [eth0 wired]";
        QTest::newRow("no route") << eth << "unsatisfied []";
        QTest::newRow("only a subnet route")
            << eth + route({.dstLen = 24, .attributes = attribute(RTA_OIF, u32(2))}) << "unsatisfied []";
        QTest::newRow("interface without carrier")
            << link(2, "eth0", IFF_UP) + viaInterface(2) << "unsatisfied []";
        QTest::newRow("interface down") << link(2, "eth0", IFF_RUNNING) + viaInterface(2) << "unsatisfied []";
        QTest::newRow("unreachable default")
            << eth + route({.type = RTN_UNREACHABLE, .attributes = attribute(RTA_OIF, u32(1))}) << "unsatisfied []";
        QTest::newRow("cached clone")
            << eth + route({.flags = RTM_F_CLONED, .attributes = attribute(RTA_OIF, u32(2))}) << "unsatisfied []";
        QTest::newRow("unknown interface") << eth + viaInterface(9) << "unsatisfied []";
        QTest::newRow("IPv6 only")
            << eth + route({.family = AF_INET6, .attributes = attribute(RTA_OIF, u32(3))}) << "satisfied [wlan0 wifi]";
        QTest::newRow("two routes, one interface") << eth + viaInterface(2) + viaInterface(2) << "satisfied [eth0 wired]";
        QTest::newRow("by index order") << eth + viaInterface(3) + viaInterface(2)
                                       << "satisfied [eth0 wired, wlan0 wifi]";
        QTest::newRow("multipath") << eth + route({.attributes = multipath({3, 2})})
                                  << "satisfied [eth0 wired, wlan0 wifi]";
        QTest::newRow("nexthop object") << eth + nexthop(10, 3) + route({.attributes = attribute(RTA_NH_ID, u32(10))})
                                       << "satisfied [wlan0 wifi]";
        QTest::newRow("nexthop group")
            << eth + nexthop(10, 2) + nexthop(11, 3) + nexthop(12, 0, {10, 11})
                   + route({.attributes = attribute(RTA_NH_ID, u32(12))})
            << "satisfied [eth0 wired, wlan0 wifi]";
        QTest::newRow("unknown nexthop") << eth + route({.attributes = attribute(RTA_NH_ID, u32(99))})
                                        << "unsatisfied []";
        QTest::newRow("another request's replies")
            << eth + message(RTM_NEWROUTE, route({.attributes = attribute(RTA_OIF, u32(2))}).mid(NLMSG_HDRLEN), seq + 1)
            << "unsatisfied []";
        QTest::newRow("another port's replies")
            << eth + message(RTM_NEWROUTE, route({.attributes = attribute(RTA_OIF, u32(2))}).mid(NLMSG_HDRLEN), seq, 1)
            << "unsatisfied []";
    }
    void paths()
    {
        QFETCH(QByteArray, dump);
        QFETCH(QString, path);
        RouteSnapshot snapshot;
        QCOMPARE(readDumpReplies(dump, seq, port, snapshot).outcome, ReadOutcome::More);
        QCOMPARE(readDumpReplies(done(), seq, port, snapshot).outcome, ReadOutcome::Done);
        QCOMPARE(toString(pathOf(snapshot, kindByName)), path);
    }

    // How a datagram ends the dump, malformed ones included.
    void outcomes_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<int>("error");
        QTest::addColumn<int>("links");
        const QByteArray eth = link(2, "eth0", up);
        QByteArray shortLength = eth;
        shortLength[0] = 8; // nlmsg_len below the header
        QByteArray longLength = eth;
        longLength[0] = char(eth.size() + 4);
        QByteArray badAttribute = eth;
        badAttribute[NLMSG_HDRLEN + sizeof(ifinfomsg)] = char(200); // IFLA_IFNAME runs past the message
        const int more = int(ReadOutcome::More);
        const int failed = int(ReadOutcome::Failed);
        QTest::newRow("ack") << error(0) << more << 0 << 0;
        QTest::newRow("refused") << error(-EINVAL) << failed << EINVAL << 0;
        QTest::newRow("done") << eth + done() << int(ReadOutcome::Done) << 0 << 1;
        QTest::newRow("done with an error") << done(-ENOBUFS) << failed << ENOBUFS << 0;
        QTest::newRow("length below the header") << shortLength << failed << 0 << 0;
        QTest::newRow("length past the datagram") << longLength << failed << 0 << 0;
        QTest::newRow("a partial header") << eth + eth.first(10) << failed << 0 << 1;
        QTest::newRow("attribute past the message") << badAttribute << more << 0 << 1;
        QTest::newRow("link header cut short") << message(RTM_NEWLINK, QByteArray(4, '\0')) << more << 0 << 0;
        QTest::newRow("empty datagram") << QByteArray() << more << 0 << 0;
    }
    void outcomes()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(int, outcome);
        QFETCH(int, error);
        QFETCH(int, links);
        RouteSnapshot snapshot;
        const ReadResult result = readDumpReplies(datagram, seq, port, snapshot);
        QCOMPARE(int(result.outcome), outcome);
        QCOMPARE(result.error, error);
        QCOMPARE(snapshot.links.size(), links);
    }

    void interruptedDump()
    {
        RouteSnapshot snapshot;
        readDumpReplies(message(RTM_NEWLINK, link(2, "eth0", up).mid(NLMSG_HDRLEN), seq, port, NLM_F_MULTI | NLM_F_DUMP_INTR),
                        seq, port, snapshot);
        QVERIFY(snapshot.interrupted);
    }

    // Multipath entries with a zero length, or nexthop groups cut mid-entry, end the
    // reading instead of looping or running past the attribute.
    void hostileRoutes()
    {
        rtnexthop zero{};
        zero.rtnh_ifindex = 2;
        RouteSnapshot snapshot;
        readDumpReplies(interfaces() + route({.attributes = attribute(RTA_MULTIPATH, bytesOf(zero))}), seq, port, snapshot);
        QVERIFY(snapshot.defaultRouteInterfaces.isEmpty());
        nhmsg nh{};
        readDumpReplies(message(RTM_NEWNEXTHOP, bytesOf(nh) + attribute(NHA_ID, u32(5)) + attribute(NHA_GROUP, QByteArray(6, '\1'))),
                        seq, port, snapshot);
        QVERIFY(snapshot.nexthops.value(5).group.isEmpty());
    }

    // Random bytes, and valid dumps with random bytes flipped, never crash the reader.
    void randomBytes()
    {
        QRandomGenerator random(17);
        const QByteArray valid = interfaces() + viaInterface(2) + route({.attributes = multipath({2, 3})})
                               + nexthop(4, 0, {1, 2}) + done();
        for (int round = 0; round < 3000; ++round) {
            QByteArray bytes;
            if (round % 2) {
                bytes = valid;
                for (int flips = 0; flips < 4; ++flips)
                    bytes[random.bounded(int(bytes.size()))] = char(random.bounded(256));
            } else {
                bytes.resize(random.bounded(200));
                for (char &c : bytes)
                    c = char(random.bounded(256));
            }
            RouteSnapshot snapshot;
            readDumpReplies(bytes, seq, port, snapshot);
            pathOf(snapshot, kindByName);
        }
    }

    void dumpRequests()
    {
        const QByteArray request = dumpRequest(RTM_GETROUTE, AF_INET6, 99);
        nlmsghdr header;
        std::memcpy(&header, request.constData(), sizeof(header));
        QCOMPARE(int(header.nlmsg_len), request.size());
        QCOMPARE(header.nlmsg_type, quint16(RTM_GETROUTE));
        QCOMPARE(header.nlmsg_flags, quint16(NLM_F_REQUEST | NLM_F_DUMP));
        QCOMPARE(header.nlmsg_seq, 99u);
        QCOMPARE(request.size(), NLMSG_HDRLEN + int(sizeof(rtmsg)));
        QCOMPARE(int(request[NLMSG_HDRLEN]), AF_INET6);
    }

    // Kinds from a sysfs tree; the netlink link type decides where sysfs has nothing.
    void kinds_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("entries"); // "file=content" or "dir/"
        QTest::addColumn<int>("linkType");
        QTest::addColumn<QString>("kind");
        QTest::newRow("wireless folder") << "wlan0" << QStringList{"wireless/", "type=1"} << 1 << "wifi";
        QTest::newRow("phy80211 entry") << "wlp2s0" << QStringList{"phy80211/", "type=1"} << 1 << "wifi";
        QTest::newRow("wlan devtype") << "wlx1" << QStringList{"uevent=INTERFACE=wlx1\nDEVTYPE=wlan\n", "type=1"} << 1 << "wifi";
        QTest::newRow("wwan devtype") << "wwan0" << QStringList{"uevent=DEVTYPE=wwan\nINTERFACE=wwan0\n", "type=519"} << 519 << "cellular";
        QTest::newRow("loopback") << "lo" << QStringList{"type=772"} << 772 << "loopback";
        QTest::newRow("ethernet") << "enp3s0" << QStringList{"type=1", "uevent=INTERFACE=enp3s0\n"} << 1 << "wired";
        QTest::newRow("bridge") << "br0" << QStringList{"type=1", "uevent=DEVTYPE=bridge\n"} << 1 << "wired";
        QTest::newRow("tunnel") << "tun0" << QStringList{"type=65534"} << 65534 << "other";
        QTest::newRow("point to point") << "ppp0" << QStringList{"type=512"} << 512 << "other";
        QTest::newRow("sysfs type wins") << "veth1" << QStringList{"type=65534"} << 1 << "other";
        QTest::newRow("unreadable type") << "eth1" << QStringList{"type=garbage"} << 1 << "wired";
        QTest::newRow("no sysfs entry, ethernet") << "eth9" << QStringList{} << 1 << "wired";
        QTest::newRow("no sysfs entry, loopback") << "lo9" << QStringList{} << 772 << "loopback";
        QTest::newRow("no sysfs entry, other") << "wg0" << QStringList{} << 65534 << "other";
        // A decoy at <root>/class/decoy: a name climbing out must not reach it.
        QTest::newRow("name climbing out") << "../decoy" << QStringList{} << 1 << "wired";
        QTest::newRow("name with a slash") << "x/../../decoy" << QStringList{} << 1 << "wired";
        QTest::newRow("dot dot") << ".." << QStringList{} << 65534 << "other";
    }
    void kinds()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, entries);
        QFETCH(int, linkType);
        QFETCH(QString, kind);
        QTemporaryDir root;
        QVERIFY(QDir(root.path()).mkpath(QStringLiteral("class/decoy/wireless")));
        const QString dir = root.path() + QStringLiteral("/class/net/") + name;
        if (!entries.isEmpty()) {
            QVERIFY(QDir().mkpath(dir));
            for (const QString &entry : entries) {
                if (entry.endsWith(u'/')) {
                    QVERIFY(QDir(dir).mkpath(entry));
                    continue;
                }
                QFile file(dir + u'/' + entry.section(u'=', 0, 0));
                QVERIFY(file.open(QIODevice::WriteOnly));
                file.write(entry.section(u'=', 1).toUtf8());
            }
        }
        QCOMPARE(toString(interfaceKind(root.path(), name, linkType)), kind);
    }
};

QTEST_GUILESS_MAIN(RouteNetlinkTest)
#include "tst_route_netlink.moc"
