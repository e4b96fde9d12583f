#include "AccountScreens.h"

#include "BuyModel.h"
#include "PaymentWaitingModel.h"
#include "SettingsModel.h"
#include "SupportChecklistModel.h"

namespace kovra::ui {

AccountScreens::AccountScreens(AccountServices services) : m_services(std::move(services)) {}

BuyModel *AccountScreens::buy(QObject *parent) const
{
    return new BuyModel(m_services, parent);
}

PaymentWaitingModel *AccountScreens::paymentWaiting(PaymentWaitingState *state, QObject *parent) const
{
    return new PaymentWaitingModel(state, m_services.subscriptionStore, m_services.clock, parent);
}

PaymentMethodSheet *AccountScreens::paymentMethod(TariffEntry tariff, QObject *parent) const
{
    return new PaymentMethodSheet(std::move(tariff),
                                  {m_services.paymentsService, m_services.subscriptionStore, m_services.authState,
                                   m_services.linkOpener, m_services.paymentPoll, m_services.clock},
                                  parent);
}

SheetHost *AccountScreens::presentPaymentMethod(QWindow *parent, TariffEntry tariff, QQmlEngine *engine) const
{
    return PaymentMethodSheet::present(parent, paymentMethod(std::move(tariff)), engine);
}

SettingsModel *AccountScreens::settings(QObject *parent) const
{
    return new SettingsModel(m_services, SettingsAbout::ofThisBuild(), parent);
}

SupportChecklistModel *AccountScreens::supportChecklist(QObject *parent) const
{
    return new SupportChecklistModel(m_services.linkOpener, m_services.links, parent);
}

} // namespace kovra::ui
