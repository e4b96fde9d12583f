#include "catalog/ConnectionStore.h"

#include "account/SubscriptionStore.h"
#include "catalog/CatalogRefresh.h"
#include "catalog/EntryStore.h"
#include "catalog/OutboundMatching.h"
#include "catalog/RegionStore.h"
#include "catalog/RouteParts.h"
#include "platform/Property.h"
#include "tunnel/TunnelController.h"

#include <algorithm>

namespace kovra {

using namespace Qt::StringLiterals;

ConnectionStore::ConnectionStore(std::shared_ptr<ConnectionsProviding> service, AppGroupStore appGroup,
                                 RegionStore *regionStore, EntryStore *entryStore, TunnelController *tunnelController,
                                 SubscriptionStore *subscriptionStore, QObject *parent)
    : QObject(parent),
      m_service(std::move(service)),
      m_appGroup(std::move(appGroup)),
      m_regionStore(regionStore),
      m_entryStore(entryStore),
      m_tunnelController(tunnelController),
      m_subscriptionStore(subscriptionStore),
      m_cache(CatalogCache<Connection>::inAppGroup(m_appGroup, AppGroupKey::connectionsCatalogJSON,
                                                   &Connection::fallback, m_log))
{
    m_connections = m_cache.load();
    restoreSelection();
    m_currentConnection = currentConnection();

    connect(this, &ConnectionStore::connectionsChanged, this, &ConnectionStore::updateCurrentConnection);
    connect(this, &ConnectionStore::selectedRegionIDChanged, this, &ConnectionStore::updateCurrentConnection);
    connect(this, &ConnectionStore::selectedEntryIDChanged, this, &ConnectionStore::updateCurrentConnection);
    if (regionStore) {
        connect(regionStore, &RegionStore::regionsChanged, this, &ConnectionStore::updateCurrentConnection);
        regionStore->setSelectionOwner(this);
    }
    if (entryStore)
        entryStore->setSelectionOwner(this);
}

ConnectionStore::~ConnectionStore() = default;

void ConnectionStore::restoreSelection()
{
    const std::shared_ptr<Defaults> &defaults = m_appGroup.defaults();
    m_selectedRegionID = defaults->string(AppGroupKey::selectedRegionID).value_or(u"auto"_s);

    const QList<Entry> entryList = entries();
    const std::optional<QString> storedEntry = defaults->string(AppGroupKey::preferredEntry);
    const bool entryListed = storedEntry && std::any_of(entryList.begin(), entryList.end(), [&](const Entry &e) {
                                 return e.id == *storedEntry;
                             });
    if (entryListed) {
        m_selectedEntryID = *storedEntry;
    } else {
        m_selectedEntryID = Entry::defaultID(entryList);
        defaults->set(AppGroupKey::preferredEntry, m_selectedEntryID);
    }

    // Stored keywords are kept as they are, even when the region's have changed since.
    if (!defaults->stringList(AppGroupKey::selectedRegionKeywords).value_or(QStringList()).isEmpty())
        return;
    const QList<Region> regionList = regions();
    const auto region = std::find_if(regionList.begin(), regionList.end(),
                                     [this](const Region &r) { return r.id == m_selectedRegionID; });
    if (region != regionList.end())
        defaults->set(AppGroupKey::selectedRegionKeywords, region->isAuto ? QStringList() : region->matchKeywords);
}

QList<Region> ConnectionStore::regions() const
{
    return m_regionStore ? m_regionStore->regions() : QList<Region>();
}

QList<Entry> ConnectionStore::entries() const
{
    return m_entryStore ? m_entryStore->entries() : QList<Entry>();
}

QString ConnectionStore::lastErrorText() const
{
    return m_lastError ? localizedDescriptionOf(m_lastError) : QString();
}

std::optional<Connection> ConnectionStore::currentConnection() const
{
    const QList<Region> regionList = regions();
    for (const Region &r : regionList) {
        if (r.id == m_selectedRegionID && r.isEphemeral)
            return routeThrough(r, m_selectedEntryID);
    }
    const QString composed = Connection::compose(m_selectedEntryID, m_selectedRegionID);
    for (const Connection &c : m_connections) {
        if (c.id == composed)
            return c;
    }
    for (const Connection &c : m_connections) {
        if (c.isDefault)
            return c;
    }
    if (m_connections.isEmpty())
        return std::nullopt;
    return m_connections.first();
}

QCoro::Task<void> ConnectionStore::refresh()
{
    if (m_isLoading)
        co_return;
    QPointer<ConnectionStore> self(this);
    setLoading(true);

    const std::shared_ptr<ConnectionsProviding> service = m_service;
    CallOutcome<QList<Connection>> fetched = co_await outcomeOf(service->fetchConnections());
    if (!self)
        co_return;

    if (fetched.error) {
        setLastError(fetched.error);
        logRefreshFailure(m_log, fetched.error);
    } else if (fetched.value->isEmpty()) {
        logEmptyCatalogue(m_log);
    } else {
        const QList<Connection> list = *fetched.value;
        setConnections(list);
        setLastError(nullptr);
        m_cache.persist(list);
        logRefreshSucceeded(m_log, list.size(), u"connections"_s);
    }
    setLoading(false);
}

QCoro::Task<void> ConnectionStore::refreshResolvedExit()
{
    const QPointer<TunnelController> controller = m_tunnelController;
    if (!controller)
        co_return;
    QPointer<ConnectionStore> self(this);
    std::optional<QString> tag;
    try {
        const TunnelStatusReport report = co_await controller->queryStatus();
        tag = report.activeOutboundTag;
    } catch (...) {
        // The tunnel could not be asked: what was resolved last stands.
        co_return;
    }
    if (!self || !tag)
        co_return;
    setResolvedExitConnection(resolveOutbound(*tag));
}

std::optional<Connection> ConnectionStore::resolveOutbound(const QString &tag) const
{
    if (std::optional<Connection> route = firstConnection(tag, m_connections))
        return route;
    const QList<Region> regionList = regions();
    for (const Region &r : regionList) {
        if (nameMatchesKeywords(tag, r.matchKeywords))
            return routeThrough(r, m_selectedEntryID);
    }
    return std::nullopt;
}

void ConnectionStore::setConnections(const QList<Connection> &connections)
{
    updateProperty(m_connections, connections, this, &ConnectionStore::connectionsChanged);
}

void ConnectionStore::setLoading(bool loading)
{
    updateProperty(m_isLoading, loading, this, &ConnectionStore::isLoadingChanged);
}

void ConnectionStore::setLastError(std::exception_ptr error)
{
    m_lastError = std::move(error);
    Q_EMIT lastErrorChanged();
}

void ConnectionStore::setSelectedRegionID(const QString &id)
{
    updateProperty(m_selectedRegionID, id, this, &ConnectionStore::selectedRegionIDChanged);
}

void ConnectionStore::setSelectedEntryID(const QString &id)
{
    updateProperty(m_selectedEntryID, id, this, &ConnectionStore::selectedEntryIDChanged);
}

void ConnectionStore::setResolvedExitConnection(const std::optional<Connection> &connection)
{
    updateProperty(m_resolvedExitConnection, connection, this, &ConnectionStore::resolvedExitConnectionChanged);
}

void ConnectionStore::updateCurrentConnection()
{
    updateProperty(m_currentConnection, currentConnection(), this, &ConnectionStore::currentConnectionChanged);
}

} // namespace kovra
