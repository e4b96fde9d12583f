#pragma once

#include "platform/Clock.h"
#include "platform/Json.h"

#include <QDateTime>
#include <QString>

#include <optional>

namespace kovra {

// The user's subscription as the service reports it.
struct SubscriptionOut {
    // Where the tunnel provider loads its proxy configuration; may be empty.
    QString subscriptionUrl;
    // Only "active" counts as active.
    QString status;
    // Below 1: no limit.
    qint64 dataLimitBytes = 0;
    qint64 usedBytes = 0;
    // Seconds since 1970; none: no expiry.
    std::optional<qint64> expireUnix;
    // Seconds left as the service counted them (for display only).
    std::optional<qint64> expiresInSeconds;

    static SubscriptionOut decode(const JsonDecodingContainer &c);
    void encode(JsonEncodingContainer &c) const;
    bool operator==(const SubscriptionOut &) const = default;

    bool hasDataLimit() const { return dataLimitBytes >= 1; }

    // Whether the subscription may be used at `now`: status "active", not expired (an
    // expiry equal to now is expired), traffic not used up, and a subscription URL.
    bool isActive(const QDateTime &now) const;
    bool isActive(const Clock &clock) const { return isActive(clock.now()); }
};

// The copy of the last subscription kept in the app group, with when it was fetched.
// Stored with the default JSON conventions (field names, dates as seconds since 2001).
struct CachedSubscription {
    QDateTime fetchedAt;
    SubscriptionOut subscription;

    static CachedSubscription decode(const JsonDecodingContainer &c);
    void encode(JsonEncodingContainer &c) const;
};

} // namespace kovra
