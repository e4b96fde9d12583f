#include "platform/RouteNetlink.h"

#include <cstring>
#include <optional>

#include <linux/if.h>
#include <linux/netlink.h>
#include <linux/nexthop.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

namespace kovra::netlink {
namespace {

constexpr qsizetype align4(qsizetype n)
{
    return (n + 3) & ~qsizetype(3);
}

template<typename T>
std::optional<T> readAt(QByteArrayView bytes, qsizetype offset)
{
    if (offset < 0 || bytes.size() - offset < qsizetype(sizeof(T)))
        return std::nullopt;
    T value;
    std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

// Calls f(type, payload) for each well-formed attribute; stops at the first that runs
// past the end.
template<typename F>
void forEachAttribute(QByteArrayView bytes, F &&f)
{
    qsizetype offset = 0;
    while (const auto header = readAt<nlattr>(bytes, offset)) {
        const qsizetype length = header->nla_len;
        if (length < qsizetype(sizeof(nlattr)) || length > bytes.size() - offset)
            return;
        f(quint16(header->nla_type & NLA_TYPE_MASK), bytes.sliced(offset + sizeof(nlattr), length - sizeof(nlattr)));
        offset += align4(length);
    }
}

QByteArrayView attributesAfter(QByteArrayView body, qsizetype fixedSize)
{
    const qsizetype start = align4(fixedSize);
    return start >= body.size() ? QByteArrayView() : body.sliced(start);
}

void readLink(QByteArrayView body, RouteSnapshot &into)
{
    const auto info = readAt<ifinfomsg>(body, 0);
    if (!info || info->ifi_index <= 0)
        return;
    Link link;
    link.index = info->ifi_index;
    link.type = info->ifi_type;
    link.flags = info->ifi_flags;
    forEachAttribute(attributesAfter(body, sizeof(ifinfomsg)), [&](quint16 type, QByteArrayView payload) {
        if (type != IFLA_IFNAME)
            return;
        const qsizetype end = payload.indexOf('\0');
        link.name = QString::fromUtf8(end < 0 ? payload : payload.first(end));
    });
    into.links.insert(link.index, link);
}

void readMultipath(QByteArrayView bytes, RouteSnapshot &into)
{
    qsizetype offset = 0;
    while (const auto hop = readAt<rtnexthop>(bytes, offset)) {
        if (hop->rtnh_len < sizeof(rtnexthop) || hop->rtnh_len > bytes.size() - offset)
            return;
        if (hop->rtnh_ifindex > 0)
            into.defaultRouteInterfaces.insert(hop->rtnh_ifindex);
        offset += align4(hop->rtnh_len);
    }
}

void readRoute(QByteArrayView body, RouteSnapshot &into)
{
    const auto route = readAt<rtmsg>(body, 0);
    if (!route || (route->rtm_family != AF_INET && route->rtm_family != AF_INET6))
        return;
    if (route->rtm_dst_len != 0 || route->rtm_type != RTN_UNICAST || (route->rtm_flags & RTM_F_CLONED))
        return;
    forEachAttribute(attributesAfter(body, sizeof(rtmsg)), [&](quint16 type, QByteArrayView payload) {
        if (type == RTA_OIF) {
            const auto index = readAt<qint32>(payload, 0);
            if (index && *index > 0)
                into.defaultRouteInterfaces.insert(*index);
        } else if (type == RTA_MULTIPATH) {
            readMultipath(payload, into);
        } else if (type == RTA_NH_ID) {
            if (const auto id = readAt<quint32>(payload, 0))
                into.defaultRouteNexthops.insert(*id);
        }
    });
}

void readNexthop(QByteArrayView body, RouteSnapshot &into)
{
    if (!readAt<nhmsg>(body, 0))
        return;
    std::optional<quint32> id;
    Nexthop nexthop;
    forEachAttribute(attributesAfter(body, sizeof(nhmsg)), [&](quint16 type, QByteArrayView payload) {
        if (type == NHA_ID) {
            id = readAt<quint32>(payload, 0);
        } else if (type == NHA_OIF) {
            const auto index = readAt<qint32>(payload, 0);
            nexthop.interfaceIndex = index && *index > 0 ? *index : 0;
        } else if (type == NHA_GROUP) {
            for (qsizetype at = 0; const auto member = readAt<nexthop_grp>(payload, at); at += sizeof(nexthop_grp))
                nexthop.group.append(member->id);
        }
    });
    if (id)
        into.nexthops.insert(*id, nexthop);
}

} // namespace

bool Link::isUp() const
{
    return (flags & IFF_UP) && (flags & IFF_RUNNING);
}

ReadResult readDumpReplies(QByteArrayView datagram, quint32 seq, quint32 port, RouteSnapshot &into)
{
    qsizetype offset = 0;
    while (offset < datagram.size()) {
        const auto header = readAt<nlmsghdr>(datagram, offset);
        if (!header || header->nlmsg_len < sizeof(nlmsghdr) || header->nlmsg_len > datagram.size() - offset)
            return {ReadOutcome::Failed, 0};
        const QByteArrayView body = datagram.sliced(offset + NLMSG_HDRLEN, header->nlmsg_len - NLMSG_HDRLEN);
        offset += align4(header->nlmsg_len);
        if (header->nlmsg_seq != seq || header->nlmsg_pid != port)
            continue;
        if (header->nlmsg_flags & NLM_F_DUMP_INTR)
            into.interrupted = true;
        switch (header->nlmsg_type) {
        case NLMSG_DONE: {
            const auto status = readAt<qint32>(body, 0);
            if (status && *status < 0)
                return {ReadOutcome::Failed, -*status};
            return {ReadOutcome::Done, 0};
        }
        case NLMSG_ERROR: {
            const auto error = readAt<qint32>(body, 0);
            if (!error)
                return {ReadOutcome::Failed, 0};
            if (*error != 0)
                return {ReadOutcome::Failed, -*error};
            break;
        }
        case RTM_NEWLINK:
            readLink(body, into);
            break;
        case RTM_NEWROUTE:
            readRoute(body, into);
            break;
        case RTM_NEWNEXTHOP:
            readNexthop(body, into);
            break;
        default:
            break;
        }
    }
    return {ReadOutcome::More, 0};
}

QByteArray dumpRequest(quint16 type, quint8 family, quint32 seq)
{
    qsizetype bodySize = sizeof(rtgenmsg);
    if (type == RTM_GETLINK)
        bodySize = sizeof(ifinfomsg);
    else if (type == RTM_GETROUTE)
        bodySize = sizeof(rtmsg);
    else if (type == RTM_GETNEXTHOP)
        bodySize = sizeof(nhmsg);
    // Every family header starts with its address family byte.
    QByteArray request(NLMSG_HDRLEN + align4(bodySize), '\0');
    nlmsghdr header{};
    header.nlmsg_len = quint32(request.size());
    header.nlmsg_type = type;
    header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    header.nlmsg_seq = seq;
    std::memcpy(request.data(), &header, sizeof(header));
    request[NLMSG_HDRLEN] = char(family);
    return request;
}

NetworkPath pathOf(const RouteSnapshot &snapshot, const std::function<InterfaceKind(const Link &)> &kindOf)
{
    QSet<int> indices = snapshot.defaultRouteInterfaces;
    const auto addNexthop = [&](quint32 id) {
        const auto found = snapshot.nexthops.constFind(id);
        if (found == snapshot.nexthops.cend())
            return false;
        if (found->interfaceIndex > 0)
            indices.insert(found->interfaceIndex);
        return true;
    };
    for (quint32 id : snapshot.defaultRouteNexthops) {
        if (!addNexthop(id))
            continue;
        // Groups hold plain nexthops only (the kernel does not nest them).
        for (quint32 member : snapshot.nexthops.value(id).group)
            addNexthop(member);
    }

    NetworkPath path;
    for (auto it = snapshot.links.cbegin(); it != snapshot.links.cend(); ++it) {
        if (indices.contains(it.key()) && it->isUp())
            path.interfaces.append(PathInterface{it->index, it->name, kindOf(*it)});
    }
    path.status = path.interfaces.isEmpty() ? NetworkPathStatus::Unsatisfied : NetworkPathStatus::Satisfied;
    return path;
}

} // namespace kovra::netlink
