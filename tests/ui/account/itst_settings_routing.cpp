#include "ui/account/SettingsModel.h"

#include "tunnel/ProviderConfiguration.h"
#include "tunnel/SystemExtensionActivator.h"
#include "tunnel/TunnelController.h"

#include <QJsonObject>
#include <QTest>

#include "support/Await.h"
#include "support/DefaultsContents.h"
#include "support/FakeProvider.h"
#include "support/TestHome.h"

using namespace kovra;
using namespace kovra::ui;
using namespace kovra::test;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

using P = SettingsPreference::Value;

// The settings screen over a tunnel controller attached to the fake provider, both
// reading the app group in a private home.
struct TunnelRig {
    TestHome home{TestHome::PathsOnly};
    FakeProvider provider;
    TunnelPreferences preferences{tunnelOptions(home.paths(), provider.socketPath(), nullptr, 6s, 20ms)};
    ProviderActivationManager activation{provider.socketPath()};
    SystemExtensionActivator activator{activation};
    TunnelController controller{{.preferences = &preferences,
                                 .activator = &activator,
                                 .appGroupFactory = [paths = home.paths()] { return std::make_unique<AppGroupStore>(paths); },
                                 .reloadDisconnectTimeout = 2s,
                                 .statusPollInterval = 10ms}};

    TunnelRig(int status, const QString &subscriptionURL)
    {
        provider.setStatus(status);
        saveConfiguration(preferences, kPacketTunnelBundleID);
        await(controller.attach());
        if (!subscriptionURL.isEmpty())
            appGroup().defaults()->set(AppGroupKey::subscriptionURL, subscriptionURL);
    }
    AppGroupStore appGroup() const { return AppGroupStore(home.paths()); }
    std::unique_ptr<SettingsModel> screen()
    {
        AccountServices services;
        services.tunnelController = &controller, services.appGroup = appGroup();
        return std::make_unique<SettingsModel>(services);
    }

    // What the provider was sent from request `from` on, once the reconnects have
    // ended: "stop", "start <option>=<value>" for the routing option of interest,
    // "<op> <minutes>" for provider messages. A status query sent last marks the end.
    QStringList sentSince(qsizetype from, const QString &option)
    {
        if (!QTest::qWaitFor([this] { return !controller.startInFlight(); }, 10000))
            return {u"still reconnecting"_s};
        Pending<TunnelStatusReport> marker(controller.queryStatus());
        marker.waitDone();
        QStringList sent;
        for (const auto &request : provider.requests().mid(from)) {
            if (request.method == u"start")
                sent << u"start %1=%2"_s.arg(option, request.object.value(u"options"_s).toObject().value(option).toBool()
                                                         ? u"true"_s
                                                         : u"false"_s);
            else if (request.method == u"stop")
                sent << request.method;
            else if (request.method == u"message" && request.op() != u"status")
                sent << u"%1 %2"_s.arg(request.op()).arg(request.message.value(u"minutes"_s).toInt());
        }
        return sent;
    }
};

// The seven values: the switches as 1/0 in screen order with the minutes after the
// fourth, then the picker's title.
QString describe(const SettingsModel &screen)
{
    QStringList values;
    for (const SettingSwitchRow &row : screen.switchRows())
        values << QString::number(row.isOn);
    values.insert(4, QString::number(screen.preferences().autoDisconnectMinutes));
    return values.join(u' ') + u" | "_s + screen.autoDisconnectChoices().value(screen.autoDisconnectIndex()).title;
}

std::unique_ptr<SettingsModel> screenOver(const std::shared_ptr<Defaults> &defaults)
{
    AccountServices services;
    services.appGroup = AppGroupStore(defaults, nullptr);
    return std::make_unique<SettingsModel>(services);
}

} // namespace

class SettingsRoutingTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Every control in every tunnel state, with and without a stored subscription:
    // the key written with its type, the log line, and what reaches the provider.
    void changes_data()
    {
        QTest::addColumn<int>("preference");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("withURL");
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QStringList>("sent");
        const struct {
            P preference;
            QVariant stored;
            const char *line;
        } controls[] = {
            {P::BypassLAN, false, "bypassLAN → false"},
            {P::BypassRussia, false, "bypassRussia → false"},
            {P::BlockedOnly, true, "blockedOnly → true"},
            {P::DisconnectOnLock, true, "disconnectOnLock → true"},
            {P::AutoDisconnectMinutes, qint64(30), "autoDisconnectMinutes → 30"},
            {P::OnDemandRecovery, true, "onDemandRecoveryEnabled → true"},
            {P::SubscriptionReminders, false, "subscriptionReminderNotificationsEnabled → false"},
        };
        for (const auto &c : controls) {
            const bool routing = c.preference <= P::BlockedOnly;
            const QString option = QString::fromUtf8(c.line).section(u' ', 0, 0);
            for (const int status : {1, 2, 3}) {
                for (const bool withURL : {false, true}) {
                    QStringList sent;
                    if (routing && withURL && status != 1)
                        sent = {u"stop"_s, u"start %1=%2"_s.arg(option, c.stored.toString())};
                    if (c.preference == P::AutoDisconnectMinutes && status == 3)
                        sent = {u"setAutoDisconnect 30"_s};
                    QTest::addRow("%s, status %d%s", c.line, status, withURL ? ", URL" : "")
                        << int(c.preference) << status << withURL << c.stored << QString::fromUtf8(c.line) << sent;
                }
            }
        }
    }
    void changes()
    {
        QFETCH(int, preference);
        QFETCH(int, status);
        QFETCH(bool, withURL);
        QFETCH(QVariant, stored);
        QFETCH(QString, line);
        TunnelRig rig(status, withURL ? u"https://sub.example/u"_s : QString());
        auto screen = rig.screen();
        const qsizetype before = rig.provider.requests().size();
        LogCapture log;

        if (preference == P::AutoDisconnectMinutes)
            screen->chooseAutoDisconnect(2); // "30 минут"
        else
            screen->setSwitch(preference, stored.toBool());

        const QVariant written = rig.appGroup().defaults()->object(preferenceKey(P(preference)));
        QCOMPARE(written, stored);
        QCOMPARE(written.typeId(), stored.typeId());
        QCOMPARE(log.texts(u"Settings"_s), QStringList{line});
        QTEST(rig.sentSince(before, line.section(u' ', 0, 0)), "sent");
    }

    // Quick flips are each written and each reconnect; the reconnects they supersede
    // say so, and the last start carries the last value.
    void quickFlips()
    {
        TunnelRig rig(3, u"https://sub.example/u"_s);
        auto screen = rig.screen();
        const qsizetype before = rig.provider.requests().size();
        LogCapture log;
        for (const bool on : {false, true, false})
            screen->setSwitch(P::BypassLAN, on);
        const QStringList sent = rig.sentSince(before, u"bypassLAN"_s);

        QCOMPARE(log.texts(u"Settings"_s),
                 (QStringList{u"bypassLAN → false"_s, u"bypassLAN → true"_s, u"bypassLAN → false"_s}));
        QCOMPARE(log.count(u"routing reconnect superseded"_s), 2);
        QCOMPARE(sent.last(), u"start bypassLAN=false"_s);
        QCOMPARE(rig.appGroup().boolValue(AppGroupKey::bypassLAN, true), false);
    }

    // The values are read once, when the screen is made: a value of the wrong type
    // reads as the default, a time the picker does not offer shows as its extra item
    // and is not written back. Keys removed afterwards (a sign-out) change the screen
    // only when it is made again.
    void readOnce_data()
    {
        QTest::addColumn<QVariantMap>("stored");
        QTest::addColumn<QString>("shown");
        const QString defaults = u"1 1 0 0 0 0 1 | Никогда"_s;
        QTest::newRow("nothing stored") << QVariantMap() << defaults;
        QTest::newRow("all changed") << QVariantMap{{AppGroupKey::bypassLAN, false}, {AppGroupKey::bypassRussia, false},
                                                    {AppGroupKey::blockedOnly, true}, {AppGroupKey::disconnectOnLock, true},
                                                    {AppGroupKey::autoDisconnectMinutes, 120},
                                                    {AppGroupKey::onDemandRecoveryEnabled, true},
                                                    {AppGroupKey::subscriptionRemindersEnabled, false}}
                                     << u"0 0 1 1 120 1 0 | 2 часа"_s;
        QTest::newRow("wrong types") << QVariantMap{{AppGroupKey::bypassLAN, u"false"_s}, {AppGroupKey::blockedOnly, 1},
                                                    {AppGroupKey::autoDisconnectMinutes, u"30"_s}}
                                     << defaults;
        QTest::newRow("minutes not offered") << QVariantMap{{AppGroupKey::autoDisconnectMinutes, 25}}
                                             << u"1 1 0 0 25 0 1 | 25 мин."_s;
    }
    void readOnce()
    {
        QFETCH(QVariantMap, stored);
        const auto defaults = inMemory(stored);
        LogCapture log;
        auto screen = screenOver(defaults);
        QTEST(describe(*screen), "shown");
        QCOMPARE(screen->autoDisconnectChoices().size(), 9 + int(describe(*screen).endsWith(u"мин."_s)));
        QCOMPARE(defaults->object(AppGroupKey::autoDisconnectMinutes), stored.value(AppGroupKey::autoDisconnectMinutes));
        QCOMPARE(log.texts(u"Settings"_s), QStringList());

        AppGroupStore(defaults, nullptr).removeSessionKeys();
        QTEST(describe(*screen), "shown");
        QCOMPARE(describe(*screenOver(defaults)), u"1 1 0 0 0 0 1 | Никогда"_s);
    }

    // Only blocked resources: the Russian-sites switch is disabled, dimmed and says
    // why, keeping its value; an auto-disconnect time does the same to the on-demand
    // switch (without dimming). Lifting the condition brings the old value back.
    void dependentSwitches()
    {
        auto defaults = Defaults::inMemory();
        defaults->set(AppGroupKey::bypassRussia, false);
        defaults->set(AppGroupKey::onDemandRecoveryEnabled, true);
        auto screen = screenOver(defaults);
        const auto row = [&screen](P p) { return screen->switchRows().at(p < P::AutoDisconnectMinutes ? p : p - 1); };
        const SettingSwitchRow russia = row(P::BypassRussia), onDemand = row(P::OnDemandRecovery);

        screen->setSwitch(P::BlockedOnly, true);
        screen->chooseAutoDisconnect(4); // "1 час"
        QVERIFY(!row(P::BypassRussia).isEnabled && !row(P::OnDemandRecovery).isEnabled);
        QCOMPARE(row(P::OnDemandRecovery).opacity, 1.0);
        QVERIFY(row(P::BypassRussia).subtitle.startsWith(u"Не используется"_s));
        QVERIFY(row(P::OnDemandRecovery).subtitle.startsWith(u"Недоступно"_s));
        screen->setSwitch(P::BypassRussia, true);
        screen->setSwitch(P::OnDemandRecovery, false);
        QCOMPARE(defaults->boolean(AppGroupKey::bypassRussia), false);
        QCOMPARE(defaults->boolean(AppGroupKey::onDemandRecoveryEnabled), true);

        screen->setSwitch(P::BlockedOnly, false);
        screen->chooseAutoDisconnect(0);
        QCOMPARE(row(P::BypassRussia), russia);
        QCOMPARE(row(P::OnDemandRecovery), onDemand);
    }
};

QTEST_GUILESS_MAIN(SettingsRoutingTest)
#include "itst_settings_routing.moc"
