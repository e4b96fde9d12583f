// The provider messages of TunnelController: "status", "selectRegion" and
// "setAutoDisconnect", each a JSON object with its "op".
#include "tunnel/TunnelController.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

namespace kovra {
namespace {

QByteArray serialise(const QJsonObject &request)
{
    return QJsonDocument(request).toJson(QJsonDocument::Compact);
}

// Lets exactly one of the reply and the time-out end a region switch's wait; the
// later one changes nothing. The tunnel layer calls reply handlers on the GUI thread,
// where the timer runs too, so no lock is needed.
class SelectRegionResumeGate : public detail::OperationSignal {
public:
    std::optional<QByteArray> reply;
    QTimer timeout;

    // True when this call ended the wait.
    bool resume(std::optional<QByteArray> value)
    {
        if (finished)
            return false;
        finished = true;
        timeout.stop();
        reply = std::move(value);
        Q_EMIT done();
        return true;
    }
};

} // namespace

TunnelProviderSession *TunnelController::connectedProviderSession() const
{
    if (!m_manager)
        return nullptr;
    TunnelProviderSession *session = m_manager->connection();
    return session->status() == VPNStatus::Connected ? session : nullptr;
}

QCoro::Task<TunnelStatusReport> TunnelController::queryStatus()
{
    if (!m_manager)
        throw TunnelError(TunnelError::Kind::managerUnavailable);
    QJsonObject request;
    request.insert(QStringLiteral("op"), QStringLiteral("status"));
    // The tunnel layer bounds the wait: a provider that stays silent yields no reply.
    const std::optional<QByteArray> reply = co_await m_manager->connection()->providerMessage(serialise(request));
    if (!reply || reply->isEmpty())
        throw TunnelError(TunnelError::Kind::statusUnavailable);
    JsonDecoder decoder;
    decoder.dateDecoding = DateDecoding::iso8601;
    co_return decoder.decode<TunnelStatusReport>(*reply);
}

QCoro::Task<bool> TunnelController::selectRegion(QStringList keywords, bool closeConnections)
{
    TunnelProviderSession *session = connectedProviderSession();
    if (!session)
        co_return false;
    const Logger log = m_log;
    const qsizetype keywordCount = keywords.size();
    const QByteArray request = serialise({{QStringLiteral("op"), QStringLiteral("selectRegion")},
                                          {QStringLiteral("keywords"), QJsonArray::fromStringList(keywords)},
                                          {QStringLiteral("closeConnections"), closeConnections}});

    const auto gate = std::make_shared<SelectRegionResumeGate>();
    try {
        session->sendProviderMessage(request, [gate](std::optional<QByteArray> reply) { gate->resume(std::move(reply)); });
        gate->timeout.setSingleShot(true);
        QObject::connect(&gate->timeout, &QTimer::timeout, gate.get(), [g = gate.get(), log] {
            if (g->resume(std::nullopt))
                log.error(QStringLiteral("selectRegion RPC timed out — считаем неприменившимся"));
        });
        gate->timeout.start(m_selectRegionTimeout);
    } catch (...) {
        log.error(QStringLiteral("selectRegion RPC failed: %1").arg(descriptionOf(std::current_exception())));
        gate->resume(std::nullopt);
    }
    // The session's pending handler keeps the gate alive until it has run, so the
    // gate outlives a time-out that fires first.
    if (!gate->finished)
        co_await qCoro(static_cast<detail::OperationSignal *>(gate.get()), &detail::OperationSignal::done);

    if (!gate->reply)
        co_return false;
    std::optional<TunnelSelectRegionResponse> response;
    try {
        response = JsonDecoder().decode<TunnelSelectRegionResponse>(*gate->reply);
    } catch (...) {
        // An answer we cannot read counts as a switch that did not happen.
    }
    if (!response || !response->applied || !response->selectedMember)
        co_return false;
    log.info(QStringLiteral("selectRegion RPC applied (keywords=%1)").arg(keywordCount));
    co_return true;
}

void TunnelController::setAutoDisconnect(int minutes)
{
    TunnelProviderSession *session = connectedProviderSession();
    if (!session)
        return;
    const Logger log = m_log;
    try {
        session->sendProviderMessage(serialise({{QStringLiteral("op"), QStringLiteral("setAutoDisconnect")},
                                                {QStringLiteral("minutes"), minutes}}),
                                     [log, minutes](std::optional<QByteArray>) {
                                         log.info(QStringLiteral("setAutoDisconnect RPC delivered (%1m)").arg(minutes));
                                     });
    } catch (...) {
        log.error(QStringLiteral("setAutoDisconnect RPC failed: %1").arg(descriptionOf(std::current_exception())));
    }
}

} // namespace kovra
