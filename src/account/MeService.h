#pragma once

#include "account/MeOut.h"
#include "platform/Cancellation.h"

#include <QPointer>

#include <qcoro/qcorotask.h>

namespace kovra {

class APIClient;

// GET /me with the session token, raced across the base URLs. Throws APIError, or
// CancellationError once the client is gone or the token fires (the request is
// aborted).
class MeService {
public:
    explicit MeService(APIClient *api);

    QCoro::Task<MeOut> fetchMe(CancellationToken token = {});

private:
    QPointer<APIClient> m_api;
};

} // namespace kovra
