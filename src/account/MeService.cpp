#include "account/MeService.h"

#include "core/APIClient.h"

namespace kovra {

MeService::MeService(APIClient *api) : m_api(api) {}

QCoro::Task<MeOut> MeService::fetchMe(CancellationToken token)
{
    const QPointer<APIClient> api = m_api;
    if (!api)
        throw CancellationError();
    MeOut me = co_await api->send<MeOut>(Endpoint::me(), token);
    co_return me;
}

} // namespace kovra
