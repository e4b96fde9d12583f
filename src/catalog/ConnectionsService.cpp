#include "catalog/ConnectionsService.h"

#include "core/APIClient.h"

namespace kovra {

ConnectionsService::ConnectionsService(APIClient *api) : m_api(api) {}

QCoro::Task<QList<Connection>> ConnectionsService::fetchConnections()
{
    const QPointer<APIClient> api = m_api;
    if (!api)
        throw CancellationError();
    QList<Connection> connections = co_await api->send<QList<Connection>>(Endpoint::connections());
    co_return connections;
}

} // namespace kovra
