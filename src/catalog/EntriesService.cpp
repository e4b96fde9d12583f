#include "catalog/EntriesService.h"

#include "core/APIClient.h"

namespace kovra {

EntriesService::EntriesService(APIClient *api) : m_api(api) {}

QCoro::Task<QList<Entry>> EntriesService::fetchEntries()
{
    const QPointer<APIClient> api = m_api;
    if (!api)
        throw CancellationError();
    QList<Entry> entries = co_await api->send<QList<Entry>>(Endpoint::entries());
    co_return entries;
}

} // namespace kovra
