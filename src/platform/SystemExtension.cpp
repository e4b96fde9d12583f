#include "platform/SystemExtension.h"

#include "platform/Log.h"
#include "platform/TunnelWire.h"

#include <QFileInfo>
#include <QJsonObject>
#include <QLocalSocket>
#include <QTimer>

#include <optional>

namespace kovra {

std::shared_ptr<SystemExtensionRequest> SystemExtensionRequest::activationRequest(const QString &identifier)
{
    return std::shared_ptr<SystemExtensionRequest>(new SystemExtensionRequest(identifier));
}

void SystemExtensionRequest::finish(SystemExtensionRequestResult result) const
{
    if (m_delegate)
        m_delegate->requestDidFinish(*this, result);
}

void SystemExtensionRequest::fail(const QString &errorDescription) const
{
    if (m_delegate)
        m_delegate->requestDidFail(*this, errorDescription);
}

void SystemExtensionRequest::needUserApproval() const
{
    if (m_delegate)
        m_delegate->requestNeedsUserApproval(*this);
}

SystemExtensionReplacementAction SystemExtensionRequest::askReplacement(const QString &existingVersion,
                                                                        const QString &newVersion) const
{
    return m_delegate ? m_delegate->actionForReplacingExtension(*this, existingVersion, newVersion)
                      : SystemExtensionReplacementAction::Cancel;
}

namespace {

// One check that the provider answers on its socket: connect, ask for the status and
// take any well-formed line as the answer. Ends exactly once, then deletes itself.
class ProviderCheck : public QObject {
public:
    ProviderCheck(std::shared_ptr<SystemExtensionRequest> request, QString socketPath,
                  std::chrono::milliseconds timeout, Clock &clock, QObject *parent)
        : QObject(parent), m_request(std::move(request)), m_path(std::move(socketPath))
    {
        connect(&m_socket, &QLocalSocket::connected, this, [this] {
            m_socket.write(tunnelwire::encode(QJsonObject{{QStringLiteral("id"), 1},
                                                          {QStringLiteral("method"), QLatin1String(tunnelwire::kMethodGetStatus)}}));
        });
        connect(&m_socket, &QLocalSocket::readyRead, this, [this] {
            for (const auto &line : m_reader.feed(m_socket.readAll()).lines) {
                if (tunnelwire::decode(line)) {
                    finish();
                    return;
                }
            }
        });
        connect(&m_socket, &QLocalSocket::errorOccurred, this, [this](QLocalSocket::LocalSocketError error) {
            if (error == QLocalSocket::ServerNotFoundError)
                fail(QStringLiteral("the tunnel provider is not installed or not running: no socket at %1").arg(m_path));
            else if (error == QLocalSocket::ConnectionRefusedError)
                fail(QStringLiteral("the tunnel provider is not running: %1 refused the connection").arg(m_path));
            else
                fail(QStringLiteral("the tunnel provider at %1 is unreachable: %2").arg(m_path, m_socket.errorString()));
        });
        // Start from the event loop: a failing connect reports synchronously.
        QTimer::singleShot(0, this, [this, timeout, &clock] {
            if (const auto problem = tunnelwire::socketDirectoryProblem(m_path)) {
                fail(QStringLiteral("refused the tunnel provider socket %1: %2").arg(m_path, *problem));
                return;
            }
            m_timer = clock.startTimer(timeout, [this, timeout] {
                fail(QStringLiteral("the tunnel provider at %1 did not answer within %2 ms").arg(m_path).arg(timeout.count()));
            });
            m_socket.connectToServer(m_path);
        });
    }

    ~ProviderCheck() override { m_socket.disconnect(this); }

private:
    void finish()
    {
        if (end())
            m_request->finish(SystemExtensionRequestResult::Completed);
    }
    void fail(const QString &text)
    {
        if (end())
            m_request->fail(text);
    }
    bool end()
    {
        if (m_ended)
            return false;
        m_ended = true;
        m_timer.reset();
        m_socket.disconnect(this);
        m_socket.abort();
        deleteLater();
        return true;
    }

    std::shared_ptr<SystemExtensionRequest> m_request;
    QString m_path;
    QLocalSocket m_socket;
    std::unique_ptr<ClockTimer> m_timer;
    tunnelwire::LineReader m_reader;
    bool m_ended = false;
};

} // namespace

ProviderActivationManager::ProviderActivationManager(QString socketPath, std::chrono::milliseconds answerTimeout,
                                                     QObject *parent, std::shared_ptr<Clock> clock)
    : QObject(parent), m_socketPath(std::move(socketPath)), m_answerTimeout(answerTimeout),
      m_clock(clock ? std::move(clock) : Clock::system())
{
}

void ProviderActivationManager::submitRequest(std::shared_ptr<SystemExtensionRequest> request)
{
    Logger(QStringLiteral("SystemExtension")).debug(QStringLiteral("checking the tunnel provider at %1").arg(m_socketPath));
    new ProviderCheck(std::move(request), m_socketPath, m_answerTimeout, *m_clock, this);
}

} // namespace kovra
