#pragma once

#include "catalog/Connection.h"
#include "catalog/ConnectionsService.h"
#include "catalog/Entry.h"
#include "catalog/Region.h"
#include "catalog/SelectionOwners.h"
#include "core/AppGroupStore.h"
#include "core/CatalogCache.h"
#include "platform/Log.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <qcoro/qcorotask.h>

#include <exception>
#include <memory>
#include <optional>

namespace kovra {

class EntryStore;
class RegionStore;
class SubscriptionStore;
class TunnelController;

// The route catalogue and the user's selection: the exit region and the entry.
//
// The catalogue starts from its cache in the app group (else the built-in list) and
// keeps its last good list through every failed or empty refresh. The selection lives
// in selectedRegionID/selectedEntryID and in the app group, where the tunnel provider
// reads it ("selectedRegionID", "selectedRegionKeywords", "kovra.preferred_entry");
// every change sets the field first, then the keys. A choice goes to the running
// tunnel as a live region switch; when that does not take effect on a user's choice,
// when the region is an on-demand one, or when the entry changes, the tunnel is
// reloaded with the stored subscription URL.
//
// It is the selection owner of the region and entry stores, which must outlive it
// (a store that is gone reads as an empty list). The tunnel controller and the
// subscription store are held weakly; without a controller a selection is only stored.
// Lives on the GUI thread.
class ConnectionStore : public QObject, public RegionSelectionOwner, public EntrySelectionOwner {
    Q_OBJECT
    Q_PROPERTY(QList<kovra::Connection> connections READ connections NOTIFY connectionsChanged)
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)
    Q_PROPERTY(QString lastErrorText READ lastErrorText NOTIFY lastErrorChanged)
    Q_PROPERTY(QString selectedRegionID READ selectedRegionID NOTIFY selectedRegionIDChanged)
    Q_PROPERTY(QString selectedEntryID READ selectedEntryID NOTIFY selectedEntryIDChanged)
    Q_PROPERTY(std::optional<kovra::Connection> resolvedExitConnection READ resolvedExitConnection
                   NOTIFY resolvedExitConnectionChanged)
    Q_PROPERTY(std::optional<kovra::Connection> currentConnection READ currentConnection
                   NOTIFY currentConnectionChanged)
public:
    // Loads the catalogue from the cache, restores the selection (repairing a stored
    // entry the entry store does not list, and filling in missing region keywords) and
    // becomes the selection owner of both stores. Starts no refresh.
    ConnectionStore(std::shared_ptr<ConnectionsProviding> service, AppGroupStore appGroup, RegionStore *regionStore,
                    EntryStore *entryStore, TunnelController *tunnelController, SubscriptionStore *subscriptionStore,
                    QObject *parent = nullptr);
    ~ConnectionStore() override;

    // The catalogue in the service's order.
    const QList<Connection> &connections() const { return m_connections; }
    bool isLoading() const { return m_isLoading; }
    // The failure of the last refresh (not set by an empty reply); a successful one clears it.
    std::exception_ptr lastError() const { return m_lastError; }
    QString lastErrorText() const;
    // "auto" is the automatic exit.
    const QString &selectedRegionID() const { return m_selectedRegionID; }
    const QString &selectedEntryID() const { return m_selectedEntryID; }
    // The route the running tunnel was last found to use; only refreshResolvedExit() sets it.
    const std::optional<Connection> &resolvedExitConnection() const { return m_resolvedExitConnection; }

    // The route in use: for a selected on-demand region the direct route to it through
    // the selected entry; else the listed route composed of the selected entry and
    // region; else the first default route; else the first route; none for an empty
    // catalogue. Notifies when the selection, the catalogue or the region list change it.
    std::optional<Connection> currentConnection() const;

    // Fetches the catalogue; a refresh asked for while one runs returns at once without
    // waiting for it. Never throws.
    QCoro::Task<void> refresh();
    // Asks the running tunnel for its outbound and finds the route (or the region)
    // whose keywords it carries. Unchanged when there is no controller, the question
    // fails or the tunnel names no outbound. Never throws.
    QCoro::Task<void> refreshResolvedExit();

    // Applies a route: its exit region, then its entry when that must change (always
    // for a user's choice, only when the route does not serve the selected entry for an
    // automatic one). False when the route or its region is refused or a reconnect that
    // ran failed. Never throws.
    QCoro::Task<bool> selectConnection(Connection connection, bool automatic, bool closeConnections);
    // Applies an exit region and switches the running tunnel to it. False when the region
    // is refused or a reconnect that ran failed; an automatic choice, or one with
    // `suppressReconnect`, is true whether or not the switch took effect. Never throws.
    QCoro::Task<bool> selectRegion(Region region, bool automatic, bool closeConnections,
                                   bool suppressReconnect) override;
    // Applies an entry and reconnects. The reconnect's result; true without a controller.
    QCoro::Task<bool> selectEntry(Entry entry);
    // Refreshes the subscription and reloads the tunnel with the stored subscription URL
    // (which does nothing unless the tunnel is up). True when the reload ended without
    // failure; false without a controller or URL, or when it failed or was superseded.
    QCoro::Task<bool> scheduleSelectionReconnect();

    // A selected region or entry that a refreshed catalogue no longer lists falls back
    // to "auto" (with no keywords) or to the catalogue's default entry; nothing is
    // written while it is listed.
    void reconcileRegionSelection(const QList<Region> &regions) override;
    void reconcileEntrySelection(const QList<Entry> &entries) override;

Q_SIGNALS:
    void connectionsChanged();
    void isLoadingChanged();
    void lastErrorChanged();
    void selectedRegionIDChanged();
    void selectedEntryIDChanged();
    void resolvedExitConnectionChanged();
    void currentConnectionChanged();

private:
    QList<Region> regions() const;
    QList<Entry> entries() const;
    void restoreSelection();
    void setConnections(const QList<Connection> &connections);
    void setLoading(bool loading);
    // Notifies on every assignment.
    void setLastError(std::exception_ptr error);
    void setSelectedRegionID(const QString &id);
    void setSelectedEntryID(const QString &id);
    void setResolvedExitConnection(const std::optional<Connection> &connection);
    void updateCurrentConnection();
    // Sets the region and stores its id and keywords in one write.
    void storeRegion(const QString &id, const QStringList &keywords);
    void storeEntry(const QString &id);
    // A user's choice hands the connection back from the connectivity engine.
    void clearAutoManaged(bool automatic);
    std::optional<Connection> resolveOutbound(const QString &tag) const;

    QList<Connection> m_connections;
    bool m_isLoading = false;
    std::exception_ptr m_lastError;
    QString m_selectedRegionID;
    QString m_selectedEntryID;
    std::optional<Connection> m_resolvedExitConnection;
    // The last value announced by currentConnectionChanged.
    std::optional<Connection> m_currentConnection;
    std::shared_ptr<ConnectionsProviding> m_service;
    AppGroupStore m_appGroup;
    QPointer<RegionStore> m_regionStore;
    QPointer<EntryStore> m_entryStore;
    QPointer<TunnelController> m_tunnelController;
    QPointer<SubscriptionStore> m_subscriptionStore;
    Logger m_log{QStringLiteral("Connections")};
    CatalogCache<Connection> m_cache;
};

} // namespace kovra
