#include "platform/TcpConnection.h"

#include <QHostAddress>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kovra {
namespace {

// The socket address of a numeric host text, or false when it is not one.
bool socketAddress(const QString &text, quint16 port, sockaddr_storage &out, socklen_t &length)
{
    const QHostAddress address(text);
    std::memset(&out, 0, sizeof out);
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        auto *in = reinterpret_cast<sockaddr_in *>(&out);
        in->sin_family = AF_INET;
        in->sin_port = htons(port);
        in->sin_addr.s_addr = htonl(address.toIPv4Address());
        length = sizeof(sockaddr_in);
        return true;
    }
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto *in6 = reinterpret_cast<sockaddr_in6 *>(&out);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(in6->sin6_addr.s6_addr, bytes.c, sizeof bytes.c);
        const QString scope = address.scopeId();
        if (!scope.isEmpty()) {
            bool numeric = false;
            const uint index = scope.toUInt(&numeric);
            in6->sin6_scope_id = numeric ? index : ::if_nametoindex(scope.toUtf8().constData());
        }
        length = sizeof(sockaddr_in6);
        return true;
    }
    return false;
}

// Failures of the local system itself rather than of the way to one address.
bool isLocalExhaustion(int error)
{
    return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

} // namespace

TcpConnection::TcpConnection(QString host, quint16 port, std::shared_ptr<Resolver> resolver, QObject *parent)
    : QObject(parent), m_host(std::move(host)), m_port(port),
      m_resolver(resolver ? std::move(resolver) : Resolver::shared())
{
    connect(&m_lookup, &QFutureWatcherBase::finished, this, &TcpConnection::lookedUp);
}

TcpConnection::~TcpConnection()
{
    m_lookup.disconnect(this);
    closeSocket();
}

void TcpConnection::start()
{
    if (m_state != State::setup)
        return;
    m_state = State::preparing;
    QMetaObject::invokeMethod(this, &TcpConnection::begin, Qt::QueuedConnection);
}

void TcpConnection::cancel()
{
    if (m_state == State::cancelled)
        return;
    m_lookup.disconnect(this);
    closeSocket();
    m_state = State::cancelled;
    QMetaObject::invokeMethod(
        this, [this] { Q_EMIT stateChanged(State::cancelled); }, Qt::QueuedConnection);
}

void TcpConnection::begin()
{
    if (m_state != State::preparing)
        return;
    Q_EMIT stateChanged(State::preparing);
    if (m_state != State::preparing)
        return;
    // Numeric addresses are used as they are; names go to the resolver.
    if (!QHostAddress(m_host).isNull()) {
        m_addresses = {m_host};
        tryNext();
        return;
    }
    m_lookup.setFuture(m_resolver->resolve(m_host));
}

void TcpConnection::lookedUp()
{
    if (m_state != State::preparing)
        return;
    const AddressLookup result = m_lookup.result();
    if (result.code != 0) {
        m_errorText = result.message;
        setState(State::waiting);
        return;
    }
    m_addresses = result.addresses;
    m_errorText = QStringLiteral("no addresses");
    tryNext();
}

void TcpConnection::tryNext()
{
    while (m_next < m_addresses.size()) {
        sockaddr_storage address;
        socklen_t length = 0;
        if (!socketAddress(m_addresses.at(m_next++), m_port, address, length))
            continue;
        m_fd = ::socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
        if (m_fd < 0) {
            const int error = errno;
            m_errorText = qt_error_string(error);
            if (isLocalExhaustion(error)) {
                setState(State::failed);
                return;
            }
            continue;
        }
        if (::connect(m_fd, reinterpret_cast<const sockaddr *>(&address), length) == 0) {
            setState(State::ready);
            return;
        }
        const int error = errno;
        // EINTR on a non-blocking connect: the attempt goes on in the background.
        if (error == EINPROGRESS || error == EINTR) {
            m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Write, this);
            connect(m_notifier, &QSocketNotifier::activated, this, &TcpConnection::checkConnected);
            return;
        }
        m_errorText = qt_error_string(error);
        closeSocket();
    }
    setState(State::waiting);
}

void TcpConnection::checkConnected()
{
    if (m_state != State::preparing || m_fd < 0)
        return;
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        error = errno;
    if (error == 0) {
        m_notifier->setEnabled(false);
        setState(State::ready);
        return;
    }
    m_errorText = qt_error_string(error);
    closeSocket();
    tryNext();
}

void TcpConnection::closeSocket()
{
    if (m_notifier) {
        m_notifier->setEnabled(false);
        // It may be the sender of the signal being handled.
        m_notifier->deleteLater();
        m_notifier = nullptr;
    }
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

void TcpConnection::setState(State state)
{
    m_state = state;
    Q_EMIT stateChanged(state);
}

} // namespace kovra
