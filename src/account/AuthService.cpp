#include "account/AuthService.h"

#include "core/APIClient.h"

namespace kovra {

StartSessionOut StartSessionOut::decode(const JsonDecodingContainer &c)
{
    return {c.decode<QString>("nonce"), c.decode<QString>("deepLink"), c.decode<QString>("httpsLink"),
            c.decode<qint64>("expiresInSeconds")};
}

void StartSessionOut::encode(JsonEncodingContainer &c) const
{
    c.encode("nonce", nonce);
    c.encode("deepLink", deepLink);
    c.encode("httpsLink", httpsLink);
    c.encode("expiresInSeconds", expiresInSeconds);
}

AuthService::AuthService(APIClient *api, std::shared_ptr<JWTStore> keychain)
    : m_api(api), m_keychain(std::move(keychain))
{
}

APIClient *AuthService::api() const
{
    return m_api;
}

QCoro::Task<StartSessionOut> AuthService::startSession()
{
    const QPointer<APIClient> api = m_api;
    if (!api)
        throw CancellationError();
    StartSessionOut out = co_await api->send<StartSessionOut>(Endpoint::startSession());
    co_return out;
}

QCoro::Task<std::optional<LoginOut>> AuthService::poll(QString nonce, CancellationToken token)
{
    const QPointer<APIClient> api = m_api;
    if (!api)
        throw CancellationError();
    const Endpoint endpoint = Endpoint::poll(nonce);
    const APIClient::Answer answer = co_await api->raceHosts(endpoint, token);
    if (!api)
        throw CancellationError();
    if (answer.statusCode == 202)
        co_return std::nullopt; // not confirmed yet
    const QString label = APIClient::decodeLabel(endpoint);
    api->checkAnswer(answer, label);
    co_return api->decode<LoginOut>(answer.body, label);
}

} // namespace kovra
