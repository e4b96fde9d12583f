// The provider messages of TunnelController: "status", "selectRegion" and
// "setAutoDisconnect", each a JSON object with its "op".
#include "tunnel/TunnelController.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace kovra {
namespace {

QByteArray serialise(const QJsonObject &request)
{
    return QJsonDocument(request).toJson(QJsonDocument::Compact);
}

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
    const std::shared_ptr<Clock> clock = m_clock;
    const qsizetype keywordCount = keywords.size();
    const QByteArray request = serialise({{QStringLiteral("op"), QStringLiteral("selectRegion")},
                                          {QStringLiteral("keywords"), QJsonArray::fromStringList(keywords)},
                                          {QStringLiteral("closeConnections"), closeConnections}});

    // Exactly one of the reply and the time-out ends the wait; the later one changes nothing.
    OneShot<std::optional<QByteArray>> gate;
    try {
        session->sendProviderMessage(request, [gate](std::optional<QByteArray> value) mutable {
            gate.resolve(std::move(value));
        });
    } catch (...) {
        log.error(QStringLiteral("selectRegion RPC failed: %1").arg(descriptionOf(std::current_exception())));
        gate.resolve(std::nullopt);
    }
    const std::optional<std::optional<QByteArray>> outcome = co_await gate.waitFor(m_selectRegionTimeout, *clock);
    if (!outcome) {
        gate.resolve(std::nullopt);
        log.error(QStringLiteral("selectRegion RPC timed out — считаем неприменившимся"));
        co_return false;
    }
    const std::optional<QByteArray> &reply = *outcome;
    if (!reply)
        co_return false;
    std::optional<TunnelSelectRegionResponse> response;
    try {
        response = JsonDecoder().decode<TunnelSelectRegionResponse>(*reply);
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
