#include "catalog/RegionsService.h"

#include "core/APIClient.h"

namespace kovra {

RegionsService::RegionsService(APIClient *api) : m_api(api) {}

QCoro::Task<QList<Region>> RegionsService::fetchRegions()
{
    const QPointer<APIClient> api = m_api;
    if (!api)
        throw CancellationError();
    QList<Region> regions = co_await api->send<QList<Region>>(Endpoint::regions());
    co_return regions;
}

QCoro::Task<RegionWakeAck> RegionsService::wakeRegion(QString id)
{
    const QPointer<APIClient> api = m_api;
    if (!api)
        throw CancellationError();
    RegionWakeAck ack = co_await api->send<RegionWakeAck>(Endpoint::wakeRegion(id));
    co_return ack;
}

} // namespace kovra
