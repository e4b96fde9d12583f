#pragma once

#include "catalog/Connection.h"

#include <QList>
#include <QPointer>

#include <qcoro/qcorotask.h>

namespace kovra {

class APIClient;

// Where the connection store gets the route catalogue.
class ConnectionsProviding {
public:
    virtual ~ConnectionsProviding() = default;
    // The catalogue in the service's order; throws on any failure.
    virtual QCoro::Task<QList<Connection>> fetchConnections() = 0;
};

// The service API behind the connection store: GET /connections with the session
// token, raced across the base URLs. Throws APIError, or CancellationError once the
// client is gone.
class ConnectionsService final : public ConnectionsProviding {
public:
    explicit ConnectionsService(APIClient *api);

    QCoro::Task<QList<Connection>> fetchConnections() override;

private:
    QPointer<APIClient> m_api;
};

} // namespace kovra
