#pragma once

#include "catalog/Entry.h"
#include "catalog/Region.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <qcoro/qcorotask.h>

#include <concepts>
#include <optional>

namespace kovra {

// The owner of the selected exit region (the connection store), as the region store
// reaches it.
class RegionSelectionOwner {
public:
    virtual ~RegionSelectionOwner() = default;
    // Applies a region choice; true when it was accepted.
    virtual QCoro::Task<bool> selectRegion(Region region, bool automatic, bool closeConnections,
                                           bool suppressReconnect) = 0;
    // Re-validates the selected region against a refreshed, non-empty catalogue.
    virtual void reconcileRegionSelection(const QList<Region> &regions) = 0;
};

// The owner of the selected entry (the connection store), as the entry store reaches it.
class EntrySelectionOwner {
public:
    virtual ~EntrySelectionOwner() = default;
    // Re-validates the selected entry against a refreshed, non-empty catalogue.
    virtual void reconcileEntrySelection(const QList<Entry> &entries) = 0;
};

// The region id a selection moves to when a refreshed catalogue no longer lists the
// selected one ("auto"); none while it is listed.
std::optional<QString> regionSelectionFallback(const QString &selectedID, const QList<Region> &regions);
// Likewise for an entry: the catalogue's default entry (Entry::defaultID).
std::optional<QString> entrySelectionFallback(const QString &selectedID, const QList<Entry> &entries);

// A selection owner held weakly: the owner is a QObject that implements the interface,
// and reads as absent once it is destroyed.
template<class Interface>
class WeakSelectionOwner {
public:
    template<class Owner>
        requires std::derived_from<Owner, QObject> && std::derived_from<Owner, Interface>
    void set(Owner *owner)
    {
        m_object = owner;
        m_owner = owner;
    }
    void reset()
    {
        m_object = nullptr;
        m_owner = nullptr;
    }
    Interface *get() const { return m_object ? m_owner : nullptr; }

private:
    QPointer<QObject> m_object;
    Interface *m_owner = nullptr;
};

} // namespace kovra
