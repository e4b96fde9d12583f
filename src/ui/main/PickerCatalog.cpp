#include "ui/main/PickerCatalog.h"

#include "catalog/ConnectionStore.h"
#include "catalog/EntryStore.h"

namespace kovra::ui {

StorePickerCatalog::StorePickerCatalog(ConnectionStore *store, RegionStore *regionStore, EntryStore *entryStore,
                                       QObject *parent)
    : PickerCatalog(parent), m_store(store), m_regionStore(regionStore), m_entryStore(entryStore)
{
    if (store) {
        for (const auto signal : {&ConnectionStore::connectionsChanged, &ConnectionStore::isLoadingChanged,
                                  &ConnectionStore::lastErrorChanged, &ConnectionStore::selectedRegionIDChanged,
                                  &ConnectionStore::currentConnectionChanged})
            connect(store, signal, this, &PickerCatalog::changed);
        // Read again once the store is gone (it cannot be read while it is destroyed).
        connect(store, &QObject::destroyed, this, &PickerCatalog::changed, Qt::QueuedConnection);
    }
    if (regionStore) {
        for (const auto signal : {&RegionStore::regionsChanged, &RegionStore::isLoadingChanged,
                                  &RegionStore::lastErrorChanged, &RegionStore::wakingChanged,
                                  &RegionStore::wakeStartedAtChanged})
            connect(regionStore, signal, this, &PickerCatalog::changed);
        connect(regionStore, &QObject::destroyed, this, &PickerCatalog::changed, Qt::QueuedConnection);
    }
}

PickerCatalogState StorePickerCatalog::state() const
{
    PickerCatalogState s;
    if (const ConnectionStore *store = m_store.data()) {
        s.connections = store->connections();
        s.connectionsLoading = store->isLoading();
        s.connectionsFailed = bool(store->lastError());
        if (const std::optional<Connection> current = store->currentConnection())
            s.currentConnectionID = current->id;
        s.selectedRegionID = store->selectedRegionID();
    }
    if (const RegionStore *regionStore = m_regionStore.data()) {
        s.regions = regionStore->regions();
        s.regionsLoading = regionStore->isLoading();
        s.regionsFailed = bool(regionStore->lastError());
        s.waking = regionStore->waking();
        s.wakeStartedAt = regionStore->wakeStartedAt();
    }
    return s;
}

QCoro::Task<void> StorePickerCatalog::refreshConnections()
{
    const QPointer<ConnectionStore> store = m_store;
    if (store)
        co_await store->refresh();
}

QCoro::Task<void> StorePickerCatalog::refreshRegions()
{
    const QPointer<RegionStore> store = m_regionStore;
    if (store)
        co_await store->refresh();
}

QCoro::Task<void> StorePickerCatalog::refreshEntries()
{
    const QPointer<EntryStore> store = m_entryStore;
    if (store)
        co_await store->refresh();
}

QCoro::Task<bool> StorePickerCatalog::selectConnection(Connection connection)
{
    const QPointer<ConnectionStore> store = m_store;
    if (!store)
        co_return false;
    const bool accepted = co_await store->selectConnection(connection, false, false);
    co_return accepted;
}

QCoro::Task<bool> StorePickerCatalog::selectRegion(Region region)
{
    const QPointer<ConnectionStore> store = m_store;
    if (!store)
        co_return false;
    const bool accepted = co_await store->selectRegion(region, false, false, false);
    co_return accepted;
}

QCoro::Task<void> StorePickerCatalog::wake(Region region)
{
    const QPointer<RegionStore> store = m_regionStore;
    if (store)
        co_await store->wake(region);
}

} // namespace kovra::ui
