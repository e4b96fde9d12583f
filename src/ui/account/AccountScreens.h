#pragma once

#include "AccountLinks.h"
#include "AccountPageLink.h"
#include "PaymentMethodSheet.h"
#include "SubscriptionCallToAction.h"

#include "account/SubscriptionOut.h"
#include "core/AppGroupStore.h"
#include "platform/Clock.h"
#include "platform/UrlOpener.h"
#include "platform/gui/Clipboard.h"

#include <QString>
#include <QUrl>

#include <memory>
#include <optional>

namespace kovra {
class AppleAuthService;
class AuthState;
class GoogleAuthService;
class MeStore;
class PaymentsService;
class PaymentWaitingState;
class SubscriptionStore;
class TunnelController;
} // namespace kovra

namespace kovra::ui {

class BuyModel;
class PaymentWaitingModel;
class SettingsModel;
class SubscriptionDetailModel;
class SubscriptionStripModel;
class SupportChecklistModel;

// The long-lived objects the account screens work with. The app's container owns
// them; each outlives every screen (null only where a screen does without).
struct AccountServices {
    AuthState *authState = nullptr;
    TunnelController *tunnelController = nullptr;
    SubscriptionStore *subscriptionStore = nullptr;
    PaymentsService *paymentsService = nullptr;
    MeStore *meStore = nullptr;
    AppleAuthService *appleService = nullptr;
    GoogleAuthService *googleService = nullptr;
    std::optional<AppGroupStore> appGroup{};
    std::shared_ptr<UrlOpener> linkOpener{};
    std::shared_ptr<Clipboard> clipboard = Clipboard::system();
    std::shared_ptr<Clock> clock = Clock::system();
    AccountLinks links{};
    // The payment wait the payment sheet starts.
    PaymentPoll paymentPoll{};
};

// Makes the view-model of each account screen from the long-lived objects, so that a
// screen (or the window that shows it) needs only this factory. Every make function
// returns a new view-model owned by the caller (a page adopts its own, see
// AccountPageModel).
class AccountScreens {
public:
    explicit AccountScreens(AccountServices services);

    const AccountServices &services() const { return m_services; }

    // The tariff screen, pushed on the home window's stack by the subscription card and
    // its call-to-action and by the subscription detail screen; it loads the plans
    // and refreshes the user record each time it is shown.
    BuyModel *buy(QObject *parent = nullptr) const;
    // The payment sheet's waiting view over the sheet's poller and the subscription.
    PaymentWaitingModel *paymentWaiting(PaymentWaitingState *state, QObject *parent = nullptr) const;
    // The payment sheet of one plan (stars chosen, no error, no wait yet).
    PaymentMethodSheet *paymentMethod(TariffEntry tariff, QObject *parent = nullptr) const;
    // Presents a new payment sheet of `tariff` over `parent` (PaymentMethodSheet::present):
    // the presentation owns the sheet. The tariff screen clears its chosen plan on the
    // presentation's closed(), which every ending emits.
    SheetHost *presentPaymentMethod(QWindow *parent, TariffEntry tariff, QQmlEngine *engine = nullptr) const;
    // The settings screen, the root of the settings window while the session is
    // authenticated, or pushed on the home window's stack; reads the settings stored
    // in the app group now.
    SettingsModel *settings(QObject *parent = nullptr) const;
    // The support checklist, pushed above the settings screen.
    SupportChecklistModel *supportChecklist(QObject *parent = nullptr) const;
    // The subscription detail screen, pushed by the home card with a copy of its
    // subscription (or none), then following the subscription store; its buy button
    // pushes a new tariff screen.
    SubscriptionDetailModel *subscriptionDetail(std::optional<SubscriptionOut> subscription,
                                                QObject *parent = nullptr) const;
    // The home window's subscription card, fed from the subscription and user stores.
    SubscriptionStripModel *subscriptionStrip(QObject *parent = nullptr) const;
    // A new screen where the call-to-action button leads: the tariff or the settings screen.
    AccountPageModel *callToActionPage(CallToActionDestination::Value destination, QObject *parent = nullptr) const;
    // Points `link` at where `action` leads: its title, its page and a maker of a new
    // view-model for that page.
    void linkTo(AccountPageLink &link, const SubscriptionCallToAction &action) const;

private:
    AccountServices m_services;
};

} // namespace kovra::ui
