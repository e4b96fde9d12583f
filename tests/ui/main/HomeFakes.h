#pragma once

// The home window's model over real collaborators: the tunnel controller on the fake
// provider (its activation through the scripted extension manager), the connect
// coordinator over a fake engine, and the five stores over an API client of the fake
// service. Timers run on a manual clock.

#include "account/MeService.h"
#include "account/MeStore.h"
#include "account/SubscriptionService.h"
#include "account/SubscriptionStore.h"
#include "ui/main/ConnectCoordinator.h"
#include "catalog/ConnectionStore.h"
#include "catalog/ConnectionsService.h"
#include "catalog/EntriesService.h"
#include "catalog/EntryStore.h"
#include "catalog/RegionStore.h"
#include "catalog/RegionsService.h"
#include "connectivity/ConnectivityEngine.h"
#include "core/AppGroupStore.h"
#include "tunnel/ProviderConfiguration.h"
#include "tunnel/SystemExtensionActivator.h"
#include "tunnel/TunnelController.h"
#include "ui/account/AccountScreens.h"
#include "ui/main/HomeModel.h"

#include "support/Await.h"
#include "support/FakeExtensionManager.h"
#include "support/FakeProvider.h"
#include "support/FakeServiceClient.h"
#include "support/ManualClock.h"
#include "support/RecordingUrlOpener.h"
#include "support/TestHome.h"

#include <QTest>

#include <functional>

namespace kovra::test {

struct FakeEngine final : ConnectivityEngine {
    ConnectivityVerdict v = ConnectivityVerdict::idle;
    bool resolving = false;
    QList<int> told;
    ConnectivityVerdict verdict() const override { return v; }
    bool isResolving() const override { return resolving; }
    void handleTunnelStatus(VPNStatus status) override { told << int(status); }
    void set(ConnectivityVerdict verdict, bool isResolving = false)
    {
        v = verdict;
        resolving = isResolving;
        Q_EMIT verdictChanged();
        Q_EMIT isResolvingChanged();
    }
};

// The app group with a route through `entry` to `region` chosen (none when empty).
inline std::shared_ptr<Defaults> defaultsSelecting(const QString &entry, const QString &region)
{
    auto defaults = Defaults::inMemory();
    if (!entry.isEmpty()) {
        defaults->set(AppGroupKey::preferredEntry, entry);
        defaults->set(AppGroupKey::selectedRegionID, region);
    }
    return defaults;
}

const QByteArray kActiveSubscription = R"({"subscription_url":"https://sub.example/u1","status":"active",)"
                                       R"("data_limit_bytes":0,"used_bytes":0,"expire_unix":null})";

struct HomeRig {
    // The model's options, made once the rest of the rig stands (its clock and link
    // opener are set to the rig's).
    using OptionsFor = std::function<ui::HomeModel::Options(HomeRig &)>;

    // `entry`, `region`: the route chosen in the app group.
    explicit HomeRig(const QString &entry = {}, const QString &region = {}, const OptionsFor &options = {})
        : defaults(defaultsSelecting(entry, region)),
          model(&coordinator, &engine, &tunnel, {&subscriptions, &me, &connections, &regions, &entries}, &screens,
                withRig(options ? options(*this) : ui::HomeModel::Options()))
    {
        test::saveConfiguration(preferences, kPacketTunnelBundleID);
    }
    ui::HomeModel::Options withRig(ui::HomeModel::Options options)
    {
        options.clock = clock;
        options.linkOpener = links;
        return options;
    }
    // The provider at `status` and the controller attached to it.
    void attachAt(int status)
    {
        provider.setStatus(status);
        test::await(tunnel.attach());
        QTRY_COMPARE(int(tunnel.status()), status);
    }
    AppGroupStore appGroup() const { return AppGroupStore(defaults, nullptr); }

    TestHome home{TestHome::PathsOnly};
    FakeProvider provider;
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    std::shared_ptr<RecordingUrlOpener> links = std::make_shared<RecordingUrlOpener>();
    TunnelPreferences preferences{tunnelOptions(home.paths(), provider.socketPath(), nullptr, std::chrono::seconds(6),
                                                std::chrono::milliseconds(20))};
    FakeExtensionManager extensions;
    SystemExtensionActivator activator{extensions};
    TunnelController tunnel{{.preferences = &preferences, .activator = &activator, .appGroupFactory = [] {
                                 return std::make_unique<AppGroupStore>(Defaults::inMemory(), nullptr);
                             }}};
    FakeEngine engine;
    FakeServiceClient api{QStringLiteral("token")};
    std::shared_ptr<Defaults> defaults;
    SubscriptionStore subscriptions{std::make_shared<SubscriptionService>(&api.client), appGroup(), nullptr,
                                    SubscriptionStore::Options{clock}};
    MeStore me{std::make_shared<MeService>(&api.client), nullptr};
    RegionStore regions{std::make_shared<RegionsService>(&api.client), appGroup(),
                        RegionStore::Options{std::chrono::seconds(5), 2, clock}};
    EntryStore entries{std::make_shared<EntriesService>(&api.client), appGroup()};
    ConnectionStore connections{std::make_shared<ConnectionsService>(&api.client), appGroup(), &regions, &entries,
                                &tunnel, &subscriptions};
    ConnectCoordinator coordinator{&tunnel, &engine, &subscriptions, nullptr,
                                      ConnectCoordinator::Options{{.clock = clock}}};
    ui::AccountScreens screens{{.subscriptionStore = &subscriptions, .meStore = &me, .clock = clock}};
    ui::HomeModel model;
};

} // namespace kovra::test
