#include "account/AuthState.h"
#include "account/SubscriptionStore.h"
#include "ui/main/ConnectCoordinator.h"
#include "connectivity/ConnectivityEngine.h"
#include "tunnel/ProviderConfiguration.h"
#include "tunnel/SystemExtensionActivator.h"
#include "tunnel/TunnelController.h"

#include <QSignalSpy>
#include <QTest>

#include "support/Await.h"
#include "support/FakeExtensionManager.h"
#include "support/FakeProvider.h"
#include "support/ManualClock.h"
#include "support/MemoryTokenStore.h"
#include "support/RecordingUrlOpener.h"
#include "support/TestHome.h"

using namespace kovra;
using namespace std::chrono_literals;
using Visual = ui::ConnectButtonVisual::Value;
using Dot = ui::StatusDotState::Value;
using V = ConnectivityVerdict;
using Reply = provider::ProviderServer::Reply;

namespace {

const QString kURL = QStringLiteral("https://sub.example/u1");
enum Sub { none, inactive, active };

struct FakeEngine final : ConnectivityEngine {
    V v = V::idle;
    bool resolving = false;
    const ConnectionHeroState *hero = nullptr;
    QList<QPair<int, bool>> told; // each status, and whether an optimistic status showed then
    V verdict() const override { return v; }
    bool isResolving() const override { return resolving; }
    void handleTunnelStatus(VPNStatus status) override { told.append({int(status), hero && hero->hasOptimisticStatus()}); }
    // Announces both, changed or not.
    void set(V verdict, bool isResolving) { v = verdict; resolving = isResolving; Q_EMIT verdictChanged(); Q_EMIT isResolvingChanged(); }
};

struct FakeSubscriptions final : SubscriptionProviding {
    SubscriptionOut next;
    QCoro::Task<SubscriptionOut> fetchSubscription() override { co_return next; }
};

// The coordinator over a tunnel controller talking to the fake provider, a fake engine,
// a session and a subscription store; the optimistic state's timers and the tunnel's
// reply bound on a manual clock.
struct Rig {
    explicit Rig(SystemExtensionManager *extensions = nullptr)
        : activation(provider.socketPath()), activator(extensions ? *extensions : activation),
          tunnel({.preferences = &preferences, .activator = &activator,
                   .appGroupFactory = [] { return std::make_unique<AppGroupStore>(Defaults::inMemory(), nullptr); }}),
          auth(std::make_shared<AuthService>(nullptr, tokens), tokens, AppGroupStore(Defaults::inMemory(), nullptr),
               std::make_shared<test::RecordingUrlOpener>()),
          subscriptions(service, AppGroupStore(Defaults::inMemory(), nullptr), nullptr, {clock}),
          coordinator(std::make_unique<ConnectCoordinator>(&tunnel, &engine, &subscriptions, &auth,
                                                              ConnectCoordinator::Options{{.clock = clock}}))
    {
        engine.hero = coordinator->hero();
    }
    // The provider at `status` with a saved configuration, attached; a subscription.
    void start(int status, Sub sub, qint64 expiresIn = 86400)
    {
        provider.setStatus(status);
        test::saveConfiguration(preferences, kPacketTunnelBundleID);
        test::await(tunnel.attach());
        QTRY_COMPARE(tunnel.status(), VPNStatus(status));
        service->next = {kURL, sub == active ? "active" : "expired", 0, 0, clock->nowSeconds() + expiresIn, {}};
        if (sub != none)
            test::await(subscriptions.refresh());
    }

    test::TestHome home{test::TestHome::PathsOnly};
    test::FakeProvider provider;
    std::shared_ptr<test::ManualClock> clock = std::make_shared<test::ManualClock>();
    TunnelPreferences preferences{test::tunnelOptions(home.paths(), provider.socketPath(), clock, 6s, 20ms)};
    ProviderActivationManager activation;
    SystemExtensionActivator activator;
    TunnelController tunnel;
    FakeEngine engine;
    std::shared_ptr<test::MemoryTokenStore> tokens = std::make_shared<test::MemoryTokenStore>();
    AuthState auth;
    std::shared_ptr<FakeSubscriptions> service = std::make_shared<FakeSubscriptions>();
    SubscriptionStore subscriptions;
    std::unique_ptr<ConnectCoordinator> coordinator;
};

// name, real, optimistic (-1: none, 7: a value outside the tunnel's statuses), verdict,
// resolving, subscription; effective status, text, visual, dot, enabled, can change, what a press sends.
using PredicateRow = std::tuple<const char *, int, int, V, bool, Sub, int, const char *, Visual, Dot, bool, bool, const char *>;
const char *const kOff = "Выключено", *const kOn = "Подключаемся…", *const kDown = "Отключаемся…",
                  *const kCheck = "Проверяем соединение…", *const kBad = "Сервисы не открываются";
const PredicateRow kPredicateRows[] = {
    {"disconnected", 1, -1, V::idle, false, active, 1, kOff, Visual::Idle, Dot::Inactive, true, true, "start"},
    {"disconnected, inactive", 1, -1, V::idle, false, inactive, 1, kOff, Visual::Idle, Dot::Inactive, false, true, ""},
    {"invalid, no subscription", 0, -1, V::idle, false, none, 0, kOff, Visual::Idle, Dot::Inactive, false, true, ""},
    {"connecting, no subscription", 2, -1, V::idle, false, none, 2, kOn, Visual::Progress, Dot::Transition, true, false, "stop"},
    {"reasserting", 4, -1, V::online, false, none, 4, kOn, Visual::Progress, Dot::Transition, true, false, "stop"},
    {"disconnecting", 5, -1, V::idle, false, active, 5, kDown, Visual::Progress, Dot::Transition, false, false, ""},
    {"connected, idle", 3, -1, V::idle, false, none, 3, kCheck, Visual::ConnectedChecking, Dot::Connected, true, true, "stop"},
    {"connected, online", 3, -1, V::online, false, none, 3, "Защищено", Visual::Verified, Dot::Connected, true, true, "stop"},
    {"connected, degraded", 3, -1, V::degraded, false, none, 3, kBad, Visual::Failed, Dot::Danger, true, true, "stop"},
    {"connected, degraded, resolving", 3, -1, V::degraded, true, none, 3, kCheck, Visual::ConnectedChecking, Dot::Connected, true, true, "stop"},
    {"optimistic disconnecting", 3, 5, V::online, false, active, 5, kDown, Visual::Progress, Dot::Transition, false, false, ""},
    {"optimistic connecting", 1, 2, V::checking, false, none, 2, kOn, Visual::Progress, Dot::Transition, true, false, "stop"},
    {"optimistic connected, degraded", 1, 3, V::degraded, false, none, 3, kBad, Visual::Failed, Dot::Danger, true, false, "stop"},
    {"other value, active", 1, 7, V::online, false, active, 7, "Ошибка", Visual::Idle, Dot::Inactive, true, false, ""},
};

} // namespace

class ConnectCoordinatorTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void predicatesAndPress_data()
    {
        QTest::addColumn<int>("row");
        for (int i = 0; i < int(std::size(kPredicateRows)); ++i)
            QTest::newRow(std::get<0>(kPredicateRows[i])) << i;
    }
    void predicatesAndPress()
    {
        QFETCH(int, row);
        const auto [name, real, optimistic, verdict, resolving, sub, effective, text, visual, dot, enabled, canChange,
                    press] = kPredicateRows[row];
        Rig rig;
        rig.start(real, sub);
        rig.engine.set(verdict, resolving);
        if (optimistic >= 0)
            rig.coordinator->hero()->setOptimistic(VPNStatus(optimistic));
        ConnectCoordinator &c = *rig.coordinator;
        QCOMPARE(std::tuple(int(c.effectiveStatus()), c.statusText(), c.buttonVisual(), c.statusDotState(),
                            c.isToggleEnabled(), c.canChangeConnection()),
                 std::tuple(effective, QString::fromUtf8(text), visual, dot, enabled, canChange));

        // A press sets its optimistic status before anything reaches the provider.
        c.toggle();
        const auto shown = c.hero()->optimisticStatus();
        const QString sent = QString::fromLatin1(press);
        QCOMPARE(shown ? int(*shown) : -1, sent == u"start" ? 2 : sent == u"stop" ? 5 : optimistic);
        QVERIFY(rig.provider.requests(QStringLiteral("stop")).isEmpty());
        QVERIFY(sent.isEmpty() ? !rig.tunnel.startInFlight() : rig.provider.waitForRequests(sent));
        if (sent == u"start")
            QCOMPARE(rig.provider.requests(sent).first().object.value("options")["subscriptionURL"].toString(), kURL);
    }

    // A start that fails shows its text at once: a failed activation's, or the one for the
    // provider's refusal; one the user stops with a second press shows nothing. Both drop
    // the optimistic status and the watchdog. A provider that never answers holds the
    // start up to the reply bound only; then the watchdog reports the hang.
    void failedStarts_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("domain"); // of the refusal
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("shown");
        const QString failed = QStringLiteral("Не удалось подключиться. Попробуйте ещё раз.");
        QTest::newRow("activation fails") << "activation" << "" << 0 << failed;
        QTest::newRow("stopped while activating") << "activation, stop" << "" << 0 << "";
        QTest::newRow("refused: configuration disabled")
            << "refused" << "VPNErrorDomain" << 2 << "VPN-конфигурация Kovra выключена. Подключитесь снова — приложение включит её.";
        QTest::newRow("refused: another VPN code") << "refused" << "VPNErrorDomain" << 3 << failed;
        QTest::newRow("refused: unknown domain") << "refused" << "OtherDomain" << 2 << failed;
        QTest::newRow("never answered") << "silent" << "" << 0 << "Подключение зависло. Попробуйте ещё раз.";
        QTest::newRow("stopped while unanswered") << "silent, stop" << "" << 0 << "";
    }
    void failedStarts()
    {
        QFETCH(QString, how);
        QFETCH(QString, domain);
        QFETCH(int, code);
        QFETCH(QString, shown);
        test::FakeExtensionManager extensions;
        const bool activation = how.startsWith(u"activation");
        Rig rig(activation ? &extensions : nullptr);
        rig.start(1, active);
        rig.provider.setStartReply(how == u"refused" ? Reply::failure({domain, code, QStringLiteral("no")})
                                                     : Reply::silence());
        ConnectionHeroState &hero = *rig.coordinator->hero();
        const auto pressAgain = [&] {
            rig.coordinator->toggle();
            QVERIFY(rig.provider.waitForRequests(QStringLiteral("stop")));
        };
        rig.coordinator->toggle();
        if (activation) {
            QTRY_COMPARE(extensions.submitCount(), 1);
            if (how.endsWith(u"stop"))
                pressAgain();
            extensions.deliver({how.endsWith(u"stop") ? test::FakeExtensionManager::Callback::Completed
                                                      : test::FakeExtensionManager::Callback::Failed});
        } else {
            QVERIFY(rig.provider.waitForRequests(QStringLiteral("start")));
        }
        if (how == u"silent") { // the reply bound is 6 s
            rig.clock->advance(6s - 1ms);
            QVERIFY(rig.tunnel.startInFlight());
            rig.clock->advance(1ms);
            QTRY_VERIFY(!rig.tunnel.startInFlight());
            QVERIFY(hero.hasOptimisticStatus() && !hero.hasStartError());
            rig.clock->advance(36s);
        } else if (how == u"silent, stop") {
            pressAgain();
            QTRY_VERIFY(!rig.tunnel.startInFlight()); // before the bound
            rig.clock->advance(6s);
        }
        QTRY_VERIFY(!rig.tunnel.startInFlight() && !hero.hasOptimisticStatus());
        QCOMPARE(hero.startErrorText(), shown);
        // Left: the subscription's expiry, and the error's display when one is shown.
        QCOMPARE(rig.clock->pendingTimers(), shown.isEmpty() ? 1 : 2);
        QCOMPARE(rig.provider.requests(QStringLiteral("start")).size(), activation ? 0 : 1);
    }

    // Every real change reaches the engine before the optimistic state; the engine is
    // seeded once, and not after a real change; a coordinator that is gone routes nothing.
    // Each change of the session status resets the optimistic state on the next turn.
    void routingSeedAndSession()
    {
        Rig rig;
        rig.coordinator->seedConnectivityIfNeeded();
        rig.coordinator->seedConnectivityIfNeeded();
        QCOMPARE(rig.engine.told, (QList<QPair<int, bool>>{{0, false}}));
        ConnectionHeroState &hero = *rig.coordinator->hero();
        for (const auto &status : {AuthState::Status::authenticated(), AuthState::Status::anonymous()}) {
            hero.setOptimistic(VPNStatus::Connecting);
            hero.showStartError("x");
            rig.auth.setStatus(status);
            QVERIFY(hero.hasOptimisticStatus() && hero.hasStartError());
            QTRY_VERIFY(!hero.hasOptimisticStatus() && !hero.hasStartError() && rig.clock->pendingTimers() == 0);
        }

        Rig changed;
        changed.start(1, active);
        changed.coordinator->seedConnectivityIfNeeded();
        changed.coordinator->toggle();
        QTRY_COMPARE(changed.tunnel.status(), VPNStatus::Connected);
        QCOMPARE(changed.engine.told, (QList<QPair<int, bool>>{{1, false}, {2, true}, {3, false}}));
        changed.coordinator.reset();
        changed.provider.setStatus(1);
        QTRY_COMPARE(changed.tunnel.status(), VPNStatus::Disconnected);
        QCOMPARE(changed.engine.told.size(), 3);
    }

    // Each published value notifies only when it changes itself; an expiring
    // subscription disables the control when it expires.
    void notifications()
    {
        Rig rig;
        rig.start(1, active, 60);
        std::vector<std::unique_ptr<QSignalSpy>> spies;
        for (const char *name : {"effectiveStatus", "isToggleEnabled", "canChangeConnection", "statusDotState", "statusText", "buttonVisual"})
            spies.push_back(std::make_unique<QSignalSpy>(rig.coordinator.get(), (QByteArray("2") + name + "Changed()").constData()));
        const auto counts = [&] {
            QString n;
            for (const auto &spy : spies)
                n += QString::number(spy->count());
            return n;
        };
        rig.clock->advance(59s);
        QVERIFY(rig.coordinator->isToggleEnabled());
        rig.clock->advance(1s);
        QCOMPARE(counts(), "010000");
        QVERIFY(!rig.coordinator->isToggleEnabled());
        rig.provider.setStatus(3);
        QTRY_COMPARE(counts(), "120111");
        rig.engine.set(V::checking, false);
        QCOMPARE(counts(), "120111");
        rig.engine.set(V::online, false);
        QCOMPARE(counts(), "120122");
        rig.engine.set(V::degraded, true);
        QCOMPARE(counts(), "120133");
    }
};

QTEST_GUILESS_MAIN(ConnectCoordinatorTest)
#include "itst_connect_coordinator.moc"
