#pragma once

#include "catalog/Region.h"
#include "catalog/RegionsService.h"
#include "catalog/SelectionOwners.h"
#include "core/AppGroupStore.h"
#include "core/CatalogCache.h"
#include "platform/Cancellation.h"
#include "platform/Clock.h"
#include "platform/Log.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <exception>
#include <memory>
#include <optional>

namespace kovra {

// When the wake of each region was asked for, by region id.
using RegionWakeStamps = QHash<QString, QDateTime>;

struct RegionStoreOptions {
    // The pause before each poll of the catalogue while a wake is under way; positive.
    std::chrono::milliseconds pollInterval{5000};
    // Polls per budget; each wake renews the budget. Below 1 nothing is ever polled.
    int maxPollTicks = 90;
    std::shared_ptr<Clock> clock = Clock::system();
};

// The region catalogue and the wake-up of on-demand regions.
//
// Starts with the cached list (else the built-in one) and keeps its last good list
// through every failed or empty refresh. wake() asks the service to start a stopped
// region, remembers it in `waking` with the time it was asked, and polls the catalogue
// while a wake is pending or a region reports `starting`: every pollInterval, at most
// maxPollTicks polls per budget; a spent budget forgets all wake state. A woken region
// that comes online is handed to the selection owner, once.
// Lives on the GUI thread.
class RegionStore : public QObject {
    Q_OBJECT
    Q_PROPERTY(QList<kovra::Region> regions READ regions NOTIFY regionsChanged)
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)
    Q_PROPERTY(QString lastErrorText READ lastErrorText NOTIFY lastErrorChanged)
    Q_PROPERTY(QSet<QString> waking READ waking NOTIFY wakingChanged)
    Q_PROPERTY(kovra::RegionWakeStamps wakeStartedAt READ wakeStartedAt NOTIFY wakeStartedAtChanged)
public:
    using Options = RegionStoreOptions;

    // Loads the list from the app group's region cache; starts no refresh and no polling.
    RegionStore(std::shared_ptr<RegionsProviding> service, AppGroupStore appGroup, Options options = {},
                QObject *parent = nullptr);
    ~RegionStore() override;

    const QList<Region> &regions() const { return m_regions; }
    bool isLoading() const { return m_isLoading; }
    // The last refresh or wake failure; a successful refresh clears it.
    std::exception_ptr lastError() const { return m_lastError; }
    QString lastErrorText() const;
    // Regions whose wake was asked for and that the service still reports `stopped`.
    const QSet<QString> &waking() const { return m_waking; }
    const RegionWakeStamps &wakeStartedAt() const { return m_wakeStartedAt; }

    // The region to hand to the owner once its wake completes.
    const std::optional<QString> &pendingAutoSelectID() const { return m_pendingAutoSelectID; }
    // The owner drops the pending auto-select when the user picks another region.
    void clearPendingAutoSelect() { m_pendingAutoSelectID.reset(); }

    // Held weakly; the owner must be a QObject implementing RegionSelectionOwner.
    template<class Owner>
    void setSelectionOwner(Owner *owner)
    {
        m_owner.set(owner);
    }
    void clearSelectionOwner() { m_owner.reset(); }
    RegionSelectionOwner *selectionOwner() const { return m_owner.get(); }

    // Fetches the catalogue. A refresh asked for while one runs returns at once. Never throws.
    QCoro::Task<void> refresh();
    // Wakes a region that reports `stopped` and is not already waking; otherwise does
    // nothing. Never throws.
    QCoro::Task<void> wake(Region region);

    // A wake is pending, a region is waking or one reports `starting`.
    bool needsPolling() const;
    // Starts the poll loop when polling is needed and none runs; `resetBudget` renews
    // the budget, also of a running loop.
    void ensurePolling(bool resetBudget);
    bool isPolling() const { return m_pollTask.has_value(); }
    // Polls left in the current budget.
    int pollBudget() const { return m_pollBudget; }

Q_SIGNALS:
    void regionsChanged();
    void isLoadingChanged();
    void lastErrorChanged();
    void wakingChanged();
    void wakeStartedAtChanged();

private:
    QCoro::Task<void> reconcileWaking(QList<Region> regions);
    QCoro::Task<void> autoSelect(Region region);
    QCoro::Task<void> pollLoop(quint64 generation, CancellationToken token);
    void endPolling(quint64 generation);
    void setLoading(bool loading);
    // Notifies on every assignment.
    void setLastError(std::exception_ptr error);
    void setWaking(QSet<QString> waking);
    void setWakeStartedAt(RegionWakeStamps stamps);

    QList<Region> m_regions;
    bool m_isLoading = false;
    std::exception_ptr m_lastError;
    QSet<QString> m_waking;
    RegionWakeStamps m_wakeStartedAt;
    WeakSelectionOwner<RegionSelectionOwner> m_owner;
    std::shared_ptr<RegionsProviding> m_service;
    AppGroupStore m_appGroup;
    std::optional<QString> m_pendingAutoSelectID;
    // The running poll loop, cancelled when the store goes.
    std::optional<CancellationSource> m_pollTask;
    quint64 m_pollGeneration = 0;
    std::chrono::milliseconds m_pollInterval;
    int m_maxPollTicks;
    int m_pollBudget = 0;
    std::shared_ptr<Clock> m_clock;
    Logger m_log{QStringLiteral("Regions")};
    CatalogCache<Region> m_cache;
};

} // namespace kovra
