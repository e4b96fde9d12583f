#include "MenuBarFakes.h"

#include <QTest>

using namespace kovra;
using namespace kovra::ui;
using namespace kovra::test;
using namespace Qt::StringLiterals;

using V = ConnectivityVerdict;

namespace {

const QString kOn = u"Подключиться"_s, kOff = u"Отключиться"_s;

// The tint is the danger colour exactly while the button reads "Отключиться".
struct Row {
    const char *name;
    int status, optimistic; // optimistic -1: none
    V verdict;
    bool resolving, subscription, connection;
    const char *symbol, *role;
    QString text, title;
    bool glow, enabled;
};
const Row kRows[] = {
    {"disconnected, no subscription", 1, -1, V::idle, false, false, true, "shield", "textSecondary", u"Выключено"_s,
     kOn, false, false},
    {"disconnected, auto", 1, -1, V::online, false, true, false, "shield", "textSecondary", u"Выключено"_s, kOn, true,
     true},
    {"connecting", 2, -1, V::idle, false, true, true, "shield.lefthalf.filled", "warning", u"Подключаемся…"_s, kOff,
     false, true},
    {"connected, online", 3, -1, V::online, false, true, true, "checkmark.shield.fill", "success", u"Защищено"_s, kOff,
     true, true},
    {"connected, degraded", 3, -1, V::degraded, false, true, true, "xmark.shield", "danger",
     u"Сервисы не открываются"_s, kOff, false, true},
    {"optimistic disconnecting", 3, 5, V::online, false, true, true, "shield.lefthalf.filled", "warning",
     u"Отключаемся…"_s, kOn, true, false},
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
        MenuBarModel connectionless(&rig.coordinator, &rig.engine, &rig.subscriptions, nullptr, rig.clock);
        MenuBarModel &m = r.connection ? rig.menu : connectionless;

        QCOMPARE(QStringList({m.labelSymbol(), m.statusText(), m.statusColorRole(), m.primaryTitle(), m.primaryTint(),
                              m.connectionFlags(), m.trafficText(), m.expiryText()}),
                 QStringList({QString::fromLatin1(r.symbol), r.text, QString::fromLatin1(r.role), r.title,
                              r.title == kOff ? u"danger"_s : u"accent"_s, r.connection ? u"🇷🇺 → 🇳🇱"_s : QString(),
                              r.subscription ? u"1.5 / 10.0 ГБ"_s : QString(),
                              r.subscription ? u"осталось 10 дн."_s : QString()}));
        QCOMPARE(std::tuple(m.statusGlow(), m.primaryEnabled(), m.hasConnection(), m.hasSubscription()),
                 std::tuple(r.glow, r.enabled, r.connection, r.subscription));

        // The button presses only while enabled: the coordinator shows the start or the
        // stop at once.
        const auto shownBefore = rig.coordinator.hero()->optimisticStatus();
        m.activatePrimary();
        const auto pressed = r.title == kOn ? VPNStatus::Connecting : VPNStatus::Disconnecting;
        QCOMPARE(rig.coordinator.hero()->optimisticStatus(), r.enabled ? std::optional(pressed) : shownBefore);
    }
};

QTEST_MAIN(MenuBarModelTest)
#include "itst_menu_bar_model.moc"
