#include "account/PaymentsService.h"

#include "core/APIClient.h"

namespace kovra {

PaymentsService::PaymentsService(APIClient *api) : m_api(api) {}

QCoro::Task<Tariffs> PaymentsService::fetchTariffs(CancellationToken token)
{
    const QPointer<APIClient> api = m_api;
    if (!api)
        throw CancellationError();
    Tariffs tariffs = co_await api->send<Tariffs>(Endpoint::tariffs(), token);
    co_return tariffs;
}

QCoro::Task<InvoiceOut> PaymentsService::createStarsInvoice(QString planID)
{
    Endpoint endpoint = Endpoint::starsInvoice(std::move(planID));
    return createInvoice(std::move(endpoint));
}

QCoro::Task<InvoiceOut> PaymentsService::createCryptoInvoice(QString planID)
{
    Endpoint endpoint = Endpoint::cryptoInvoice(std::move(planID));
    return createInvoice(std::move(endpoint));
}

QCoro::Task<InvoiceOut> PaymentsService::createInvoice(Endpoint endpoint)
{
    const QPointer<APIClient> api = m_api;
    if (!api)
        throw CancellationError();
    InvoiceOut invoice = co_await api->send<InvoiceOut>(endpoint);
    co_return invoice;
}

} // namespace kovra
