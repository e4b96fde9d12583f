#pragma once

#include "account/MeOut.h"

#include <QPointer>

#include <qcoro/qcorotask.h>

namespace kovra {

class APIClient;

// GET /me with the session token, raced across the base URLs. Throws APIError, or
// CancellationError once the client is gone.
class MeService {
public:
    explicit MeService(APIClient *api);

    QCoro::Task<MeOut> fetchMe();

private:
    QPointer<APIClient> m_api;
};

} // namespace kovra
