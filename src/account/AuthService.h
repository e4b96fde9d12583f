#pragma once

#include "core/AccountReplies.h"
#include "core/JWTProvider.h"
#include "platform/Cancellation.h"
#include "platform/Json.h"

#include <QPointer>
#include <QString>

#include <qcoro/qcorotask.h>

#include <memory>
#include <optional>

namespace kovra {

class APIClient;

// The service's answer to a Telegram sign-in start: the session's nonce, the links
// that open the bot, and how long the service keeps the session.
struct StartSessionOut {
    QString nonce;
    QString deepLink;
    QString httpsLink;
    qint64 expiresInSeconds = 0;

    static StartSessionOut decode(const JsonDecodingContainer &c);
    void encode(JsonEncodingContainer &c) const;
    bool operator==(const StartSessionOut &) const = default;
};

// The service calls and the token store of the Telegram sign-in.
class AuthService {
public:
    AuthService(APIClient *api, std::shared_ptr<JWTStore> keychain);

    APIClient *api() const;
    // The store the session state reads the token from and removes it from at sign-out.
    const std::shared_ptr<JWTStore> &keychain() const { return m_keychain; }

    // POST /auth/start_session (no token), one base URL after another.
    // Throws APIError, or CancellationError once the client is gone.
    QCoro::Task<StartSessionOut> startSession();

    // GET /auth/poll/<nonce> (no token), raced across the base URLs. The token reply
    // once the user has confirmed in the bot; none while the service answers 202.
    // Throws APIError (401 unauthorized, 409 conflict, 410 gone, other statuses
    // server, undecodable 2xx bodies decoding), or CancellationError when `token`
    // fires or the client is gone.
    QCoro::Task<std::optional<LoginOut>> poll(QString nonce, CancellationToken token = {});

private:
    QPointer<APIClient> m_api;
    std::shared_ptr<JWTStore> m_keychain;
};

} // namespace kovra
