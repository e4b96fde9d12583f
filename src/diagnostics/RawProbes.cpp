#include "diagnostics/RawProbes.h"

#include "diagnostics/StrictUtf8.h"
#include "platform/Async.h"
#include "platform/Http.h"
#include "platform/TcpConnection.h"

#include <QFutureWatcher>
#include <QNetworkRequest>
#include <QUrl>

#include <cmath>

namespace kovra {
namespace {

using std::chrono::milliseconds;

// QTimer counts in int milliseconds; longer bounds are cut to about 23 days.
constexpr double kLongestTimeout = 2'000'000.0;
// A GET keeps at most this much of a body (or the prefix asked for, when longer).
constexpr qint64 kBodyCap = 1 << 20;

// A caller's time-out in seconds, made safe to convert.
struct Bound {
    explicit Bound(double seconds)
        : seconds(std::isfinite(seconds) && seconds > 0 ? std::min(seconds, kLongestTimeout) : 0.0)
    {
    }
    milliseconds interval() const { return milliseconds(qint64(seconds * 1000)); }
    RawProbeOutcome timedOut() const
    {
        return {false, qint64(seconds * 1000), QStringLiteral("timeout %1s").arg(qint64(seconds))};
    }
    double seconds;
};

qint64 elapsedMS(const Clock &clock, MonotonicInstant start)
{
    return std::chrono::duration_cast<milliseconds>(clock.monotonicNow() - start).count();
}

RawProbeOutcome lookupOutcome(const AddressLookup &lookup, qint64 latency)
{
    if (lookup.code != 0)
        return {false, latency, QStringLiteral("getaddrinfo: ") + lookup.message};
    if (lookup.addresses.isEmpty())
        return {false, latency, QStringLiteral("no addresses")};
    return {true, latency, lookup.addresses.mid(0, 3).join(QStringLiteral(", "))};
}

QString httpDetail(const HttpResponse &response, bool get, qint64 prefixLength, const QString &separator)
{
    QString detail = QStringLiteral("HTTP %1").arg(response.isHttp ? response.statusCode : -1);
    // A body cut at the cap was not empty even when nothing of it was kept.
    if (!get || (response.body.isEmpty() && !response.overCap))
        return detail;
    const std::optional<QString> prefix = decodeStrictUtf8(response.body.left(qMax<qint64>(prefixLength, 0)));
    if (prefix)
        detail += separator + prefix->trimmed();
    return detail;
}

} // namespace

namespace RawProbes {

QCoro::Task<RawProbeOutcome> tcp(QString host, qint64 port, double timeout, RawProbeEnvironment environment)
{
    const std::shared_ptr<Clock> clock = environment.clock ? environment.clock : Clock::system();
    const MonotonicInstant start = clock->monotonicNow();
    if (!TcpConnection::isValidPort(port))
        co_return RawProbeOutcome{false, 0, QStringLiteral("invalid port %1").arg(port)};
    const Bound bound(timeout);

    // The connection's outcome and the time-out race; the first one counts.
    OneShot<RawProbeOutcome> gate;
    LaterPtr<TcpConnection> connection(new TcpConnection(host, quint16(port), environment.resolver));
    QObject::connect(connection.get(), &TcpConnection::stateChanged, connection.get(),
                     [gate, clock, start, c = connection.get()](TcpConnection::State state) mutable {
                         const qint64 latency = elapsedMS(*clock, start);
                         if (state == TcpConnection::State::ready)
                             gate.resolve(RawProbeOutcome{true, latency, QStringLiteral("TCP connected")});
                         else if (state == TcpConnection::State::failed)
                             gate.resolve(RawProbeOutcome{false, latency, c->errorText()});
                     });
    const auto timer = clock->startTimer(bound.interval(), [gate, bound]() mutable { gate.resolve(bound.timedOut()); });
    connection->start();
    const RawProbeOutcome outcome = co_await gate.wait();
    connection->cancel();
    co_return outcome;
}

QCoro::Task<RawProbeOutcome> dns(QString host, double timeout, RawProbeEnvironment environment)
{
    const std::shared_ptr<Clock> clock = environment.clock ? environment.clock : Clock::system();
    const std::shared_ptr<Resolver> resolver = environment.resolver ? environment.resolver : Resolver::shared();
    const MonotonicInstant start = clock->monotonicNow();
    const Bound bound(timeout);

    OneShot<RawProbeOutcome> gate;
    const auto timer = clock->startTimer(bound.interval(), [gate, bound]() mutable { gate.resolve(bound.timedOut()); });
    // The watcher goes with this frame; a look-up still running then is left to finish alone.
    LaterPtr<QFutureWatcher<AddressLookup>> watcher(new QFutureWatcher<AddressLookup>);
    QObject::connect(watcher.get(), &QFutureWatcherBase::finished, watcher.get(),
                     [gate, clock, start, w = watcher.get()]() mutable {
                         gate.resolve(lookupOutcome(w->result(), elapsedMS(*clock, start)));
                     });
    watcher->setFuture(resolver->resolve(host));
    const RawProbeOutcome outcome = co_await gate.wait();
    co_return outcome;
}

QCoro::Task<RawProbeOutcome> https(QString url, bool get, qint64 bodyPrefixLength, QString separator, double timeout,
                                   RawProbeEnvironment environment)
{
    const std::shared_ptr<Clock> clock = environment.clock ? environment.clock : Clock::system();
    const MonotonicInstant start = clock->monotonicNow();
    const QUrl target(url, QUrl::StrictMode);
    if (url.isEmpty() || !target.isValid())
        co_return RawProbeOutcome{false, 0, QStringLiteral("invalid URL")};

    QNetworkRequest request(target);
    request.setRawHeader("User-Agent", "KovraS-Diagnostics/1.0");
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    const milliseconds idle = Bound(timeout).interval();
    LaterPtr<HttpSession> session(HttpSession::ephemeral(idle, idle + environment.httpOvertime).release());
    const qint64 cap = get ? qMax(bodyPrefixLength, kBodyCap) : -1;

    // Named arguments: GCC 12 destroys a conditional's temporary handed to a coroutine twice.
    const QByteArray method = get ? QByteArray("GET") : QByteArray("HEAD");
    const QByteArray noBody;
    const CancellationToken never;
    HttpResponse response;
    std::exception_ptr failure;
    try {
        response = co_await session->send(method, request, noBody, never, cap);
    } catch (...) {
        failure = std::current_exception();
    }
    const qint64 latency = elapsedMS(*clock, start);
    if (failure)
        co_return RawProbeOutcome{false, latency, describe(failure)};
    const int status = response.isHttp ? response.statusCode : -1;
    co_return RawProbeOutcome{status >= 200 && status <= 299, latency,
                              httpDetail(response, get, bodyPrefixLength, separator)};
}

QString describe(const std::exception_ptr &error)
{
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const URLError &e) {
        switch (e.code()) {
        case URLError::ServerCertificateUntrusted:
            return QStringLiteral("cert untrusted");
        case URLError::SecureConnectionFailed:
            return QStringLiteral("TLS fail");
        case URLError::NotConnectedToInternet:
            return QStringLiteral("no internet");
        case URLError::CannotFindHost:
            return QStringLiteral("DNS fail");
        case URLError::TimedOut:
            return QStringLiteral("timeout");
        case URLError::NetworkConnectionLost:
            return QStringLiteral("connection lost");
        case URLError::CannotConnectToHost:
            return QStringLiteral("cannot connect");
        default:
            return QStringLiteral("URLError %1").arg(int(e.code()));
        }
    } catch (...) {
    }
    return descriptionOf(error);
}

} // namespace RawProbes

QCoro::Task<RawProbeOutcome> RawProber::tcp(QString host, qint64 port, double timeout)
{
    return RawProbes::tcp(std::move(host), port, timeout, m_environment);
}

QCoro::Task<RawProbeOutcome> RawProber::dns(QString host, double timeout)
{
    return RawProbes::dns(std::move(host), timeout, m_environment);
}

QCoro::Task<RawProbeOutcome> RawProber::https(QString url, bool get, qint64 bodyPrefixLength, QString separator,
                                              double timeout)
{
    return RawProbes::https(std::move(url), get, bodyPrefixLength, std::move(separator), timeout, m_environment);
}

} // namespace kovra
