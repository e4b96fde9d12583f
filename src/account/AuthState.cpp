#include "account/AuthState.h"

#include "account/TelegramLink.h"
#include "core/APIError.h"
#include "platform/Keychain.h"
#include "platform/L10n.h"
#include "platform/Property.h"

#include <QPointer>

#include <algorithm>

namespace kovra {
namespace {

// About a century: more than any sign-in session lasts, and far inside QDateTime.
constexpr qint64 kMaxExpirySeconds = 100LL * 366 * 24 * 3600;

// Whether a poll failure ends the sign-in: the session is unknown or gone, or the
// failure is not the service's (other service answers keep the loop polling).
bool endsSignIn(const std::exception_ptr &error)
{
    const std::optional<APIError::Kind> kind = APIError::kindOf(error);
    return !kind || kind == APIError::Kind::unauthorized || kind == APIError::Kind::gone;
}

} // namespace

AuthState::AuthState(std::shared_ptr<AuthService> service, std::shared_ptr<JWTStore> keychain, AppGroupStore appGroup,
                     std::shared_ptr<UrlOpener> opener, Options options, QObject *parent)
    : QObject(parent),
      m_service(std::move(service)),
      m_keychain(std::move(keychain)),
      m_appGroup(std::move(appGroup)),
      m_opener(std::move(opener)),
      m_options(std::move(options))
{
    m_lastTokenWrite.resolve();
}

AuthState::~AuthState()
{
    if (m_pollingTask)
        m_pollingTask->cancel();
}

QCoro::Task<void> AuthState::restore()
{
    co_await settleStatusFromTokenStore();
}

void AuthState::setStatus(const Status &status)
{
    ++m_statusWrites;
    updateProperty(m_status, status, this, &AuthState::statusChanged);
}

void AuthState::setLastError(std::exception_ptr error)
{
    m_lastError = std::move(error);
    Q_EMIT lastErrorChanged();
}

QString AuthState::lastErrorMessage() const
{
    return m_lastError ? loginErrorMessage(m_lastError) : QString();
}

void AuthState::setIsNewAccount(bool value)
{
    updateProperty(m_isNewAccount, value, this, &AuthState::isNewAccountChanged);
}

void AuthState::setOnSessionInvalidated(std::function<void()> hook)
{
    m_onSessionInvalidated = std::move(hook);
    Q_EMIT onSessionInvalidatedChanged();
}

void AuthState::setPollingTask(std::optional<Operation<void>> task)
{
    updateProperty(m_pollingTask, std::move(task), this, &AuthState::pollingTaskChanged);
}

void AuthState::stopPolling()
{
    if (m_pollingTask)
        m_pollingTask->cancel();
    setPollingTask(std::nullopt);
}

QCoro::Task<void> AuthState::beginTelegramLink()
{
    QPointer<AuthState> self(this);
    stopPolling();
    const quint64 generation = ++m_beginGeneration;
    setLastError(nullptr);

    const std::shared_ptr<AuthService> service = m_service;
    std::optional<StartSessionOut> session;
    std::exception_ptr failure;
    try {
        session = co_await service->startSession();
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self || m_beginGeneration != generation)
        co_return; // superseded by a later begin, a cancel or a sign-out
    if (failure) {
        setLastError(failure);
        co_await settleStatusFromTokenStore();
        co_return;
    }

    const qint64 seconds = std::clamp(session->expiresInSeconds, -kMaxExpirySeconds, kMaxExpirySeconds);
    const QDateTime expiresAt = m_options.clock->now().addSecs(seconds);
    updateProperty(m_pendingDeepLink, std::optional<QString>(session->deepLink), this, &AuthState::pendingDeepLinkChanged);
    updateProperty(m_pendingHTTPSLink, std::optional<QString>(session->httpsLink), this,
                   &AuthState::pendingHTTPSLinkChanged);
    setStatus(Status::linking(session->nonce, expiresAt));
    const QString nonce = session->nonce;
    setPollingTask(Operation<void>::run([self, nonce](CancellationToken token) { return pollTelegramLogin(self, nonce, token); }));
}

QCoro::Task<void> AuthState::pollTelegramLogin(QPointer<AuthState> self, QString nonce, CancellationToken token)
{
    if (!self || token.isCancelled())
        co_return;
    const std::shared_ptr<AuthService> service = self->m_service;
    const std::shared_ptr<Clock> clock = self->m_options.clock;
    const std::chrono::milliseconds interval = self->m_options.pollInterval;
    const int maxAttempts = self->m_options.maxPollAttempts;

    for (int attempt = 0;; ++attempt) {
        std::optional<LoginOut> login;
        std::exception_ptr failure;
        try {
            login = co_await service->poll(nonce, token);
        } catch (...) {
            failure = std::current_exception();
        }
        if (!self || token.isCancelled())
            co_return; // whatever the answer was
        if (login) {
            co_await self->completeLogin(*login, token);
            co_return;
        }
        if (failure) {
            self->setLastError(failure);
            if (endsSignIn(failure)) {
                co_await self->settleStatusFromTokenStore(token);
                co_return;
            }
        }
        if (attempt >= maxAttempts - 1) {
            self->setLastError(std::make_exception_ptr(AuthStateError(AuthStateError::Kind::linkingTimeout)));
            co_await self->settleStatusFromTokenStore(token);
            co_return;
        }
        try {
            co_await clock->sleep(interval, token);
        } catch (...) {
            co_return; // cancelled
        }
        if (!self || token.isCancelled())
            co_return;
    }
}

QCoro::Task<void> AuthState::completeLogin(LoginOut login, CancellationToken token)
{
    QPointer<AuthState> self(this);
    const std::shared_ptr<JWTStore> keychain = m_keychain;
    const Logger log = m_log;
    TokenWrite write = queueTokenWrite();
    std::exception_ptr failure;
    co_await write.previous.waitForEnd();
    try {
        co_await keychain->saveJWT(login.accessToken);
    } catch (...) {
        failure = std::current_exception();
        // The store throws without logging; whether or not the sign-in still counts.
        log.error(QStringLiteral("saving the session token failed: ") + descriptionOf(failure));
    }
    write.done.resolve();
    if (!self || token.isCancelled())
        co_return; // a sign-out queued its removal after this save
    if (failure) {
        setLastError(failure);
        co_await settleStatusFromTokenStore(token);
        co_return;
    }
    setLastError(nullptr);
    updateProperty(m_pendingDeepLink, std::optional<QString>(), this, &AuthState::pendingDeepLinkChanged);
    updateProperty(m_pendingHTTPSLink, std::optional<QString>(), this, &AuthState::pendingHTTPSLinkChanged);
    setIsNewAccount(login.isNew);
    setStatus(Status::authenticated());
}

QCoro::Task<void> AuthState::settleStatusFromTokenStore(CancellationToken token)
{
    QPointer<AuthState> self(this);
    const quint64 writes = m_statusWrites;
    const OneShot<void> pendingWrite = m_lastTokenWrite;
    const std::shared_ptr<JWTStore> store = m_service->keychain();
    co_await pendingWrite.waitForEnd();
    const std::optional<QString> jwt = co_await store->currentJWT();
    if (!self || token.isCancelled() || m_statusWrites != writes)
        co_return;
    // An empty token is no token: the API client sends none.
    const bool stored = jwt && !jwt->isEmpty();
    setStatus(stored ? Status::authenticated() : Status::anonymous());
}

AuthState::TokenWrite AuthState::queueTokenWrite()
{
    TokenWrite write{m_lastTokenWrite, OneShot<void>()};
    m_lastTokenWrite = write.done;
    return write;
}

QCoro::Task<void> AuthState::removeToken(TokenWrite write, std::shared_ptr<JWTStore> store)
{
    co_await write.previous.waitForEnd();
    try {
        co_await store->deleteJWT();
    } catch (...) {
        // Signing out goes on whether or not the token could be removed.
    }
    write.done.resolve();
}

QCoro::Task<void> AuthState::launchTelegramIfReady()
{
    if (!m_pendingDeepLink || !m_pendingHTTPSLink) {
        m_log.error(QStringLiteral("launchTelegramIfReady: no pending link (begin failed?)"));
        co_return;
    }
    m_log.info(QStringLiteral("launching telegram deep link"));
    const std::shared_ptr<UrlOpener> opener = m_opener;
    const QString deepLink = *m_pendingDeepLink;
    const QString httpsLink = *m_pendingHTTPSLink;
    co_await openTelegramLink(opener, deepLink, httpsLink);
}

void AuthState::cancelTelegramLink()
{
    stopPolling();
    ++m_beginGeneration;
    updateProperty(m_pendingDeepLink, std::optional<QString>(), this, &AuthState::pendingDeepLinkChanged);
    updateProperty(m_pendingHTTPSLink, std::optional<QString>(), this, &AuthState::pendingHTTPSLinkChanged);
    // A signed-in user linking Telegram stays signed in: the token store decides.
    QCoro::Task<void> settling = settleStatusFromTokenStore();
}

void AuthState::clearSession()
{
    stopPolling();
    ++m_beginGeneration;
    updateProperty(m_pendingDeepLink, std::optional<QString>(), this, &AuthState::pendingDeepLinkChanged);
    updateProperty(m_pendingHTTPSLink, std::optional<QString>(), this, &AuthState::pendingHTTPSLinkChanged);
    setIsNewAccount(false);
    const TokenWrite write = queueTokenWrite();
    const std::shared_ptr<JWTStore> store = m_service->keychain();
    QCoro::Task<void> removal = removeToken(write, store); // ends after this returns
    m_appGroup.defaults()->remove(AppGroupKey::cachedSubscription);
    if (m_onSessionInvalidated) {
        const std::function<void()> hook = m_onSessionInvalidated; // the hook may replace itself
        hook();
    }
    setStatus(Status::anonymous());
}

void AuthState::clearSessionAfterRefusal(std::exception_ptr error)
{
    QPointer<AuthState> self(this);
    clearSession();
    if (self) // the session hook may have taken the state down
        setLastError(std::move(error));
}

QString AuthState::loginErrorMessage(const std::exception_ptr &error)
{
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const AuthStateError &) {
        return L10n::text("login.error.timeout", u"Время ожидания истекло. Попробуйте ещё раз.");
    } catch (const KeychainError &e) {
        switch (e.kind()) {
        case KeychainError::Kind::noSecretService:
            return L10n::text("login.error.keyring.missing",
                              u"Не найдено хранилище паролей. Для входа нужно хранилище со службой Secret Service: "
                              u"GNOME Keyring, KWallet или KeePassXC. Запустите его и войдите снова.");
        case KeychainError::Kind::refused:
            return L10n::text("login.error.keyring.locked",
                              u"Хранилище паролей заблокировано. Разблокируйте его и войдите снова.");
        case KeychainError::Kind::timedOut:
        case KeychainError::Kind::failed:
            break;
        }
        return L10n::text("login.error.keyring.failed",
                          u"Не удалось сохранить вход в хранилище паролей. Попробуйте ещё раз.");
    } catch (...) {
    }
    return L10n::text("login.error.generic", u"Не удалось начать вход. Проверьте подключение.");
}

} // namespace kovra
