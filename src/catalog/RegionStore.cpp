#include "catalog/RegionStore.h"

#include "catalog/CatalogRefresh.h"
#include "core/APIError.h"
#include "core/Endpoint.h"
#include "platform/Http.h"
#include "platform/Property.h"

#include <QPointer>

#include <algorithm>

namespace kovra {

using namespace Qt::StringLiterals;

namespace {

// A wake failure that asking again cannot mend: the region is unknown (404) or gone
// (410), the session is not accepted (401), or its id cannot be sent at all.
bool isDefinitiveWakeFailure(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const APIError &e) {
        switch (e.kind()) {
        case APIError::Kind::server:
            return e.statusCode() == 404;
        case APIError::Kind::unauthorized:
        case APIError::Kind::gone:
            return true;
        case APIError::Kind::network:
            // An id that cannot be sent as one path segment: nothing went out, nor ever will.
            try {
                if (e.underlyingError())
                    std::rethrow_exception(e.underlyingError());
            } catch (const URLError &u) {
                return u.code() == URLError::UnsupportedURL;
            } catch (...) {
            }
            return false;
        default:
            return false;
        }
    } catch (...) {
        return false;
    }
}

} // namespace

RegionStore::RegionStore(std::shared_ptr<RegionsProviding> service, AppGroupStore appGroup, Options options,
                         QObject *parent)
    : QObject(parent),
      m_service(std::move(service)),
      m_appGroup(std::move(appGroup)),
      m_pollInterval(options.pollInterval),
      m_maxPollTicks(options.maxPollTicks),
      m_clock(options.clock ? std::move(options.clock) : Clock::system()),
      m_cache(CatalogCache<Region>::inAppGroup(m_appGroup, AppGroupKey::regionCatalogJSON, &Region::fallback,
                                               m_log))
{
    m_regions = m_cache.load();
}

RegionStore::~RegionStore()
{
    if (m_pollTask)
        m_pollTask->cancel();
}

QString RegionStore::lastErrorText() const
{
    return m_lastError ? localizedDescriptionOf(m_lastError) : QString();
}

bool RegionStore::needsPolling() const
{
    return m_pendingAutoSelectID || !m_waking.isEmpty()
        || std::any_of(m_regions.begin(), m_regions.end(),
                       [](const Region &r) { return r.status == RegionStatus::starting; });
}

QCoro::Task<void> RegionStore::refresh()
{
    if (m_isLoading)
        co_return;
    QPointer<RegionStore> self(this);
    setLoading(true);

    const std::shared_ptr<RegionsProviding> service = m_service;
    CallOutcome<QList<Region>> fetched = co_await outcomeOf(service->fetchRegions());
    if (!self)
        co_return;

    if (fetched.error) {
        setLastError(fetched.error);
        logRefreshFailure(m_log, fetched.error);
    } else if (fetched.value->isEmpty()) {
        logEmptyCatalogue(m_log);
    } else {
        const QList<Region> list = *fetched.value;
        updateProperty(m_regions, list, this, &RegionStore::regionsChanged);
        setLastError(nullptr);
        m_cache.persist(list);
        if (RegionSelectionOwner *owner = selectionOwner())
            owner->reconcileRegionSelection(list);
        logRefreshSucceeded(m_log, list.size(), u"regions"_s);
        co_await reconcileWaking(list);
        if (!self)
            co_return;
    }
    ensurePolling(false);
    setLoading(false);
}

QCoro::Task<void> RegionStore::wake(Region region)
{
    if (region.status != RegionStatus::stopped)
        co_return;
    const QString id = region.id;
    if (m_waking.contains(id))
        co_return;
    QPointer<RegionStore> self(this);

    // Marked before the request goes out, so a second tap meanwhile sends nothing.
    QSet<QString> waking = m_waking;
    waking.insert(id);
    setWaking(std::move(waking));
    RegionWakeStamps stamps = m_wakeStartedAt;
    stamps.insert(id, m_clock->now());
    setWakeStartedAt(std::move(stamps));
    m_pendingAutoSelectID = id;

    const std::shared_ptr<RegionsProviding> service = m_service;
    const CallOutcome<RegionWakeAck> ack = co_await outcomeOf(service->wakeRegion(id));
    if (!self)
        co_return;

    if (ack.value) {
        m_log.info(u"wake accepted: region=%1 status=%2"_s.arg(id, ack.value->status));
    } else {
        const std::exception_ptr failure = ack.error;
        setLastError(failure);
        if (isDefinitiveWakeFailure(failure)) {
            QSet<QString> remaining = m_waking;
            remaining.remove(id);
            setWaking(std::move(remaining));
            if (m_pendingAutoSelectID == id)
                m_pendingAutoSelectID.reset();
            m_log.error(u"wake failed (definitive): region=%1 %2"_s.arg(id, descriptionOf(failure)));
            co_return;
        }
        m_log.error(u"wake transient — keep watching: region=%1 %2"_s.arg(id, descriptionOf(failure)));
    }
    co_await refresh();
    if (!self)
        co_return;
    ensurePolling(true);
}

QCoro::Task<void> RegionStore::reconcileWaking(QList<Region> regions)
{
    QSet<QString> waking = m_waking;
    RegionWakeStamps stamps = m_wakeStartedAt;
    for (const Region &r : regions) {
        // A region the service reports as anything but `stopped` has taken its wake.
        if (r.status != RegionStatus::stopped)
            waking.remove(r.id);
        if (r.status == RegionStatus::online || r.status == RegionStatus::offline)
            stamps.remove(r.id);
    }
    setWaking(std::move(waking));
    setWakeStartedAt(std::move(stamps));

    if (!m_pendingAutoSelectID)
        co_return;
    const QString pending = *m_pendingAutoSelectID;
    const auto it = std::find_if(regions.cbegin(), regions.cend(),
                                 [&pending](const Region &r) { return r.id == pending; });
    if (it == regions.cend())
        co_return;
    if (it->status != RegionStatus::online && it->status != RegionStatus::offline)
        co_return;

    m_pendingAutoSelectID.reset();
    QSet<QString> remaining = m_waking;
    remaining.remove(pending);
    setWaking(std::move(remaining));
    if (it->status == RegionStatus::offline) {
        m_log.error(u"wake ended offline: region=%1"_s.arg(pending));
        co_return;
    }
    m_log.info(u"wake complete: auto-selecting region=%1"_s.arg(pending));
    co_await autoSelect(*it);
}

QCoro::Task<void> RegionStore::autoSelect(Region region)
{
    RegionSelectionOwner *owner = selectionOwner();
    if (!owner)
        co_return;
    QPointer<RegionStore> self(this);
    try {
        const bool accepted = co_await owner->selectRegion(region, false, false, false);
        Q_UNUSED(accepted)
    } catch (...) {
        if (self)
            m_log.error(u"auto-select failed: region=%1 %2"_s.arg(region.id, descriptionOf(std::current_exception())));
    }
}

void RegionStore::ensurePolling(bool resetBudget)
{
    if (m_maxPollTicks < 1 || !needsPolling())
        return;
    if (resetBudget)
        m_pollBudget = m_maxPollTicks;
    if (m_pollTask)
        return;
    if (m_pollBudget <= 0)
        m_pollBudget = m_maxPollTicks;
    m_pollTask.emplace();
    const quint64 generation = ++m_pollGeneration;
    const CancellationToken token = m_pollTask->token();
    // The loop starts on the next turn of the event loop, after the caller has finished
    // its own steps (a wake renews the budget right after its refresh started the loop).
    QMetaObject::invokeMethod(
        this, [this, generation, token] { pollLoop(generation, token); }, Qt::QueuedConnection);
}

QCoro::Task<void> RegionStore::pollLoop(quint64 generation, CancellationToken token)
{
    QPointer<RegionStore> self(this);
    const std::shared_ptr<Clock> clock = m_clock;
    try {
        for (;;) {
            if (m_pollBudget < 1) {
                setWaking({});
                setWakeStartedAt({});
                m_pendingAutoSelectID.reset();
                m_log.error(u"boot polling budget spent — wake state rolled back"_s);
                endPolling(generation);
                co_return;
            }
            --m_pollBudget;
            try {
                co_await clock->sleep(m_pollInterval, token);
            } catch (const CancellationError &) {
            }
            if (!self)
                co_return;
            if (token.isCancelled()) {
                endPolling(generation);
                co_return;
            }
            co_await refresh();
            if (!self)
                co_return;
            if (!needsPolling()) {
                endPolling(generation);
                co_return;
            }
        }
    } catch (...) {
        if (self) {
            m_log.error(u"poll loop failed: %1"_s.arg(descriptionOf(std::current_exception())));
            endPolling(generation);
        }
    }
}

void RegionStore::endPolling(quint64 generation)
{
    if (generation == m_pollGeneration)
        m_pollTask.reset();
}

void RegionStore::setLoading(bool loading)
{
    updateProperty(m_isLoading, loading, this, &RegionStore::isLoadingChanged);
}

void RegionStore::setLastError(std::exception_ptr error)
{
    m_lastError = std::move(error);
    Q_EMIT lastErrorChanged();
}

void RegionStore::setWaking(QSet<QString> waking)
{
    updateProperty(m_waking, std::move(waking), this, &RegionStore::wakingChanged);
}

void RegionStore::setWakeStartedAt(RegionWakeStamps stamps)
{
    updateProperty(m_wakeStartedAt, std::move(stamps), this, &RegionStore::wakeStartedAtChanged);
}

} // namespace kovra
