#include "ui/main/HomeNotice.h"
#include "ui/main/HomeSubscriptionCard.h"

#include "HomeFakes.h"

#include <QSignalSpy>
#include <QTest>

using namespace kovra;
using namespace kovra::ui;
using namespace kovra::test;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

using V = ConnectivityVerdict;
using Ext = FakeExtensionManager::Callback;

namespace {

const QString kOpenHint = u"Открыть выбор подключения"_s;
const QString kLockedHint = u"Подключение нельзя менять во время перехода VPN"_s;
const QString kApproval = u"Разрешите Kovra S Tunnel: Системные настройки → Основные → Объекты входа и расширения"_s;
const QString kFailed = u"Не удалось установить сетевое расширение. Переустановите Kovra S из образа в «Программы»."_s;
const QString kReboot = u"Расширение установится после перезагрузки Mac. Перезагрузите и подключитесь снова."_s;
const QString kStartError = u"Не удалось подключиться. Попробуйте ещё раз."_s;
const QStringList kRefreshPaths = {u"/me/subscription"_s, u"/connections"_s, u"/me"_s, u"/regions"_s, u"/entries"_s};

// The extension manager's answer that puts the activator in a state; -1: none asked.
enum ExtState { unknown = -2, activating = -1 };

QStringList pathsOf(const QList<RecordedRequest> &requests)
{
    QStringList paths;
    for (const RecordedRequest &r : requests)
        if (!paths.contains(r.path))
            paths << r.path;
    return paths;
}

} // namespace

class HomeModelTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The status text's colour follows the dot's state, the glow the verdict alone; the
    // row is locked (no picker, the locked hint) during transitions and optimistic ones.
    void presentation_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<V>("verdict");
        QTest::addColumn<bool>("resolving");
        QTest::addColumn<int>("optimistic");
        QTest::addColumn<QString>("role");
        QTest::addColumn<bool>("glow");
        QTest::addColumn<bool>("canChange");
        QTest::newRow("disconnected") << 1 << V::idle << false << -1 << u"textSecondary"_s << false << true;
        QTest::newRow("disconnected, verdict online") << 1 << V::online << false << -1 << u"textSecondary"_s << true
                                                      << true;
        QTest::newRow("connecting") << 2 << V::idle << false << -1 << u"warning"_s << false << false;
        QTest::newRow("reasserting, online") << 4 << V::online << false << -1 << u"warning"_s << true << false;
        QTest::newRow("disconnecting") << 5 << V::idle << false << -1 << u"warning"_s << false << false;
        QTest::newRow("connected, checking") << 3 << V::checking << false << -1 << u"success"_s << false << true;
        QTest::newRow("connected, online") << 3 << V::online << false << -1 << u"success"_s << true << true;
        QTest::newRow("connected, degraded") << 3 << V::degraded << false << -1 << u"danger"_s << false << true;
        QTest::newRow("degraded but resolving") << 3 << V::degraded << true << -1 << u"success"_s << false << true;
        QTest::newRow("optimistic disconnecting") << 3 << V::online << false << 5 << u"warning"_s << true << false;
    }
    void presentation()
    {
        QFETCH(int, status);
        QFETCH(V, verdict);
        QFETCH(bool, resolving);
        QFETCH(int, optimistic);
        QFETCH(bool, canChange);
        HomeRig rig;
        rig.attachAt(status);
        rig.engine.set(verdict, resolving);
        if (optimistic >= 0)
            rig.coordinator.hero()->setOptimistic(VPNStatus(optimistic));
        const MacHomeModel &m = rig.model;
        QTEST(m.statusTextColorRole(), "role");
        QTEST(m.statusGlow(), "glow");
        QCOMPARE(m.statusText(), rig.coordinator.statusText());
        QCOMPARE(m.buttonVisual(), rig.coordinator.buttonVisual());
        QCOMPARE(m.canChangeConnection(), canChange);
        QCOMPARE(m.connectionTooltip(), canChange ? kOpenHint : kLockedHint);
        rig.model.openConnectionPicker();
        QCOMPARE(m.showConnectionPicker(), canChange);
    }

    // The row shows the connection in use, or "Авто" without one (also spoken).
    void connectionRow()
    {
        HomeRig relay(u"ru-1"_s, u"nl"_s);
        QVERIFY(relay.model.hasConnection());
        QCOMPARE(relay.model.connectionFlags(), u"🇷🇺 → 🇳🇱"_s);
        QCOMPARE(relay.model.connectionAccessibilityValue(), u"РФ-1 → Амстердам"_s);
        QSignalSpy changes(&relay.model, &MacHomeModel::connectionRowChanged);
        test::await(relay.connections.selectConnection(Connection::fallback().first(), false, false));
        QCOMPARE(relay.model.connectionLabel(), u"Авто"_s);
        QCOMPARE(relay.model.connectionFlags(), u"⚡"_s);
        QCOMPARE(changes.size(), 1);

        MacHomeModel none(nullptr, nullptr, nullptr, {}, nullptr);
        QVERIFY(!none.hasConnection() && !none.canChangeConnection());
        QCOMPARE(none.connectionAccessibilityValue(), u"Авто"_s);
    }

    // At most one banner: the start error over any extension state, else the
    // extension's message (a titled action only while approval is awaited), else none.
    // When the start error clears, a pending extension message shows again.
    void banner_data()
    {
        QTest::addColumn<bool>("startError");
        QTest::addColumn<int>("extension");
        QTest::addColumn<int>("tone");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("actionTitle");
        QTest::addColumn<bool>("hasAction");
        const QString open = u"Открыть настройки"_s;
        const int none = -1, danger = NoticeTone::Danger, warning = NoticeTone::Warning;
        QTest::newRow("start error over approval") << true << int(Ext::NeedsApproval) << danger << kStartError
                                                   << QString() << false;
        QTest::newRow("start error alone") << true << int(unknown) << danger << kStartError << QString() << false;
        QTest::newRow("approval") << false << int(Ext::NeedsApproval) << warning << kApproval << open << true;
        QTest::newRow("failed") << false << int(Ext::Failed) << warning << kFailed << QString() << true;
        QTest::newRow("reboot") << false << int(Ext::WillCompleteAfterReboot) << warning << kReboot << QString()
                                << true;
        QTest::newRow("unknown") << false << int(unknown) << none << QString() << QString() << false;
        QTest::newRow("activating") << false << int(activating) << none << QString() << QString() << false;
        QTest::newRow("activated") << false << int(Ext::Completed) << none << QString() << QString() << false;
    }
    void banner()
    {
        QFETCH(bool, startError);
        QFETCH(int, extension);
        QFETCH(int, tone);
        QFETCH(QString, text);
        QFETCH(QString, actionTitle);
        QFETCH(bool, hasAction);
        HomeRig rig;
        HomeNotice *notice = rig.model.notice();
        std::optional<QCoro::Task<SystemExtensionState>> activation;
        if (extension != unknown) {
            activation.emplace(rig.activator.activate());
            QTRY_COMPARE(rig.extensions.submitCount(), 1);
            if (extension >= 0)
                rig.extensions.deliver({Ext::Kind(extension), u"no provider"_s});
            QTRY_VERIFY(rig.activator.state().kind() != SystemExtensionState::Activating || extension < 0);
        }
        if (startError)
            rig.coordinator.hero()->showStartError(kStartError);
        QCOMPARE(notice->isVisible(), tone >= 0);
        if (tone >= 0)
            QCOMPARE(int(notice->tone()), tone);
        QCOMPARE(notice->text(), text);
        QCOMPARE(notice->actionTitle(), actionTitle);
        QCOMPARE(notice->hasAction(), hasAction);

        notice->performAction();
        QTRY_COMPARE(rig.links->askedTexts(), hasAction ? QStringList{HomeNotice::kSettingsLink} : QStringList());

        if (startError) {
            QSignalSpy changes(notice, &HomeNotice::changed);
            rig.clock->advance(6s);
            QCOMPARE(changes.size(), 1);
            QCOMPARE(notice->text(), extension == Ext::NeedsApproval ? kApproval : QString());
        }
    }

    // A change to connecting, reasserting or disconnecting closes the picker; the
    // others leave it open.
    void pickerClosesInTransitions_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<bool>("staysOpen");
        QTest::newRow("connecting") << 1 << 2 << false;
        QTest::newRow("reasserting") << 3 << 4 << false;
        QTest::newRow("disconnecting") << 3 << 5 << false;
        QTest::newRow("connected") << 1 << 3 << true;
        QTest::newRow("disconnected") << 3 << 1 << true;
        QTest::newRow("invalid") << 1 << 0 << true;
    }
    void pickerClosesInTransitions()
    {
        QFETCH(int, from);
        QFETCH(int, to);
        HomeRig rig;
        rig.attachAt(from);
        rig.model.setShowConnectionPicker(true);
        rig.provider.setStatus(to);
        QTRY_COMPARE(int(rig.tunnel.status()), to);
        QTEST(rig.model.showConnectionPicker(), "staysOpen");
    }

    // Coming on screen while the tunnel is connecting or reasserting arms the start
    // watchdog (it reports a hung start later); otherwise nothing is armed.
    void watchdogOnAppearance_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("armed");
        QTest::newRow("disconnected") << 1 << false;
        QTest::newRow("connecting") << 2 << true;
        QTest::newRow("connected") << 3 << false;
        QTest::newRow("reasserting") << 4 << true;
    }
    void watchdogOnAppearance()
    {
        QFETCH(int, status);
        QFETCH(bool, armed);
        HomeRig rig;
        rig.attachAt(status);
        const int before = rig.clock->pendingTimers();
        rig.model.setOnScreen(true);
        QCOMPARE(rig.clock->pendingTimers(), before + (armed ? 1 : 0));
        if (armed) {
            rig.clock->advance(42s);
            QCOMPARE(rig.coordinator.hero()->startErrorText(), u"Подключение зависло. Попробуйте ещё раз."_s);
        }
    }

    // Attach, then the seed (so the engine hears the attached status), then the five
    // refreshes at once; the activation only once all five have ended. Leaving the
    // screen ends the task: the refreshes run out and nothing follows. Every showing
    // runs it again.
    void appearanceTask()
    {
        for (const bool leaves : {false, true}) {
            HomeRig rig;
            for (const QString &path : kRefreshPaths)
                rig.api.service.script(FakeService::anyHost, "GET", path, {FakeReply::silent()});
            rig.provider.setStatus(3);
            rig.model.setOnScreen(true);
            QTRY_COMPARE(rig.engine.told, QList<int>{3});
            QTRY_VERIFY(pathsOf(rig.api.service.requests()).size() == kRefreshPaths.size());
            QCOMPARE(rig.extensions.submitCount(), 0);
            if (leaves)
                rig.model.setOnScreen(false);
            // Every refresh ends (the held answers are dropped; later ones are 404).
            rig.api.service.reset();
            QTRY_VERIFY(!rig.subscriptions.isLoading() && !rig.me.isLoading() && !rig.connections.isLoading()
                        && !rig.regions.isLoading() && !rig.entries.isLoading());
            if (!leaves) {
                QTRY_COMPARE(rig.extensions.submitCount(), 1);
                continue;
            }
            QCoreApplication::processEvents();
            QCOMPARE(rig.extensions.submitCount(), 0);
            rig.model.setOnScreen(true);
            QTRY_COMPARE(rig.extensions.submitCount(), 1);
            QCOMPARE(rig.engine.told, QList<int>{3});
        }
    }

    // The card's inputs follow the stores: Telegram counts as linked until the user
    // record says otherwise; the retry refreshes the subscription.
    void subscriptionCardInputs()
    {
        HomeRig rig;
        HomeSubscriptionCard *card = rig.model.subscriptionCard();
        QVERIFY(card->hasTelegram() && !card->hasSubscription() && !card->isLoading());
        QCOMPARE(card->minHeight(), 60.0);

        rig.api.service.script(FakeService::anyHost, "GET", u"/me/subscription"_s, {FakeReply::json(500)});
        card->retry();
        QVERIFY(card->isLoading());
        QTRY_VERIFY(!card->isLoading() && card->hasError() && !card->errorText().isEmpty());

        rig.api.service.script(FakeService::anyHost, "GET", u"/me/subscription"_s, {FakeReply::json(200, kActiveSubscription)});
        rig.api.service.script(FakeService::anyHost, "GET", u"/me"_s,
                               {FakeReply::json(200, R"({"has_telegram":false,"has_apple":false,"created_at":null})")});
        QSignalSpy telegram(card, &HomeSubscriptionCard::hasTelegramChanged);
        card->retry();
        test::await(rig.me.refresh());
        QTRY_VERIFY(card->hasSubscription() && !card->hasError());
        QCOMPARE(card->subscription()->subscriptionUrl, u"https://sub.example/u1"_s);
        QVERIFY(!card->hasTelegram());
        QCOMPARE(telegram.size(), 1);
    }
};

QTEST_MAIN(HomeModelTest)
#include "itst_home_model.moc"
