#include "catalog/EntryStore.h"

#include "catalog/CatalogRefresh.h"
#include "platform/Property.h"

#include <QPointer>

namespace kovra {

using namespace Qt::StringLiterals;

EntryStore::EntryStore(std::shared_ptr<EntriesProviding> service, AppGroupStore appGroup, QObject *parent)
    : QObject(parent),
      m_service(std::move(service)),
      m_appGroup(std::move(appGroup)),
      m_cache(CatalogCache<Entry>::inAppGroup(m_appGroup, AppGroupKey::entryCatalogJSON, &Entry::fallback, m_log))
{
    m_entries = m_cache.load();
}

void EntryStore::setEntries(const QList<Entry> &entries)
{
    updateProperty(m_entries, entries, this, &EntryStore::entriesChanged);
}

QCoro::Task<void> EntryStore::refresh()
{
    if (m_isLoading)
        co_return;
    QPointer<EntryStore> self(this);
    m_isLoading = true;

    const std::shared_ptr<EntriesProviding> service = m_service;
    CallOutcome<QList<Entry>> fetched = co_await outcomeOf(service->fetchEntries());
    if (!self)
        co_return;

    if (fetched.error) {
        logRefreshFailure(m_log, fetched.error);
    } else if (fetched.value->isEmpty()) {
        logEmptyCatalogue(m_log);
    } else {
        const QList<Entry> list = *fetched.value;
        setEntries(list);
        m_cache.persist(list);
        // The selection is valid again before anything else runs.
        if (EntrySelectionOwner *owner = selectionOwner())
            owner->reconcileEntrySelection(list);
        logRefreshSucceeded(m_log, list.size(), u"entries"_s);
    }
    m_isLoading = false;
}

} // namespace kovra
