#pragma once

#include "account/AccountRecordStore.h"
#include "account/SubscriptionService.h"
#include "core/AppGroupStore.h"
#include "platform/Clock.h"

#include <memory>
#include <optional>

namespace kovra {

struct SubscriptionStoreOptions {
    // Dates the cached copy and measures its age.
    std::shared_ptr<Clock> clock = Clock::system();
};

// The user's subscription for the rest of the app.
//
// Starts with the copy cached in the app group when it is at most 24 hours old (the
// copy stays there either way). A successful refresh publishes the reply, hands its
// subscription URL to the tunnel provider ("subscriptionURL") and caches it; a 401
// empties the store and the cache and ends the session through the session state;
// any other failure keeps what the store holds and records the error. clear() (at the
// session end) empties the store, and a refresh still running then changes nothing.
// Lives on the GUI thread.
class SubscriptionStore : public AccountRecordStore {
    Q_OBJECT
    Q_PROPERTY(bool hasLatest READ hasLatest NOTIFY latestChanged)
public:
    using Options = SubscriptionStoreOptions;

    static constexpr qint64 kCacheMaxAgeSeconds = 24 * 3600;

    // `authState` (optional) is whose session a 401 ends. Loads the cached copy.
    SubscriptionStore(std::shared_ptr<SubscriptionProviding> service, AppGroupStore appGroup, AuthState *authState,
                      Options options = {}, QObject *parent = nullptr);

    // The last subscription received, or the cached copy loaded at start. Notifies
    // only when it changes.
    const std::optional<SubscriptionOut> &latest() const { return m_latest; }
    bool hasLatest() const { return m_latest.has_value(); }

    // Fetches the subscription. Returns at once, fetching nothing, while a refresh
    // runs. Never throws.
    QCoro::Task<void> refresh();
    // The session-end reset: drops a refresh in flight, empties the store and removes
    // the cached copy ("subscriptionURL" goes with the session keys).
    void clear();

Q_SIGNALS:
    void latestChanged();

private:
    std::optional<SubscriptionOut> loadCache() const;
    void saveCache(const SubscriptionOut &subscription);
    void setLatest(std::optional<SubscriptionOut> value);

    std::optional<SubscriptionOut> m_latest;
    std::shared_ptr<SubscriptionProviding> m_service;
    AppGroupStore m_appGroup;
    Options m_options;
};

} // namespace kovra
