#include "AccountScreens.h"

#include "BuyModel.h"
#include "PaymentWaitingModel.h"
#include "SettingsModel.h"
#include "SubscriptionDetailModel.h"
#include "SubscriptionStripModel.h"
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

SubscriptionDetailModel *AccountScreens::subscriptionDetail(std::optional<SubscriptionOut> subscription,
                                                            QObject *parent) const
{
    const AccountScreens screens = *this;
    return new SubscriptionDetailModel(
        std::move(subscription), m_services,
        [screens] { return screens.buy(); }, parent);
}

SubscriptionStripModel *AccountScreens::subscriptionStrip(QObject *parent) const
{
    auto *strip = new SubscriptionStripModel(*this, parent);
    strip->bindToStores(m_services.subscriptionStore, m_services.meStore);
    return strip;
}

AccountPageModel *AccountScreens::callToActionPage(CallToActionDestination::Value destination, QObject *parent) const
{
    if (destination == CallToActionDestination::Settings)
        return settings(parent);
    return buy(parent);
}

void AccountScreens::linkTo(AccountPageLink &link, const SubscriptionCallToAction &action) const
{
    const AccountScreens screens = *this;
    const CallToActionDestination::Value destination = action.destination;
    link.set(action.title, action.pageFile(), [screens, destination] { return screens.callToActionPage(destination); });
}

} // namespace kovra::ui
