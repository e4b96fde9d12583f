#include "account/AppleAuthService.h"

#include "core/APIClient.h"

#include <QGuiApplication>
#include <QStringDecoder>
#include <QWindow>

namespace kovra {

using namespace Qt::StringLiterals;

AppleAuthService::AppleAuthService(APIClient *api, std::shared_ptr<JWTStore> jwtStore, QObject *parent)
    : AppleAuthService(api, std::move(jwtStore), makeSystemAppleIDProvider(), systemNonceBatch, parent)
{
}

AppleAuthService::AppleAuthService(APIClient *api, std::shared_ptr<JWTStore> jwtStore,
                                   std::unique_ptr<AppleIDProvider> provider, NonceRandomBatch randomBytes,
                                   QObject *parent)
    : QObject(parent), m_api(api), m_jwtStore(std::move(jwtStore)), m_provider(std::move(provider)),
      m_randomBytes(std::move(randomBytes))
{
}

AppleAuthService::~AppleAuthService()
{
    if (auto pending = std::exchange(m_pendingRequest, std::nullopt))
        pending->result.fail(AppleAuthServiceError::cancelled());
}

bool AppleAuthService::isAvailable() const
{
    return m_provider->isAvailable();
}

QCoro::Task<AppleIDToken> AppleAuthService::requestIdToken()
{
    if (m_pendingRequest) {
        m_log.error(u"requestIdToken: dropping — another request is pending"_s);
        throw AppleAuthServiceError::cancelled();
    }
    const QString rawNonce = makeNonce(m_randomBytes);
    const QString hashedNonce = sha256Hex(rawNonce);
    m_log.info(u"requestIdToken: nonce ready (rawLen=%1 sha256Len=%2)"_s.arg(rawNonce.size()).arg(hashedNonce.size()));

    const OneShot<AppleIDToken> result;
    m_pendingRequest = PendingRequest{result, rawNonce};
    m_log.info(u"requestIdToken: calling performRequests"_s);
    const QPointer<AppleAuthService> self(this);
    AppleIDProvider::Callbacks callbacks{
        [self](AppleIDAuthorization authorization) {
            if (self)
                self->authorizationCompleted(std::move(authorization));
        },
        [self](std::exception_ptr error) {
            if (self)
                self->authorizationFailed(std::move(error));
        },
        [self]() -> QWindow * { return self ? self->presentationAnchor() : nullptr; },
    };
    m_provider->performRequest(AppleIDRequest{{AppleIDRequest::Scope::fullName, AppleIDRequest::Scope::email}, hashedNonce},
                               std::move(callbacks));
    AppleIDToken token = co_await result.wait();
    co_return token;
}

void AppleAuthService::authorizationCompleted(AppleIDAuthorization authorization)
{
    if (!m_pendingRequest) {
        m_log.error(u"didCompleteWithAuthorization: no pending request (leaked callback?)"_s);
        return;
    }
    PendingRequest pending = *std::exchange(m_pendingRequest, std::nullopt);
    if (!authorization.isAppleIDCredential) {
        m_log.error(u"didCompleteWithAuthorization: credential is not ASAuthorizationAppleIDCredential"_s);
        pending.result.fail(AppleAuthServiceError::noIdentityToken());
        return;
    }
    // An empty token is as unusable as none.
    if (!authorization.identityToken || authorization.identityToken->isEmpty()) {
        m_log.error(u"didCompleteWithAuthorization: credential.identityToken is nil"_s);
        pending.result.fail(AppleAuthServiceError::noIdentityToken());
        return;
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString token = utf8(*authorization.identityToken);
    if (utf8.hasError()) {
        m_log.error(u"didCompleteWithAuthorization: identityToken is not valid UTF-8 (bytes=%1)"_s.arg(
            authorization.identityToken->size()));
        pending.result.fail(AppleAuthServiceError::noIdentityToken());
        return;
    }
    m_log.info(u"didCompleteWithAuthorization: got identityToken (len=%1)"_s.arg(token.size()));
    pending.result.resolve(AppleIDToken{token, pending.rawNonce});
}

void AppleAuthService::authorizationFailed(std::exception_ptr error)
{
    if (!m_pendingRequest) {
        m_log.error(u"didCompleteWithError: no pending request (%1)"_s.arg(localizedDescriptionOf(error)));
        return;
    }
    PendingRequest pending = *std::exchange(m_pendingRequest, std::nullopt);
    int code = -1;
    try {
        std::rethrow_exception(error);
    } catch (const AppleIDAuthorizationError &e) {
        code = e.code();
    } catch (...) {
    }
    if (code == AppleIDAuthorizationError::canceled) {
        m_log.info(u"didCompleteWithError: user cancelled"_s);
        pending.result.fail(AppleAuthServiceError::cancelled());
        return;
    }
    m_log.error(u"didCompleteWithError: code=%1 %2"_s.arg(code).arg(localizedDescriptionOf(error)));
    pending.result.fail(error);
}

QWindow *AppleAuthService::presentationAnchor()
{
    if (QWindow *focused = QGuiApplication::focusWindow()) {
        m_log.info(u"presentationAnchor: using keyWindow"_s);
        return focused;
    }
    const QWindowList windows = QGuiApplication::topLevelWindows();
    if (!windows.isEmpty()) {
        m_log.info(u"presentationAnchor: using firstWindow (no keyWindow found)"_s);
        return windows.first();
    }
    m_log.error(u"presentationAnchor: no NSWindow found — returning empty anchor (Apple flow will silently fail)"_s);
    // A window needs a GUI application; without one there is nothing to anchor to.
    if (!m_emptyAnchor && qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        m_emptyAnchor = std::make_unique<QWindow>();
    return m_emptyAnchor.get();
}

QCoro::Task<LoginOut> AppleAuthService::link(QString idToken, QString nonce)
{
    m_log.info(u"link: POST /auth/apple/link (idTokenLen=%1 nonceLen=%2)"_s.arg(idToken.size()).arg(nonce.size()));
    const Endpoint endpoint = Endpoint::appleLink(idToken, nonce);
    return linkIdentity<AppleAuthServiceError>(m_api, m_jwtStore, endpoint, m_log);
}

} // namespace kovra
