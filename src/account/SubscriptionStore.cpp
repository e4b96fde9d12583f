#include "account/SubscriptionStore.h"

#include "platform/Property.h"

namespace kovra {

SubscriptionStore::SubscriptionStore(std::shared_ptr<SubscriptionProviding> service, AppGroupStore appGroup,
                                     AuthState *authState, Options options, QObject *parent)
    : AccountRecordStore(authState, QStringLiteral("Subscription"), parent),
      m_service(std::move(service)),
      m_appGroup(std::move(appGroup)),
      m_options(std::move(options))
{
    m_latest = loadCache();
}

void SubscriptionStore::setLatest(std::optional<SubscriptionOut> value)
{
    updateProperty(m_latest, std::move(value), this, &SubscriptionStore::latestChanged);
}

QCoro::Task<void> SubscriptionStore::refresh()
{
    if (isLoading())
        co_return;
    QPointer<SubscriptionStore> self(this);
    const quint64 generation = startRefresh();
    m_log.info(QStringLiteral("refresh start"));
    const std::shared_ptr<SubscriptionProviding> service = m_service;
    std::optional<SubscriptionOut> reply;
    std::exception_ptr failure;
    try {
        reply = co_await service->fetchSubscription();
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self || !isCurrent(generation))
        co_return; // the session ended meanwhile

    if (reply) {
        setLatest(reply);
        setError(nullptr);
        m_appGroup.defaults()->set(AppGroupKey::subscriptionURL, reply->subscriptionUrl);
        saveCache(*reply);
        const QString expiry = reply->expireUnix ? QString::number(*reply->expireUnix) : QStringLiteral("nil");
        m_log.info(QStringLiteral("refresh ok: status=%1 limit=%2 used=%3 expireUnix=%4")
                       .arg(reply->status)
                       .arg(reply->dataLimitBytes)
                       .arg(reply->usedBytes)
                       .arg(expiry));
    } else {
        if (isRefusal(failure)) {
            setLatest(std::nullopt);
            m_appGroup.defaults()->remove(AppGroupKey::cachedSubscription);
        }
        recordFailure(failure);
    }
    if (self)
        finishRefresh(generation);
}

void SubscriptionStore::clear()
{
    advanceGeneration();
    setLatest(std::nullopt);
    clearErrorAndLoading();
    m_appGroup.defaults()->remove(AppGroupKey::cachedSubscription);
}

std::optional<SubscriptionOut> SubscriptionStore::loadCache() const
{
    const std::optional<QByteArray> bytes = m_appGroup.defaults()->data(AppGroupKey::cachedSubscription);
    if (!bytes)
        return std::nullopt;
    CachedSubscription cached;
    try {
        cached = JsonDecoder().decode<CachedSubscription>(*bytes);
    } catch (...) {
        return std::nullopt; // left in place; the next refresh replaces it
    }
    const qint64 ageMs = cached.fetchedAt.msecsTo(m_options.clock->now());
    if (ageMs < 0 || ageMs > kCacheMaxAgeSeconds * 1000)
        return std::nullopt;
    return cached.subscription;
}

void SubscriptionStore::saveCache(const SubscriptionOut &subscription)
{
    QByteArray bytes;
    try {
        bytes = JsonEncoder().encode(CachedSubscription{m_options.clock->now(), subscription});
    } catch (...) {
        m_log.error(QStringLiteral("кеш подписки не сериализовался — оставляю прежний"));
        return;
    }
    m_appGroup.defaults()->set(AppGroupKey::cachedSubscription, bytes);
}

} // namespace kovra
