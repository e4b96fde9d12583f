#pragma once

// The menu-bar model over the home window's rig: the route through РФ-1 to
// Амстердам chosen, the coordinator over a fake engine, a manual clock at
// 2025-03-05 12:00 UTC.

#include "ui/main/MenuBarExtra.h"
#include "ui/main/MenuBarModel.h"

#include "HomeFakes.h"

namespace kovra::test {

// 1.5 of 10 GiB used, ten days left.
const QByteArray kMenuBarSubscription = R"({"subscription_url":"https://sub.example/u1","status":"active",)"
                                        R"("data_limit_bytes":10737418240,"used_bytes":1610612736,)"
                                        R"("expire_unix":1742040000})";

struct MenuBarRig : HomeRig {
    MenuBarRig() : HomeRig(QStringLiteral("ru-1"), QStringLiteral("nl")) {}

    void giveSubscription()
    {
        api.service.script(FakeService::anyHost, "GET", QStringLiteral("/me/subscription"),
                           {FakeReply::json(200, kMenuBarSubscription)});
        test::await(subscriptions.refresh());
        QVERIFY(subscriptions.hasLatest());
    }
    ui::MenuBarSources sources() { return {&coordinator, &engine, &subscriptions, &connections}; }

    ui::MenuBarModel menu{&coordinator, &engine, &subscriptions, &connections, clock};
};

} // namespace kovra::test
