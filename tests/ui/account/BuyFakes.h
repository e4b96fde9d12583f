#pragma once

#include "account/AuthState.h"
#include "account/MeStore.h"
#include "account/PaymentsService.h"
#include "account/SubscriptionService.h"
#include "account/SubscriptionStore.h"
#include "core/APIClient.h"
#include "ui/account/AccountScreens.h"

#include "support/Await.h"
#include "support/FakeService.h"
#include "support/FixedTokenProvider.h"
#include "support/MemoryTokenStore.h"
#include "support/RecordingUrlOpener.h"

#include <QRegularExpression>

namespace kovra::test {

// "id:months/rub[/quota] ..." as plans (90 Stars, 1.5 USDT, 100 GB unless given).
inline Tariffs tariffsOf(const QString &spec)
{
    Tariffs map;
    for (const QString &plan : spec.split(u' ', Qt::SkipEmptyParts)) {
        const QStringList p = plan.split(QRegularExpression(QStringLiteral("[:/]")));
        map.insert(p[0], Tariff{p[1].toLongLong(), p[2].toLongLong(), 90, 1.5, p.value(3, QStringLiteral("100")).toLongLong()});
    }
    return map;
}

// The tariff screen's collaborators over the fake service: a signed-in session whose
// end empties the user store, the user store, the payments and subscriptions. The
// client's host race is slowed down so that every request goes to the first host and
// a scripted delay never brings in another host.
struct BuyRig {
    FakeService service;
    std::unique_ptr<HttpSession> session = APIClient::makeDefaultSession();
    APIClient client{{session.get(), session.get()}, service.baseURLs(),
                     std::make_shared<FixedTokenProvider>(QStringLiteral("tok-buy-3d9a")),
                     AppGroupStore(Defaults::inMemory(), nullptr), APIClient::Options{std::chrono::seconds(30)}};
    std::shared_ptr<MemoryTokenStore> tokens = std::make_shared<MemoryTokenStore>(QStringLiteral("tok-kept-80e1"));
    AuthState auth{std::make_shared<AuthService>(&client, tokens), tokens, AppGroupStore(Defaults::inMemory(), nullptr),
                   std::make_shared<RecordingUrlOpener>()};
    MeStore me{std::make_shared<MeService>(&client), &auth};
    PaymentsService payments{&client};
    SubscriptionStore subscriptions{std::make_shared<SubscriptionService>(&client),
                                    AppGroupStore(Defaults::inMemory(), nullptr), &auth};
    int sessionEnds = 0;

    BuyRig()
    {
        auth.setOnSessionInvalidated([this] {
            ++sessionEnds;
            me.reset();
        });
        await(auth.restore());
    }

    ui::AccountServices services()
    {
        ui::AccountServices s;
        s.authState = &auth, s.meStore = &me, s.paymentsService = &payments, s.subscriptionStore = &subscriptions;
        s.linkOpener = std::make_shared<RecordingUrlOpener>();
        return s;
    }

    // The service's reply listing tariffsOf(spec).
    static QByteArray plans(const QString &spec)
    {
        QStringList fields;
        const Tariffs map = tariffsOf(spec);
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            fields << QStringLiteral(R"("%1":{"months":%2,"rub":%3,"stars":90,"usdt":1.5,"monthly_quota_gb":%4})")
                          .arg(it.key())
                          .arg(it->months)
                          .arg(it->rub)
                          .arg(it->monthlyQuotaGb);
        return "{" + fields.join(u',').toUtf8() + "}";
    }
    void scriptTariffs(QList<FakeReply> replies)
    {
        service.script(FakeService::anyHost, "GET", QStringLiteral("/payment/tariffs"), std::move(replies));
    }
    void scriptMe(QList<FakeReply> replies)
    {
        service.script(FakeService::anyHost, "GET", QStringLiteral("/me"), std::move(replies));
    }
    int requestsTo(const QString &path, bool closedEarly = false) const
    {
        const QList<RecordedRequest> all = service.requests();
        return int(std::count_if(all.cbegin(), all.cend(), [&](const RecordedRequest &r) {
            return r.path == path && (!closedEarly || r.closedEarly);
        }));
    }
    static FakeReply record(bool hasTelegram)
    {
        return FakeReply::json(200, hasTelegram ? R"({"has_telegram":true,"has_apple":false})"
                                                : R"({"has_telegram":false,"has_apple":false})");
    }
};

} // namespace kovra::test
