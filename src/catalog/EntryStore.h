#pragma once

#include "catalog/EntriesService.h"
#include "catalog/Entry.h"
#include "catalog/SelectionOwners.h"
#include "core/AppGroupStore.h"
#include "core/CatalogCache.h"
#include "platform/Log.h"

#include <QList>
#include <QObject>

#include <qcoro/qcorotask.h>

#include <memory>

namespace kovra {

// The entry catalogue: the first hops among which the user picks.
//
// Starts with the cached list (else the built-in one), keeps it through every failed
// or empty refresh (failures are only logged), and after each refresh that brought a
// non-empty list caches it and hands it to the selection owner, which moves a
// selected entry that has vanished to the default one.
// Lives on the GUI thread.
class EntryStore : public QObject {
    Q_OBJECT
    Q_PROPERTY(QList<kovra::Entry> entries READ entries WRITE setEntries NOTIFY entriesChanged)
public:
    // Loads the list from the app group's entry cache; starts no refresh.
    EntryStore(std::shared_ptr<EntriesProviding> service, AppGroupStore appGroup, QObject *parent = nullptr);

    const QList<Entry> &entries() const { return m_entries; }
    // Notifies only when the list differs.
    void setEntries(const QList<Entry> &entries);
    // True while a refresh runs (not observable).
    bool isLoading() const { return m_isLoading; }

    // Held weakly; the owner must be a QObject implementing EntrySelectionOwner.
    template<class Owner>
    void setSelectionOwner(Owner *owner)
    {
        m_owner.set(owner);
    }
    void clearSelectionOwner() { m_owner.reset(); }
    EntrySelectionOwner *selectionOwner() const { return m_owner.get(); }

    // Fetches the catalogue. A refresh asked for while one runs returns at once. Never throws.
    QCoro::Task<void> refresh();

Q_SIGNALS:
    void entriesChanged();

private:
    QList<Entry> m_entries;
    bool m_isLoading = false;
    WeakSelectionOwner<EntrySelectionOwner> m_owner;
    std::shared_ptr<EntriesProviding> m_service;
    AppGroupStore m_appGroup;
    Logger m_log{QStringLiteral("Entries")};
    CatalogCache<Entry> m_cache;
};

} // namespace kovra
