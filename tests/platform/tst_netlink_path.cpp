#include "platform/InterfaceKinds.h"
#include "platform/RouteNetlink.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>

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
constexpr quint32 up = IFF_UP | IFF_RUNNING;

template<typename T>
QByteArray bytesOf(const T &value)
{
    QByteArray bytes(reinterpret_cast<const char *>(&value), sizeof(value));
    return bytes.leftJustified((bytes.size() + 3) & ~3, '\0');
}

QByteArray attribute(quint16 type, const QByteArray &payload)
{
    return (bytesOf(nlattr{quint16(sizeof(nlattr) + payload.size()), type}) + payload).leftJustified((payload.size() + 7) & ~3, '\0');
}

QByteArray message(quint16 type, const QByteArray &body, quint32 messageSeq = seq, quint32 messagePort = port)
{
    return bytesOf(nlmsghdr{quint32(NLMSG_HDRLEN + body.size()), type, NLM_F_MULTI, messageSeq, messagePort}) + body;
}

QByteArray link(int index, const QByteArray &name, quint32 flags, quint16 type = 1)
{
    return message(RTM_NEWLINK, bytesOf(ifinfomsg{AF_UNSPEC, 0, type, index, flags, 0}) + attribute(IFLA_IFNAME, name + '\0'));
}

QByteArray route(const QByteArray &attributes, quint8 family = AF_INET, quint8 dstLen = 0, quint8 type = RTN_UNICAST,
                 quint32 flags = 0)
{
    return message(RTM_NEWROUTE, bytesOf(rtmsg{family, dstLen, 0, 0, RT_TABLE_MAIN, 0, 0, type, flags}) + attributes);
}

QByteArray oif(int index)
{
    return attribute(RTA_OIF, bytesOf(index));
}

QByteArray multipath(const QList<int> &indices, quint16 hopLength = sizeof(rtnexthop))
{
    QByteArray hops;
    for (int index : indices)
        hops += bytesOf(rtnexthop{hopLength, 0, 0, index});
    return attribute(RTA_MULTIPATH, hops);
}

QByteArray nexthop(quint32 id, int index, const QList<quint32> &group = {})
{
    QByteArray attributes = attribute(NHA_ID, bytesOf(id)) + (index ? attribute(NHA_OIF, bytesOf(index)) : QByteArray());
    QByteArray members;
    for (quint32 member : group)
        members += bytesOf(nexthop_grp{member, 0, 0, 0});
    if (!group.isEmpty())
        attributes += attribute(NHA_GROUP, members);
    return message(RTM_NEWNEXTHOP, bytesOf(nhmsg{}) + attributes);
}

QByteArray status(quint16 type, qint32 code)
{
    return message(type, bytesOf(code));
}

// Loopback, a wired and a wireless interface, all up.
const QByteArray interfaces = link(1, "lo", up | IFF_LOOPBACK, 772) + link(2, "eth0", up) + link(3, "wlan0", up);

InterfaceKind kindByName(const Link &link)
{
    return link.name.startsWith(u"wlan") ? InterfaceKind::Wifi : link.type == 1 ? InterfaceKind::Wired : InterfaceKind::Other;
}

} // namespace

class NetlinkPathTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // How a dump ends, malformed datagrams included, and the path a complete one gives.
    void dumps_data()
    {
        QTest::addColumn<QByteArray>("dump");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("path"); // after the dump's end
        const QByteArray &all = interfaces;
        const int more = int(ReadOutcome::More), failed = int(ReadOutcome::Failed);
        const auto row = [more](const char *name, const QByteArray &dump, const char *path) {
            QTest::newRow(name) << dump << more << 0 << QString::fromLatin1(path);
        };
        row("default over wired", all + route(oif(2)), "satisfied [eth0 wired]");
        row("no route", all, "unsatisfied []");
        row("only a subnet route", all + route(oif(2), AF_INET, 24), "unsatisfied []");
        row("no carrier", link(2, "eth0", IFF_UP) + route(oif(2)), "unsatisfied []");
        row("cached clone", all + route(oif(2), AF_INET, 0, RTN_UNICAST, RTM_F_CLONED), "unsatisfied []");
        row("unknown interface", all + route(oif(9)), "unsatisfied []");
        row("unreachable default", all + route(oif(1), AF_INET, 0, RTN_UNREACHABLE), "unsatisfied []");
        row("IPv6, twice", all + route(oif(3), AF_INET6) + route(oif(3), AF_INET6), "satisfied [wlan0 wifi]");
        row("multipath, by index", all + route(multipath({3, 2})), "satisfied [eth0 wired, wlan0 wifi]");
        row("nexthop group",
            all + nexthop(10, 2) + nexthop(11, 3) + nexthop(12, 0, {10, 11}) + route(attribute(RTA_NH_ID, bytesOf(12u))),
            "satisfied [eth0 wired, wlan0 wifi]");
        row("another request's replies", all + message(RTM_NEWROUTE, route(oif(2)).mid(NLMSG_HDRLEN), seq + 1),
            "unsatisfied []");
        // A zero-length hop would loop for ever if it were followed.
        row("hop of no length", all + route(multipath({2}, 0)), "unsatisfied []");

        const QByteArray eth = link(2, "eth0", up);
        QByteArray shortLength = eth, longLength = eth, badAttribute = eth;
        shortLength[0] = 8;
        longLength[0] = char(eth.size() + 4);
        badAttribute[NLMSG_HDRLEN + sizeof(ifinfomsg)] = char(200); // the name runs past the message
        QTest::newRow("refused") << status(NLMSG_ERROR, -EINVAL) << failed << EINVAL << "";
        QTest::newRow("length below the header") << shortLength << failed << 0 << "";
        QTest::newRow("length past the datagram") << longLength << failed << 0 << "";
        QTest::newRow("attribute past the message") << badAttribute << more << 0 << "";
    }
    void dumps()
    {
        QFETCH(QByteArray, dump);
        QFETCH(int, outcome);
        QFETCH(QString, path);
        RouteSnapshot snapshot;
        const ReadResult result = readDumpReplies(dump, seq, port, snapshot);
        QCOMPARE(int(result.outcome), outcome);
        QTEST(result.error, "error");
        if (!path.isEmpty()) {
            QCOMPARE(readDumpReplies(status(NLMSG_DONE, 0), seq, port, snapshot).outcome, ReadOutcome::Done);
            QCOMPARE(toString(pathOf(snapshot, kindByName)), path);
        }
    }

    // Kinds from a sysfs tree; the netlink link type decides where sysfs has nothing.
    void kinds_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("entries"); // "file=content" or "folder/"
        QTest::addColumn<int>("linkType");
        QTest::addColumn<QString>("kind");
        QTest::newRow("wireless folder") << "wlan0" << QStringList{"wireless/", "type=1"} << 1 << "wifi";
        QTest::newRow("no sysfs entry") << "wg0" << QStringList{} << 65534 << "other";
        // A decoy Wi-Fi entry at <root>/class/decoy: a name climbing out must not reach it.
        QTest::newRow("name climbing out") << "../decoy" << QStringList{} << 1 << "wired";
    }
    void kinds()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, entries);
        QFETCH(int, linkType);
        QTemporaryDir root;
        QVERIFY(QDir(root.path()).mkpath(QStringLiteral("class/decoy/wireless")));
        QVERIFY(QDir(root.path()).mkpath(QStringLiteral("class/net")));
        const QDir dir(root.path() + QStringLiteral("/class/net/") + name);
        for (const QString &entry : entries) {
            QFile file(dir.filePath(entry.section(u'=', 0, 0)));
            QVERIFY(dir.mkpath(entry.endsWith(u'/') ? entry : QStringLiteral(".")));
            QVERIFY(entry.endsWith(u'/') || file.open(QIODevice::WriteOnly));
            file.write(entry.section(u'=', 1).toUtf8());
        }
        QTEST(toString(interfaceKind(root.path(), name, linkType)), "kind");
    }

};

QTEST_GUILESS_MAIN(NetlinkPathTest)
#include "tst_netlink_path.moc"
