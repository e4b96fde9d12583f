#pragma once

#include <QFuture>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QThreadPool;

namespace kovra {

// The outcome of one name look-up.
struct AddressLookup {
    // 0, or the getaddrinfo() error code.
    int code = 0;
    // The system's text for a non-zero code (gai_strerror), else empty.
    QString message;
    // The numeric host text of every address that converted, in the order the system
    // returned them, duplicates kept.
    QStringList addresses;
};

// Resolves host names with blocking look-ups run on threads of the resolver's own:
// never the caller's thread and never Qt's global pool, so a look-up that hangs holds
// one of these threads and nothing else. Results are delivered through the future;
// callers on the GUI thread watch it and never wait on it.
class Resolver {
public:
    // The blocking look-up; runs on one of the resolver's threads.
    using Lookup = std::function<AddressLookup(const QString &host)>;

    explicit Resolver(Lookup lookup = systemLookup, int maxThreads = 8);
    // Waits for the look-ups still running; the shared resolver is never destroyed.
    ~Resolver();
    Resolver(const Resolver &) = delete;
    Resolver &operator=(const Resolver &) = delete;

    // Starts a look-up of the host; never blocks.
    QFuture<AddressLookup> resolve(const QString &host) const;

    // getaddrinfo() with any address family, stream sockets and TCP, no flags; every
    // address converted with getnameinfo() to its numeric host text. Blocks.
    static AddressLookup systemLookup(const QString &host);

    // The process-wide resolver over systemLookup.
    static std::shared_ptr<Resolver> shared();

private:
    Lookup m_lookup;
    std::unique_ptr<QThreadPool> m_pool;
};

} // namespace kovra
