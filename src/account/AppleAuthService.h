#pragma once

#include "account/AppleNonce.h"
#include "account/IdentityLink.h"
#include "core/AccountReplies.h"
#include "core/JWTProvider.h"
#include "platform/AppleIDProvider.h"
#include "platform/Async.h"
#include "platform/Log.h"

#include <QObject>
#include <QPointer>

#include <memory>
#include <optional>

class QWindow;

namespace kovra {

class APIClient;
class AppleAuthService;

using AppleAuthServiceError = IdentityServiceErrorOf<AppleAuthService>;

// An Apple identity token with the raw nonce its request was made with.
struct AppleIDToken {
    QString idToken;
    QString nonce;
};

// Links an Apple ID to the signed-in account: Sign in with Apple with a fresh nonce
// (its SHA-256 on the provider's request), then the identity token and the raw nonce
// to the service, whose session token replaces the stored one. One sign-in waits at
// a time. Lives on the GUI thread; log category "kovra.AppleAuth".
class AppleAuthService : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool available READ isAvailable CONSTANT)
public:
    // Over this system's provider.
    AppleAuthService(APIClient *api, std::shared_ptr<JWTStore> jwtStore, QObject *parent = nullptr);
    AppleAuthService(APIClient *api, std::shared_ptr<JWTStore> jwtStore, std::unique_ptr<AppleIDProvider> provider,
                     NonceRandomBatch randomBytes = systemNonceBatch, QObject *parent = nullptr);
    // A sign-in still waiting ends as cancelled.
    ~AppleAuthService() override;

    // Whether this system can sign in with Apple at all (not on Linux); callers
    // offer the link only then.
    bool isAvailable() const;

    // Runs the sign-in. Throws AppleAuthServiceError::cancelled when another one is
    // waiting (that one goes on) or the user cancelled, noIdentityToken when the
    // answer has no usable token, and any other provider error unchanged.
    QCoro::Task<AppleIDToken> requestIdToken();

    // POST /auth/apple/link, then saves the reply's session token. Throws
    // AppleAuthServiceError::serverRejected for an APIError; other errors, a failed
    // save included, pass unchanged.
    QCoro::Task<LoginOut> link(QString idToken, QString nonce);

    // The window the sign-in is presented from: the focused window, else the first
    // one, else an empty window of the service's own.
    QWindow *presentationAnchor();

private:
    struct PendingRequest {
        OneShot<AppleIDToken> result;
        QString rawNonce;
    };

    void authorizationCompleted(AppleIDAuthorization authorization);
    void authorizationFailed(std::exception_ptr error);

    QPointer<APIClient> m_api;
    std::shared_ptr<JWTStore> m_jwtStore;
    std::unique_ptr<AppleIDProvider> m_provider;
    NonceRandomBatch m_randomBytes;
    std::optional<PendingRequest> m_pendingRequest;
    std::unique_ptr<QWindow> m_emptyAnchor;
    Logger m_log{QStringLiteral("AppleAuth")};
};

} // namespace kovra
