#pragma once

#include "dev-service/DevServiceOptions.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <chrono>
#include <optional>

namespace kovra::devservice {

// The one account the development service knows.
struct DevUser {
    bool exists = false; // created by the first sign-in
    qint64 telegramId = 0;
    QString username;
    QDateTime createdAt;
    bool hasTelegram = false;
    bool hasApple = false;
    bool hasGoogle = false;
    QString appleEmail;
    QString googleEmail;
};

struct DevSubscription {
    QString status;
    qint64 dataLimitBytes = 0; // below 1: no limit
    qint64 usedBytes = 0;
    std::optional<qint64> expireUnix;
    // The secret path segment of the configuration download.
    QString accessKey;
};

// An invoice; it is paid `payAfter` after it was created.
struct DevInvoice {
    QString paymentId;
    QString planId;
    int months = 0;
    qint64 quotaBytes = 0; // per month
    QDateTime createdAt;
    bool applied = false;
};

// Everything the development service remembers, and the rules that change it over
// time. Session tokens and sign-in nonces are kept only as SHA-256 digests, so the
// state file does not hold them. Collections are bounded (oldest dropped first).
//
// State file (JSON object): "user" {"exists", "telegram_id", "username", "created_at",
// "has_telegram", "has_apple", "has_google", "apple_email", "google_email"},
// "subscription" {"status", "data_limit_bytes", "used_bytes", "expire_unix" (or
// absent), "access_key"}, "token_digests" [hex], "sessions" [{"nonce_digest",
// "expires_at", "polls", "used"}], "invoices" [{"payment_id", "plan_id", "months",
// "quota_bytes", "created_at", "applied"}], "wakes" {region id: started at}. Dates are
// ISO 8601 UTC with milliseconds.
class DevState {
public:
    static constexpr int kMaxSessions = 256;
    static constexpr int kMaxTokens = 4096;
    static constexpr int kMaxInvoices = 256;

    // A new state: no user, no sessions, the given subscription.
    DevState(SubscriptionPlan plan, const QDateTime &now);

    QJsonObject toJson() const;
    // None when the object is not a state this service wrote.
    static std::optional<DevState> fromJson(const QJsonObject &object);

    // A new sign-in session; its nonce is returned once and kept only as a digest.
    QString startSession(const QDateTime &now, std::chrono::milliseconds lifetime);

    enum class PollOutcome { waiting, confirmed, gone };
    // The first `confirmAfter` polls wait; the next one confirms and uses up the
    // session. Unknown, used and expired nonces are gone.
    PollOutcome poll(const QString &nonce, const QDateTime &now, int confirmAfter);

    // A new random session token (kept as a digest), and whether a token was issued here.
    QString issueToken();
    bool knowsToken(const QString &token) const;

    enum class Identity { telegram, apple, google };
    // Signs the user in with an identity (linking it to the account), creating the
    // account the first time; returns whether the account is new.
    bool signIn(Identity identity, const QDateTime &now);
    const DevUser &user() const { return m_user; }

    void setSubscription(SubscriptionPlan plan, const QDateTime &now);
    const DevSubscription &subscription() const { return m_subscription; }

    // Records an invoice and returns its payment id.
    QString addInvoice(const QString &planId, int months, qint64 quotaBytes, const QDateTime &now);
    // Extends the subscription by every invoice paid by now (`payAfter` after it was
    // made), each as of its payment; true when anything changed.
    bool applyPayments(const QDateTime &now, std::chrono::milliseconds payAfter);

    // When the wake of an on-demand region was asked for; none while it sleeps.
    std::optional<QDateTime> wakeStartedAt(const QString &regionId) const;
    void startWake(const QString &regionId, const QDateTime &now);

private:
    struct Session {
        QByteArray nonceDigest;
        QDateTime expiresAt;
        int polls = 0;
        bool used = false;
    };

    DevState() = default;
    void link(Identity identity);
    void applyInvoice(const DevInvoice &invoice, const QDateTime &paidAt);

    DevUser m_user;
    DevSubscription m_subscription;
    QList<QByteArray> m_tokenDigests;
    QList<Session> m_sessions;
    QList<DevInvoice> m_invoices;
    QHash<QString, QDateTime> m_wakes;
};

// Random URL-safe text of `bytes` random bytes (no padding).
QString randomText(int bytes);

} // namespace kovra::devservice
