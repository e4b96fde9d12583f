#include "AccountScreens.h"

#include "PaymentWaitingModel.h"

namespace kovra::ui {

AccountScreens::AccountScreens(AccountServices services) : m_services(std::move(services)) {}

PaymentWaitingModel *AccountScreens::paymentWaiting(PaymentWaitingState *state, QObject *parent) const
{
    return new PaymentWaitingModel(state, m_services.subscriptionStore, m_services.clock, parent);
}

} // namespace kovra::ui
