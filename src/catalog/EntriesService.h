#pragma once

#include "catalog/Entry.h"

#include <QList>
#include <QPointer>

#include <qcoro/qcorotask.h>

namespace kovra {

class APIClient;

// Where the entry store gets the catalogue.
class EntriesProviding {
public:
    virtual ~EntriesProviding() = default;
    // The catalogue; throws on any failure.
    virtual QCoro::Task<QList<Entry>> fetchEntries() = 0;
};

// The service API behind the entry store: GET /entries, raced across the base URLs.
// Throws APIError, or CancellationError once the client is gone.
class EntriesService final : public EntriesProviding {
public:
    explicit EntriesService(APIClient *api);

    QCoro::Task<QList<Entry>> fetchEntries() override;

private:
    QPointer<APIClient> m_api;
};

} // namespace kovra
