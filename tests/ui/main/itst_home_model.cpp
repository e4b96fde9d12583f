#include "ui/main/HomeNotice.h"
#include "ui/account/SubscriptionStripModel.h"

#include "HomeFakes.h"

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
const QString kApproval = u"Разрешите запуск службы туннеля Kovra S и подключитесь снова."_s;
const QString kFailed = u"Служба туннеля не отвечает. Проверьте, что она запущена, и попробуйте снова."_s;
const QString kReboot = u"Служба туннеля заработает после перезагрузки компьютера. Перезагрузите его и подключитесь снова."_s;
const QString kStartError = u"Не удалось подключиться. Попробуйте ещё раз."_s;
const QStringList kRefreshPaths = {u"/me/subscription"_s, u"/connections"_s, u"/me"_s, u"/regions"_s, u"/entries"_s};

// name, status, verdict, resolving, optimistic status (-1: none); role, glow, can change.
using PresentationRow = std::tuple<const char *, int, V, bool, int, const char *, bool, bool>;
const PresentationRow kPresentationRows[] = {
    {"disconnected", 1, V::idle, false, -1, "textSecondary", false, true},
    {"disconnected, verdict online", 1, V::online, false, -1, "textSecondary", true, true},
    {"connecting", 2, V::idle, false, -1, "warning", false, false},
    {"connected, checking", 3, V::checking, false, -1, "success", false, true},
    {"connected, online", 3, V::online, false, -1, "success", true, true},
    {"connected, degraded", 3, V::degraded, false, -1, "danger", false, true},
    {"optimistic disconnecting", 3, V::online, false, 5, "warning", true, false},
};

// What the extension manager answers (unknown: no activation; activating: no answer).
enum ExtState { unknown = -2, activating = -1 };
const int kWarning = NoticeTone::Warning, kNone = -1;
// name, start error, extension; tone (-1: none), text, action title, has an action.
using BannerRow = std::tuple<const char *, bool, int, int, QString, QString, bool>;
const BannerRow kBannerRows[] = {
    {"start error over approval", true, Ext::NeedsApproval, NoticeTone::Danger, kStartError, {}, false},
    {"approval", false, Ext::NeedsApproval, kWarning, kApproval, u"Открыть настройки"_s, true},
    {"failed", false, Ext::Failed, kWarning, kFailed, {}, true},
    {"reboot", false, Ext::WillCompleteAfterReboot, kWarning, kReboot, {}, true},
    {"unknown", false, unknown, kNone, {}, {}, false},
    {"activating", false, activating, kNone, {}, {}, false},
    {"activated", false, Ext::Completed, kNone, {}, {}, false},
};

} // namespace

class HomeModelTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The status text's colour follows the dot's state, the glow the verdict alone; the
    // row is locked (no picker, the locked hint) during transitions and optimistic ones.
    void presentation_data()
    {
        QTest::addColumn<int>("row");
        for (int i = 0; i < int(std::size(kPresentationRows)); ++i)
            QTest::newRow(std::get<0>(kPresentationRows[i])) << i;
    }
    void presentation()
    {
        QFETCH(int, row);
        const auto [name, status, verdict, resolving, optimistic, role, glow, canChange] = kPresentationRows[row];
        HomeRig rig;
        rig.attachAt(status);
        rig.engine.set(verdict, resolving);
        if (optimistic >= 0)
            rig.coordinator.hero()->setOptimistic(VPNStatus(optimistic));
        const HomeModel &m = rig.model;
        QCOMPARE(std::tuple(m.statusTextColorRole(), m.statusGlow(), m.canChangeConnection(), m.connectionTooltip()),
                 std::tuple(QString::fromLatin1(role), glow, canChange, canChange ? kOpenHint : kLockedHint));
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
        test::await(relay.connections.selectConnection(Connection::fallback().first(), false, false));
        QCOMPARE(relay.model.connectionLabel(), u"Авто"_s);
        QCOMPARE(relay.model.connectionFlags(), u"⚡"_s);

        HomeModel none(nullptr, nullptr, nullptr, {}, nullptr);
        QVERIFY(!none.hasConnection() && !none.canChangeConnection());
        QCOMPARE(none.connectionAccessibilityValue(), u"Авто"_s);
    }

    // At most one banner: the start error over any extension state, else the
    // extension's message (a titled action only while approval is awaited), else none.
    // When the start error clears, a pending extension message shows again.
    void banner_data()
    {
        QTest::addColumn<int>("row");
        for (int i = 0; i < int(std::size(kBannerRows)); ++i)
            QTest::newRow(std::get<0>(kBannerRows[i])) << i;
    }
    void banner()
    {
        QFETCH(int, row);
        const auto &[name, startError, extension, tone, text, actionTitle, hasAction] = kBannerRows[row];
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
        QCOMPARE(std::tuple(notice->isVisible(), int(notice->tone()), notice->text(), notice->actionTitle(), notice->hasAction()),
                 std::tuple(tone >= 0, tone >= 0 ? tone : int(NoticeTone::Info), text, actionTitle, hasAction));

        notice->performAction();
        QTRY_COMPARE(rig.links->askedTexts(), hasAction ? QStringList{HomeNotice::kSettingsLink} : QStringList());

        if (startError) {
            rig.clock->advance(6s);
            QCOMPARE(notice->text(), extension == Ext::NeedsApproval ? kApproval : QString());
        }
    }

    // Coming on screen while the tunnel is connecting or reasserting arms the start
    // watchdog (it reports a hung start later), not otherwise. A later change to
    // connecting, reasserting or disconnecting closes the picker; the others leave it.
    void reactions_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<bool>("armed");
        QTest::addColumn<bool>("staysOpen");
        QTest::newRow("off, then connecting") << 1 << 2 << false << false;
        QTest::newRow("connected, then reasserting") << 3 << 4 << false << false;
        QTest::newRow("connected, then disconnecting") << 3 << 5 << false << false;
        QTest::newRow("connecting, then connected") << 2 << 3 << true << true;
        QTest::newRow("reasserting, then disconnected") << 4 << 1 << true << true;
        QTest::newRow("off, then invalid") << 1 << 0 << false << true;
    }
    void reactions()
    {
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(bool, armed);
        HomeRig rig;
        rig.attachAt(from);
        const int before = rig.clock->pendingTimers();
        rig.model.setOnScreen(true);
        QCOMPARE(rig.clock->pendingTimers(), before + (armed ? 1 : 0));
        if (armed) {
            rig.clock->advance(42s);
            QCOMPARE(rig.coordinator.hero()->startErrorText(), u"Подключение зависло. Попробуйте ещё раз."_s);
        }
        rig.model.setShowConnectionPicker(true);
        rig.provider.setStatus(to);
        QTRY_COMPARE(int(rig.tunnel.status()), to);
        QTEST(rig.model.showConnectionPicker(), "staysOpen");
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
            for (const QString &path : kRefreshPaths)
                QTRY_VERIFY(std::ranges::any_of(rig.api.service.requests(), [&](auto &r) { return r.path == path; }));
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

    // The card follows the stores: Telegram counts as linked until the user record
    // says otherwise; the retry refreshes the subscription.
    void subscriptionCardInputs()
    {
        HomeRig rig;
        SubscriptionStripModel *card = rig.model.subscriptionCard();
        QVERIFY(card);
        QVERIFY(card->inputs().hasTelegram && !card->hasSubscription() && !card->inputs().isLoading);

        rig.api.service.script(FakeService::anyHost, "GET", u"/me/subscription"_s, {FakeReply::json(200, kActiveSubscription)});
        rig.api.service.script(FakeService::anyHost, "GET", u"/me"_s,
                               {FakeReply::json(200, R"({"has_telegram":false,"has_apple":false,"created_at":null})")});
        card->retry();
        QVERIFY(card->inputs().isLoading);
        test::await(rig.me.refresh());
        QTRY_VERIFY(card->hasSubscription() && !card->inputs().isLoading);
        QCOMPARE(card->inputs().subscription->subscriptionUrl, u"https://sub.example/u1"_s);
        QVERIFY(!card->inputs().hasTelegram);
    }
};

QTEST_MAIN(HomeModelTest)
#include "itst_home_model.moc"
