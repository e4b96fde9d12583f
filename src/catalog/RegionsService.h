#pragma once

#include "catalog/Region.h"
#include "catalog/RegionWakeAck.h"

#include <QList>
#include <QPointer>
#include <QString>

#include <qcoro/qcorotask.h>

namespace kovra {

class APIClient;

// Where the region store gets the catalogue and wakes on-demand regions.
class RegionsProviding {
public:
    virtual ~RegionsProviding() = default;
    // The catalogue; throws on any failure.
    virtual QCoro::Task<QList<Region>> fetchRegions() = 0;
    // Asks the service to start a sleeping region; throws on any failure.
    virtual QCoro::Task<RegionWakeAck> wakeRegion(QString id) = 0;
};

// The service API behind the region store: GET /regions (raced across the base URLs)
// and POST /regions/<id>/wake (base URLs one after another). Throws APIError, the
// endpoint's error for an id that cannot be sent, or CancellationError once the
// client is gone.
class RegionsService final : public RegionsProviding {
public:
    explicit RegionsService(APIClient *api);

    QCoro::Task<QList<Region>> fetchRegions() override;
    QCoro::Task<RegionWakeAck> wakeRegion(QString id) override;

private:
    QPointer<APIClient> m_api;
};

} // namespace kovra
