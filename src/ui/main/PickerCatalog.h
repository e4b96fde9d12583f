#pragma once

#include "catalog/Connection.h"
#include "catalog/Region.h"
#include "catalog/RegionStore.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>

#include <qcoro/qcorotask.h>

#include <optional>

namespace kovra {

class ConnectionStore;
class EntryStore;

namespace ui {

// What the picker shows of the catalogue stores at one moment.
struct PickerCatalogState {
    QList<Connection> connections;
    QList<Region> regions;
    bool connectionsLoading = false;
    bool regionsLoading = false;
    // The last refresh of that catalogue failed (the list shown is the saved one).
    bool connectionsFailed = false;
    bool regionsFailed = false;
    // The id of the route in use; none when there is none.
    std::optional<QString> currentConnectionID;
    QString selectedRegionID;
    QSet<QString> waking;
    RegionWakeStamps wakeStartedAt;
};

// What the picker reads from and asks of the connection, region and entry stores.
// changed() follows every change of the state. The operations never throw.
class PickerCatalog : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual PickerCatalogState state() const = 0;

    virtual QCoro::Task<void> refreshConnections() = 0;
    virtual QCoro::Task<void> refreshRegions() = 0;
    virtual QCoro::Task<void> refreshEntries() = 0;
    // Whether the store accepted the choice (a user's: nothing automatic, no
    // connections closed, the reconnect not suppressed).
    virtual QCoro::Task<bool> selectConnection(Connection connection) = 0;
    virtual QCoro::Task<bool> selectRegion(Region region) = 0;
    virtual QCoro::Task<void> wake(Region region) = 0;

Q_SIGNALS:
    void changed();
};

// The picker's catalogue over the three stores, held weakly: a store that is gone
// reads as an empty, idle one, and asking it anything does nothing (a choice is then
// refused).
class StorePickerCatalog final : public PickerCatalog {
    Q_OBJECT
public:
    StorePickerCatalog(ConnectionStore *store, RegionStore *regionStore, EntryStore *entryStore,
                       QObject *parent = nullptr);

    PickerCatalogState state() const override;

    QCoro::Task<void> refreshConnections() override;
    QCoro::Task<void> refreshRegions() override;
    QCoro::Task<void> refreshEntries() override;
    QCoro::Task<bool> selectConnection(Connection connection) override;
    QCoro::Task<bool> selectRegion(Region region) override;
    QCoro::Task<void> wake(Region region) override;

private:
    QPointer<ConnectionStore> m_store;
    QPointer<RegionStore> m_regionStore;
    QPointer<EntryStore> m_entryStore;
};

} // namespace ui
} // namespace kovra
