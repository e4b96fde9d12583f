#include "MenuBarFakes.h"

#include <QSignalSpy>
#include <QTest>

using namespace kovra;
using namespace kovra::ui;
using namespace kovra::test;
using namespace Qt::StringLiterals;

using V = ConnectivityVerdict;

namespace {

const QString kOn = u"Подключиться"_s, kOff = u"Отключиться"_s;

struct Row {
    const char *name;
    int status, optimistic; // optimistic -1: none
    V verdict;
    bool resolving, subscription, connection;
    const char *symbol;
    QString text;
    const char *role;
    bool glow;
    QString title;
    const char *tint;
    bool enabled;
};
const Row kRows[] = {
    {"disconnected, no subscription", 1, -1, V::idle, false, false, true, "shield", u"Выключено"_s, "textSecondary",
     false, kOn, "accent", false},
    {"disconnected, auto", 1, -1, V::online, false, true, false, "shield", u"Выключено"_s, "textSecondary", true, kOn,
     "accent", true},
    {"connecting", 2, -1, V::idle, false, true, true, "shield.lefthalf.filled", u"Подключаемся…"_s, "warning", false,
     kOff, "danger", true},
    {"reasserting, no subscription", 4, -1, V::checking, false, false, true, "shield.lefthalf.filled",
     u"Подключаемся…"_s, "warning", false, kOff, "danger", true},
    {"connected, online", 3, -1, V::online, false, true, true, "checkmark.shield.fill", u"Защищено"_s, "success", true,
     kOff, "danger", true},
    {"connected, degraded", 3, -1, V::degraded, false, true, true, "xmark.shield", u"Сервисы не открываются"_s,
     "danger", false, kOff, "danger", true},
    {"degraded, resolving", 3, -1, V::degraded, true, true, true, "checkmark.shield.fill",
     u"Проверяем соединение…"_s, "success", false, kOff, "danger", true},
    {"optimistic disconnecting", 3, 5, V::online, false, true, true, "shield.lefthalf.filled", u"Отключаемся…"_s,
     "warning", true, kOn, "accent", false},
    {"disconnecting", 5, -1, V::idle, false, true, false, "shield.lefthalf.filled", u"Отключаемся…"_s, "warning",
     false, kOn, "accent", false},
};

} // namespace

class MenuBarModelTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Icon, header, button and both lines for each state; what a press sends.
    void presentation_data()
    {
        QTest::addColumn<int>("row");
        for (int i = 0; i < int(std::size(kRows)); ++i)
            QTest::newRow(kRows[i].name) << i;
    }
    void presentation()
    {
        QFETCH(int, row);
        const Row &r = kRows[row];
        MenuBarRig rig;
        rig.attachAt(r.status);
        if (r.subscription)
            rig.giveSubscription();
        rig.engine.set(r.verdict, r.resolving);
        if (r.optimistic >= 0)
            rig.coordinator.hero()->setOptimistic(VPNStatus(r.optimistic));
        MacMenuBarModel connectionless(&rig.coordinator, &rig.engine, &rig.subscriptions, nullptr, rig.clock);
        const MacMenuBarModel &m = r.connection ? rig.menu : connectionless;

        QCOMPARE(m.labelSymbol(), QString::fromLatin1(r.symbol));
        QCOMPARE(m.statusText(), r.text);
        QCOMPARE(m.statusColorRole(), QString::fromLatin1(r.role));
        QCOMPARE(m.statusGlow(), r.glow);
        QCOMPARE(m.primaryTitle(), r.title);
        QCOMPARE(m.primaryTint(), QString::fromLatin1(r.tint));
        QCOMPARE(m.primaryEnabled(), r.enabled);
        QCOMPARE(m.hasConnection(), r.connection);
        QCOMPARE(m.connectionFlags(), r.connection ? u"🇷🇺 → 🇳🇱"_s : QString());
        QCOMPARE(m.hasSubscription(), r.subscription);
        QCOMPARE(m.trafficText(), r.subscription ? u"1.5 / 10.0 ГБ"_s : QString());
        QCOMPARE(m.expiryText(), r.subscription ? u"осталось 10 дн."_s : QString());

        // The button presses only while enabled: the coordinator shows the start or the
        // stop at once.
        const auto shownBefore = rig.coordinator.hero()->optimisticStatus();
        const_cast<MacMenuBarModel &>(m).activatePrimary();
        const auto pressed = r.title == kOn ? VPNStatus::Connecting : VPNStatus::Disconnecting;
        QCOMPARE(rig.coordinator.hero()->optimisticStatus(), r.enabled ? std::optional(pressed) : shownBefore);
    }

    // The lines follow the stores; the expiry text moves with the time only when asked
    // (the panel asks on opening), and only a real change notifies.
    void linesFollowStores()
    {
        MenuBarRig rig;
        QSignalSpy lines(&rig.menu, &MacMenuBarModel::subscriptionLineChanged);
        rig.giveSubscription();
        QCOMPARE(lines.count(), 1);
        QCOMPARE(rig.menu.subscriptionAccessibilityName(), u"1.5 / 10.0 ГБ, осталось 10 дн."_s);

        rig.clock->advance(std::chrono::hours(24));
        QCOMPARE(rig.menu.expiryText(), u"осталось 10 дн."_s);
        rig.menu.refreshTimeTexts();
        rig.menu.refreshTimeTexts();
        QCOMPARE(rig.menu.expiryText(), u"осталось 9 дн."_s);
        QCOMPARE(lines.count(), 2);

        rig.subscriptions.clear();
        QVERIFY(!rig.menu.hasSubscription() && rig.menu.subscriptionAccessibilityName().isEmpty());

        QSignalSpy line(&rig.menu, &MacMenuBarModel::connectionLineChanged);
        test::await(rig.connections.selectConnection(Connection::fallback().first(), false, false));
        QCOMPARE(line.count(), 1);
        QCOMPARE(rig.menu.connectionLabel(), u"Авто"_s);
    }
};

QTEST_MAIN(MenuBarModelTest)
#include "itst_menu_bar_model.moc"
