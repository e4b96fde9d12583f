#include "platform/Resolver.h"

#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <cstring>
#include <netdb.h>
#include <sys/socket.h>

namespace kovra {

Resolver::Resolver(Lookup lookup, int maxThreads) : m_lookup(std::move(lookup)), m_pool(std::make_unique<QThreadPool>())
{
    m_pool->setObjectName(QStringLiteral("kovra-resolver"));
    m_pool->setMaxThreadCount(qMax(1, maxThreads));
}

Resolver::~Resolver()
{
    m_pool->waitForDone();
}

QFuture<AddressLookup> Resolver::resolve(const QString &host) const
{
    return QtConcurrent::run(m_pool.get(), [lookup = m_lookup, host] { return lookup(host); });
}

AddressLookup Resolver::systemLookup(const QString &host)
{
    AddressLookup result;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo *list = nullptr;
    const QByteArray name = host.toUtf8();
    // A name with a zero byte inside would be cut short by the C call: no such host.
    const int code = name.contains('\0') ? EAI_NONAME : ::getaddrinfo(name.constData(), nullptr, &hints, &list);
    if (code != 0) {
        result.code = code;
        result.message = QString::fromLocal8Bit(::gai_strerror(code));
        return result;
    }
    for (const addrinfo *entry = list; entry; entry = entry->ai_next) {
        char text[NI_MAXHOST];
        std::memset(text, 0, sizeof text);
        if (::getnameinfo(entry->ai_addr, entry->ai_addrlen, text, sizeof text, nullptr, 0, NI_NUMERICHOST) == 0)
            result.addresses.append(QString::fromUtf8(text, qsizetype(::strnlen(text, sizeof text))));
    }
    ::freeaddrinfo(list);
    return result;
}

std::shared_ptr<Resolver> Resolver::shared()
{
    // Never destroyed: a look-up still hanging at exit must not hold up the exit.
    static const auto *resolver = new std::shared_ptr<Resolver>(std::make_shared<Resolver>());
    return *resolver;
}

} // namespace kovra
