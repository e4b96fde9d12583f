#include "account/SubscriptionOut.h"

namespace kovra {

SubscriptionOut SubscriptionOut::decode(const JsonDecodingContainer &c)
{
    return {c.decode<QString>("subscriptionUrl"), c.decode<QString>("status"), c.decode<qint64>("dataLimitBytes"),
            c.decode<qint64>("usedBytes"),        c.decodeIfPresent<qint64>("expireUnix"),
            c.decodeIfPresent<qint64>("expiresInSeconds")};
}

void SubscriptionOut::encode(JsonEncodingContainer &c) const
{
    c.encode("subscriptionUrl", subscriptionUrl);
    c.encode("status", status);
    c.encode("dataLimitBytes", dataLimitBytes);
    c.encode("usedBytes", usedBytes);
    c.encodeIfPresent("expireUnix", expireUnix);
    c.encodeIfPresent("expiresInSeconds", expiresInSeconds);
}

bool SubscriptionOut::isActive(const QDateTime &now) const
{
    if (status != QLatin1String("active"))
        return false;
    // Compared as floating-point seconds: any 64-bit expiry compares without overflow.
    if (expireUnix && !(double(now.toMSecsSinceEpoch()) / 1000.0 < double(*expireUnix)))
        return false;
    if (hasDataLimit() && usedBytes >= dataLimitBytes)
        return false;
    return !subscriptionUrl.isEmpty();
}

CachedSubscription CachedSubscription::decode(const JsonDecodingContainer &c)
{
    return {c.decode<QDateTime>("fetchedAt"), c.decode<SubscriptionOut>("subscription")};
}

void CachedSubscription::encode(JsonEncodingContainer &c) const
{
    c.encode("fetchedAt", fetchedAt);
    c.encode("subscription", subscription);
}

} // namespace kovra
