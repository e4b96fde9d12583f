#include "ui/account/SubscriptionStripModel.h"

#include "account/SubscriptionService.h"
#include "account/SubscriptionStore.h"

#include <QTest>

#include "SettingsFakes.h"

using namespace kovra;
using namespace kovra::ui;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using State = SubscriptionStripState::Value;
using test::FakeReply;
using test::FakeService;

namespace {

const QString kPath = u"/me/subscription"_s;

FakeReply subscriptionReply(const char *status, std::chrono::milliseconds delay = {})
{
    return FakeReply::json(200,
                           uR"({"subscription_url":"https://sub.example/u","status":"%1","data_limit_bytes":100,)"
                           uR"("used_bytes":5,"expire_unix":100})"_s.arg(QLatin1String(status))
                               .toUtf8(),
                           delay);
}

// The card bound to a real subscription store over the fake service, recording each
// state it shows.
struct StripRig : test::SettingsRig {
    SubscriptionStore store{std::make_shared<SubscriptionService>(&api.client), AppGroupStore(defaults, nullptr),
                            &auth, {clock}};
    std::unique_ptr<SubscriptionStripModel> strip;
    QList<int> states;

    StripRig()
    {
        AccountServices s = services();
        s.subscriptionStore = &store;
        strip.reset(AccountScreens(s).subscriptionStrip());
        states << strip->state();
        QObject::connect(strip.get(), &SubscriptionStripModel::contentChanged, strip.get(), [this] {
            if (states.last() != strip->state())
                states << strip->state();
        });
    }
    bool settled() { return QTest::qWaitFor([this] { return !store.isLoading(); }, 5000); }
};

} // namespace

class SubscriptionStripBindingTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Without a subscription: the placeholder, the service's error, and after a retry
    // the loaded content. Two presses before the store reports loading send one request.
    void refreshWithoutSubscription()
    {
        StripRig rig;
        rig.service.script(FakeService::anyHost, "GET", kPath, {FakeReply::json(403, "{}", 100ms)});
        rig.strip->retry();
        rig.strip->retry();
        QVERIFY(rig.settled());
        QCOMPARE(rig.requestsTo(kPath), 1);
        QCOMPARE(rig.strip->errorText(), u"Ошибка сервера (403)."_s);
        rig.service.script(FakeService::anyHost, "GET", kPath, {subscriptionReply("active", 100ms)});
        rig.strip->retry();
        QVERIFY(rig.settled());
        QCOMPARE(rig.states, QList<int>({State::Empty, State::Loading, State::Failed, State::Loading, State::Loaded}));
    }

    // A known subscription stays on the card through a refresh and its failure. The
    // call to action counts Telegram as linked until a user record says otherwise.
    void refreshKeepsSubscription()
    {
        StripRig rig;
        rig.service.script(FakeService::anyHost, "GET", kPath, {subscriptionReply("active")});
        rig.strip->retry();
        QVERIFY(rig.settled());
        QCOMPARE(rig.strip->callToActionLink()->title(), u"Продлить подписку"_s);
        rig.loadMe(R"({"has_telegram":false,"has_apple":false})");
        QCOMPARE(rig.strip->callToActionLink()->title(), u"Привязать Telegram для оплаты"_s);
        rig.service.script(FakeService::anyHost, "GET", kPath, {FakeReply::json(403, "{}", 100ms)});
        rig.strip->retry();
        QVERIFY(rig.store.isLoading());
        QVERIFY(rig.settled());
        QVERIFY(rig.store.error());
        QCOMPARE(rig.states, QList<int>({State::Empty, State::Loading, State::Loaded}));
    }

};

QTEST_GUILESS_MAIN(SubscriptionStripBindingTest)
#include "itst_subscription_strip.moc"
