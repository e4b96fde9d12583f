// Applying a choice of ConnectionStore: a route, an exit region or an entry, the
// reconnect that may follow, and the fall-backs after a catalogue refresh.
#include "account/SubscriptionStore.h"
#include "catalog/ConnectionStore.h"
#include "catalog/EntryStore.h"
#include "catalog/RegionStore.h"
#include "catalog/RouteParts.h"
#include "platform/Error.h"
#include "tunnel/TunnelController.h"

#include <algorithm>

namespace kovra {

using namespace Qt::StringLiterals;

void ConnectionStore::clearAutoManaged(bool automatic)
{
    if (!automatic)
        m_appGroup.defaults()->set(AppGroupKey::backgroundReliabilityAutoManaged, false);
}

void ConnectionStore::storeRegion(const QString &id, const QStringList &keywords)
{
    setSelectedRegionID(id);
    // One write, so the tunnel provider never reads the new id with the old keywords.
    m_appGroup.defaults()->setObjects({{AppGroupKey::selectedRegionID, QVariant(id)},
                                       {AppGroupKey::selectedRegionKeywords, QVariant(keywords)}});
}

void ConnectionStore::storeEntry(const QString &id)
{
    setSelectedEntryID(id);
    m_appGroup.defaults()->set(AppGroupKey::preferredEntry, id);
}

QCoro::Task<bool> ConnectionStore::selectConnection(Connection connection, bool automatic, bool closeConnections)
{
    clearAutoManaged(automatic);
    if (!isSelectable(connection.status)) {
        m_log.info(u"connection select refused (not selectable): %1"_s.arg(connection.id));
        co_return false;
    }
    QPointer<ConnectionStore> self(this);

    const QList<Region> regionList = regions();
    const auto listedRegion = std::find_if(regionList.begin(), regionList.end(),
                                           [&connection](const Region &r) { return r.id == connection.regionID; });
    const Region region = listedRegion != regionList.end() ? *listedRegion : exitRegionOf(connection);

    // An automatic move keeps the entry when the route serves it (a direct Hysteria2 or
    // AmneziaWG route for "auto"); the entry's reconnect then also carries the region.
    const bool entryMustChange = connection.entry != m_selectedEntryID
        && (!automatic || !connection.matches(m_selectedEntryID));
    const bool accepted = co_await selectRegion(region, automatic, closeConnections, entryMustChange);
    if (!self)
        co_return false;
    if (!accepted) {
        m_log.info(u"connection select refused (exit rejected): %1"_s.arg(connection.id));
        co_return false;
    }
    if (!entryMustChange)
        co_return true;

    const QList<Entry> entryList = entries();
    const auto listedEntry = std::find_if(entryList.begin(), entryList.end(),
                                          [&connection](const Entry &e) { return e.id == connection.entry; });
    const Entry entry = listedEntry != entryList.end() ? *listedEntry : entryOf(connection);
    const bool reconnected = co_await selectEntry(entry);
    co_return reconnected;
}

QCoro::Task<bool> ConnectionStore::selectRegion(Region region, bool automatic, bool closeConnections,
                                                bool suppressReconnect)
{
    clearAutoManaged(automatic);
    if (!isSelectable(region.status)) {
        m_log.info(u"select refused: region=%1 status=%2"_s.arg(region.id, rawValue(region.status)));
        co_return false;
    }
    QPointer<ConnectionStore> self(this);

    // A user's other choice outranks the auto-select of a region still waking.
    if (m_regionStore && m_regionStore->pendingAutoSelectID() && *m_regionStore->pendingAutoSelectID() != region.id)
        m_regionStore->clearPendingAutoSelect();

    const QStringList keywords = region.isAuto ? QStringList() : region.matchKeywords;
    storeRegion(region.id, keywords);
    m_log.info(u"select region=%1 keywords=%2"_s.arg(region.id).arg(keywords.size()));

    QPointer<TunnelController> controller = m_tunnelController;
    if (!controller)
        co_return true;
    const bool applied = co_await controller->selectRegion(keywords, closeConnections);
    if (!self)
        co_return true;
    // The caller changes the entry next (its reconnect carries the region), or the
    // connectivity engine moves on by itself: the choice stands either way.
    if (automatic || suppressReconnect)
        co_return true;

    // Only a tunnel that is up or on its way up needs the choice carried to it.
    controller = m_tunnelController;
    if (!controller || !vpn::isUp(controller->liveStatus()))
        co_return true;
    // An on-demand region is reconnected even when the switch took effect.
    if (!region.isEphemeral && applied)
        co_return true;
    const bool reconnected = co_await scheduleSelectionReconnect();
    co_return reconnected;
}

QCoro::Task<bool> ConnectionStore::selectEntry(Entry entry)
{
    storeEntry(entry.id);
    m_log.info(u"select entry=%1"_s.arg(entry.id));
    if (!m_tunnelController)
        co_return true;
    // The reload itself does nothing unless the tunnel is up.
    const bool reconnected = co_await scheduleSelectionReconnect();
    co_return reconnected;
}

QCoro::Task<bool> ConnectionStore::scheduleSelectionReconnect()
{
    const QPointer<TunnelController> controller = m_tunnelController;
    if (!controller)
        co_return false;
    QPointer<ConnectionStore> self(this);
    const Logger log = m_log;

    // A refresh that fails leaves the stored URL as it was; the reconnect goes on.
    const QPointer<SubscriptionStore> subscriptions = m_subscriptionStore;
    if (subscriptions) {
        co_await subscriptions->refresh();
        if (!self)
            co_return false;
    }

    const QString subscriptionURL =
        m_appGroup.defaults()->string(AppGroupKey::subscriptionURL).value_or(QString());
    if (subscriptionURL.isEmpty()) {
        log.error(u"select: no subscription URL to reconnect with"_s);
        co_return false;
    }
    if (!controller)
        co_return false;

    std::exception_ptr failure;
    try {
        co_await controller->reload(subscriptionURL);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!failure)
        co_return true;
    if (isCancellation(failure))
        log.info(u"selection reconnect superseded (cancelled)"_s);
    else
        log.error(u"selection reconnect failed: %1"_s.arg(descriptionOf(failure)));
    co_return false;
}

void ConnectionStore::reconcileRegionSelection(const QList<Region> &regions)
{
    if (const std::optional<QString> fallback = regionSelectionFallback(m_selectedRegionID, regions))
        storeRegion(*fallback, {});
}

void ConnectionStore::reconcileEntrySelection(const QList<Entry> &entries)
{
    if (const std::optional<QString> fallback = entrySelectionFallback(m_selectedEntryID, entries))
        storeEntry(*fallback);
}

} // namespace kovra
