#include "app/shell/SingleInstance.h"

#include "platform/Async.h"
#include "platform/TunnelWire.h"

#include <QLocalSocket>
#include <QPointer>

namespace kovra {

namespace {

constexpr char kShowRequest[] = "show";
constexpr char kShowAnswer[] = "ok";
// A request or answer is one short line; anything longer is not ours.
constexpr qsizetype kMaxLine = 64;
// Connections of other launches served at the same time; more are turned away.
constexpr qsizetype kMaxConnections = 8;

} // namespace

SingleInstance::SingleInstance(Options options, QObject *parent) : QObject(parent), m_options(std::move(options))
{
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
}

SingleInstance::~SingleInstance()
{
    m_cancel.cancel();
    release();
}

QString SingleInstance::lockPath() const
{
    return m_options.folder + u'/' + kLockFileName;
}

QString SingleInstance::socketPath() const
{
    return m_options.folder + u'/' + kSocketFileName;
}

QCoro::Task<SingleInstance::Claim> SingleInstance::claim()
{
    const QPointer<SingleInstance> self(this);
    const std::shared_ptr<Clock> clock = m_options.clock;
    const CancellationToken token = m_cancel.token();
    if (const auto problem = tunnelwire::prepareSocketDirectory(lockPath())) {
        m_problem = *problem;
        co_return Claim::Failed;
    }
    const MonotonicInstant deadline = clock->monotonicNow() + m_options.answerBound;
    const auto left = [clock, deadline] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock->monotonicNow());
    };
    for (;;) {
        const LockResult lock = takeLock();
        if (lock == LockResult::Taken)
            co_return Claim::Primary;
        if (lock == LockResult::Failed)
            co_return Claim::Failed;
        const std::chrono::milliseconds bound = left();
        if (bound <= std::chrono::milliseconds::zero())
            break;
        const bool answered = co_await askHolder(bound);
        if (!self || token.isCancelled())
            co_return Claim::Failed;
        if (answered)
            co_return Claim::HandedOver;
        // No socket yet (the holder is starting, or has just gone): try again shortly.
        const std::chrono::milliseconds rest = left();
        if (rest <= std::chrono::milliseconds::zero())
            break;
        try {
            co_await clock->sleep(std::min(rest, m_options.retryInterval), token);
        } catch (const CancellationError &) {
            co_return Claim::Failed;
        }
        if (!self)
            co_return Claim::Failed;
    }
    m_problem = QStringLiteral("another Kovra S holds %1 but did not answer within %2 ms")
                    .arg(lockPath())
                    .arg(m_options.answerBound.count());
    co_return Claim::Unanswered;
}

SingleInstance::LockResult SingleInstance::takeLock()
{
    m_lock = std::make_unique<QLockFile>(lockPath());
    // Only a holder that is gone makes the lock stale, never its age.
    m_lock->setStaleLockTime(0);
    if (!m_lock->tryLock(0)) {
        if (m_lock->error() == QLockFile::LockFailedError)
            return LockResult::Held;
        m_problem = QStringLiteral("cannot create the lock file %1").arg(lockPath());
        return LockResult::Failed;
    }
    // A socket left by a holder that died; the lock says nobody listens on it now.
    QLocalServer::removeServer(socketPath());
    if (!m_server.listen(socketPath())) {
        m_problem = QStringLiteral("cannot listen on %1: %2").arg(socketPath(), m_server.errorString());
        m_lock->unlock();
        return LockResult::Failed;
    }
    return LockResult::Taken;
}

QCoro::Task<bool> SingleInstance::askHolder(std::chrono::milliseconds bound)
{
    struct Ask {
        OneShot<bool> answer;
        QByteArray received;
        // Last, so that it goes first: nothing it emits while closing finds the rest gone.
        QLocalSocket socket;
    };
    const auto ask = std::make_shared<Ask>();
    Ask *a = ask.get();
    QObject::connect(&a->socket, &QLocalSocket::connected, &a->socket,
                     [a] { a->socket.write(QByteArray(kShowRequest) + '\n'); });
    QObject::connect(&a->socket, &QLocalSocket::readyRead, &a->socket, [a] {
        a->received += a->socket.read(kMaxLine + 1 - a->received.size());
        const qsizetype end = a->received.indexOf('\n');
        if (end >= 0)
            a->answer.resolve(a->received.left(end) == kShowAnswer);
        else if (a->received.size() > kMaxLine)
            a->answer.resolve(false);
    });
    // Refused, missing or closed without an answer.
    QObject::connect(&a->socket, &QLocalSocket::errorOccurred, &a->socket, [a] { a->answer.resolve(false); });
    a->socket.connectToServer(socketPath());
    const std::shared_ptr<Clock> clock = m_options.clock;
    const std::optional<bool> answer = co_await a->answer.waitFor(bound, *clock);
    QObject::disconnect(&a->socket, nullptr, nullptr, nullptr);
    co_return answer.value_or(false);
}

void SingleInstance::acceptConnections()
{
    while (QLocalSocket *socket = m_server.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (m_server.findChildren<QLocalSocket *>().size() > kMaxConnections) {
            socket->abort();
            continue;
        }
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > kMaxLine)
                    socket->abort();
                return;
            }
            const QByteArray line = socket->readLine(kMaxLine + 1).trimmed();
            if (line != kShowRequest) {
                socket->abort();
                return;
            }
            socket->write(QByteArray(kShowAnswer) + '\n');
            socket->disconnectFromServer();
            Q_EMIT showRequested();
        });
    }
}

void SingleInstance::release()
{
    if (m_server.isListening())
        m_server.close(); // removes the socket file
    const auto sockets = m_server.findChildren<QLocalSocket *>();
    for (QLocalSocket *socket : sockets) {
        socket->disconnect(this);
        socket->abort();
    }
    if (m_lock && m_lock->isLocked())
        m_lock->unlock();
}

} // namespace kovra
