#pragma once

#include "account/AuthService.h"
#include "core/AppGroupStore.h"
#include "platform/Async.h"
#include "platform/Clock.h"
#include "platform/Error.h"
#include "platform/Log.h"
#include "platform/UrlOpener.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

namespace kovra {

// The Telegram sign-in ran out of polls without a confirmation.
class AuthStateError : public Error {
public:
    enum class Kind { linkingTimeout };
    explicit AuthStateError(Kind kind = Kind::linkingTimeout) : m_kind(kind) {}
    Kind kind() const { return m_kind; }
    QString description() const override { return QStringLiteral("linking timed out"); }

private:
    Kind m_kind;
};

struct AuthStateOptions {
    // The pause between two poll requests of a Telegram sign-in.
    std::chrono::milliseconds pollInterval{2000};
    // Poll requests of one sign-in before it times out.
    int maxPollAttempts = 60;
    std::shared_ptr<Clock> clock = Clock::system();
};

// Whether the user is signed in, and the Telegram sign-in.
//
// beginTelegramLink() asks the service for a sign-in session, keeps its links for the
// screen to open and polls the service until the user has confirmed in the bot, then
// stores the issued token. The same flow links Telegram to an account signed in
// through another identity. clearSession() ends the session (sign-out, or a 401 seen
// anywhere). A sign-in that is abandoned or fails without a new token leaves the status
// to the token store: `authenticated` while a token is stored, else `anonymous`.
//
// Token writes (the save of a sign-in, the removal of a sign-out) run one after
// another in the order asked, and token reads wait for the writes asked before them.
// Lives on the GUI thread.
class AuthState : public QObject {
    Q_OBJECT
    Q_PROPERTY(kovra::AuthState::StatusKind statusKind READ statusKind NOTIFY statusChanged)
    Q_PROPERTY(QDateTime linkingExpiresAt READ linkingExpiresAt NOTIFY statusChanged)
    Q_PROPERTY(bool hasLastError READ hasLastError NOTIFY lastErrorChanged)
    Q_PROPERTY(QString lastErrorMessage READ lastErrorMessage NOTIFY lastErrorChanged)
    Q_PROPERTY(QString pendingDeepLink READ pendingDeepLinkText NOTIFY pendingDeepLinkChanged)
    Q_PROPERTY(QString pendingHTTPSLink READ pendingHTTPSLinkText NOTIFY pendingHTTPSLinkChanged)
    Q_PROPERTY(bool isNewAccount READ isNewAccount WRITE setIsNewAccount NOTIFY isNewAccountChanged)
    Q_PROPERTY(bool hasPollingTask READ hasPollingTask NOTIFY pollingTaskChanged)
public:
    using Options = AuthStateOptions;

    enum class StatusKind { linking, anonymous, authenticated };
    Q_ENUM(StatusKind)

    struct Status {
        StatusKind kind = StatusKind::anonymous;
        // Of `linking`: the sign-in session at the service and when the service forgets it.
        QString nonce;
        QDateTime expiresAt;

        static Status linking(QString nonce, QDateTime expiresAt) { return {StatusKind::linking, std::move(nonce), std::move(expiresAt)}; }
        static Status anonymous() { return {StatusKind::anonymous, {}, {}}; }
        static Status authenticated() { return {StatusKind::authenticated, {}, {}}; }
        bool operator==(const Status &other) const
        {
            return kind == other.kind
                   && (kind != StatusKind::linking || (nonce == other.nonce && expiresAt == other.expiresAt));
        }
    };

    // `service` reaches the service and the token store the status is read from and
    // the token removed from; a completed sign-in saves its token to `keychain`.
    // `opener` opens the Telegram links. The status is `anonymous` until restore().
    AuthState(std::shared_ptr<AuthService> service, std::shared_ptr<JWTStore> keychain, AppGroupStore appGroup,
              std::shared_ptr<UrlOpener> opener, Options options = {}, QObject *parent = nullptr);
    ~AuthState() override;

    // Sets the first status from the token store: `authenticated` when a token is
    // stored, else `anonymous` (no token is checked with the service). A status set
    // meanwhile by a sign-in or a sign-out wins. The start-up awaits it once.
    QCoro::Task<void> restore();

    const Status &status() const { return m_status; }
    StatusKind statusKind() const { return m_status.kind; }
    QDateTime linkingExpiresAt() const { return m_status.expiresAt; }
    // Notifies only on a change (a `linking` with another expiry is a change).
    void setStatus(const Status &status);

    // The last sign-in failure, shown with loginErrorMessage(). Every write notifies.
    const std::exception_ptr &lastError() const { return m_lastError; }
    void setLastError(std::exception_ptr error);
    bool hasLastError() const { return bool(m_lastError); }
    // loginErrorMessage() of the last error; empty when there is none.
    QString lastErrorMessage() const;

    const std::optional<QString> &pendingDeepLink() const { return m_pendingDeepLink; }
    const std::optional<QString> &pendingHTTPSLink() const { return m_pendingHTTPSLink; }
    QString pendingDeepLinkText() const { return m_pendingDeepLink.value_or(QString()); }
    QString pendingHTTPSLinkText() const { return m_pendingHTTPSLink.value_or(QString()); }

    // The service created a new account at the last completed sign-in; the screen
    // writes false once it has told the user.
    bool isNewAccount() const { return m_isNewAccount; }
    void setIsNewAccount(bool value);

    // The poll loop of the running (or last finished) sign-in; none after a sign-out
    // or an abandoned sign-in.
    const std::optional<Operation<void>> &pollingTask() const { return m_pollingTask; }
    bool hasPollingTask() const { return m_pollingTask.has_value(); }

    // Called, synchronously, when the session ends. Every write notifies.
    const std::function<void()> &onSessionInvalidated() const { return m_onSessionInvalidated; }
    void setOnSessionInvalidated(std::function<void()> hook);

    AuthService &service() const { return *m_service; }

    // Starts a Telegram sign-in: cancels a running one, asks the service for a session
    // and, on its reply, keeps its links, moves to `linking` and starts polling (not
    // awaited). A failing request is kept as lastError and the status is then read from
    // the token store. Returns once the session was asked for; never throws. A later
    // begin, cancel or sign-out makes a reply still in flight count for nothing.
    QCoro::Task<void> beginTelegramLink();

    // Opens the pending links ("launching telegram deep link"), or, when one of them is
    // missing, only logs an error. The links stay pending. Never throws.
    QCoro::Task<void> launchTelegramIfReady();

    // Abandons a running sign-in: stops polling, drops the links and reads the status
    // from the token store. The last error, the new-account flag, the app group and the
    // session hook are left alone.
    void cancelTelegramLink();

    // Ends the session, in this order: stops polling, drops the links and the
    // new-account flag, removes the token (finishing later), removes the cached
    // subscription, calls onSessionInvalidated, and sets `anonymous`. The last error
    // stays.
    void clearSession();
    // A call was refused for the session token (401): clearSession(), then `error`
    // becomes the last error.
    void clearSessionAfterRefusal(std::exception_ptr error);

    // The sign-in screen's text for an error: the time-out text for AuthStateError;
    // for a KeychainError (the token could not be saved) what the keyring lacks: no
    // Secret Service, a locked keyring, or another failure; the generic one (the
    // connection) for anything else.
    static QString loginErrorMessage(const std::exception_ptr &error);

Q_SIGNALS:
    void statusChanged();
    void lastErrorChanged();
    void pendingDeepLinkChanged();
    void pendingHTTPSLinkChanged();
    void isNewAccountChanged();
    void pollingTaskChanged();
    void onSessionInvalidatedChanged();

private:
    static QCoro::Task<void> pollTelegramLogin(QPointer<AuthState> self, QString nonce, CancellationToken token);
    // Saves the token and completes the sign-in unless `token` fired meanwhile. A save
    // that fails is logged ("saving the session token failed: <the keyring's error>").
    QCoro::Task<void> completeLogin(LoginOut login, CancellationToken token);
    // Sets the status from the token store unless another status was set (or `token`
    // fired) while it was read.
    QCoro::Task<void> settleStatusFromTokenStore(CancellationToken token = {});
    void setPollingTask(std::optional<Operation<void>> task);
    void stopPolling();
    // A token write: it starts once `previous` has ended and resolves `done` when it has run.
    struct TokenWrite {
        OneShot<void> previous;
        OneShot<void> done;
    };
    TokenWrite queueTokenWrite();
    static QCoro::Task<void> removeToken(TokenWrite write, std::shared_ptr<JWTStore> store);

    std::shared_ptr<AuthService> m_service;
    std::shared_ptr<JWTStore> m_keychain;
    AppGroupStore m_appGroup;
    std::shared_ptr<UrlOpener> m_opener;
    Options m_options;
    Logger m_log{QStringLiteral("AuthState")};

    Status m_status;
    std::exception_ptr m_lastError;
    std::optional<QString> m_pendingDeepLink;
    std::optional<QString> m_pendingHTTPSLink;
    bool m_isNewAccount = false;
    std::optional<Operation<void>> m_pollingTask;
    std::function<void()> m_onSessionInvalidated;

    // Advanced by every status write: a status read from the token store applies only
    // when nothing else set one meanwhile.
    quint64 m_statusWrites = 0;
    // Advanced by every begin, cancel and sign-out: a start-session reply applies only
    // when it is still the latest begin's.
    quint64 m_beginGeneration = 0;
    // The last token write asked for; reads and later writes wait for it.
    OneShot<void> m_lastTokenWrite;
};

} // namespace kovra
