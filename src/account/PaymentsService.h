#pragma once

#include "account/Tariff.h"
#include "core/AccountReplies.h"
#include "core/Endpoint.h"
#include "platform/Cancellation.h"

#include <QPointer>

#include <qcoro/qcorotask.h>

namespace kovra {

class APIClient;

// The plans and the payment invoices. Neither logs nor retries nor ends the session:
// every failure goes to the caller (APIError, or CancellationError once the client is
// gone).
class PaymentsService {
public:
    explicit PaymentsService(APIClient *api);

    // GET /payment/tariffs with the session token, raced across the base URLs. A plan
    // that does not decode fails the whole list. `token` aborts the request
    // (CancellationError).
    QCoro::Task<Tariffs> fetchTariffs(CancellationToken token = {});
    // POST /payment/stars/invoice with "plan_id", one base URL after another.
    QCoro::Task<InvoiceOut> createStarsInvoice(QString planID);
    // POST /payment/cryptobot/invoice with "plan_id", one base URL after another.
    QCoro::Task<InvoiceOut> createCryptoInvoice(QString planID);

private:
    QCoro::Task<InvoiceOut> createInvoice(Endpoint endpoint);

    QPointer<APIClient> m_api;
};

} // namespace kovra
