#include "ui/design/Brand.h"
#include "ui/main/MainModule.h"
#include "ui/main/MenuBarIcon.h"

#include "MenuBarFakes.h"
#include "support/view/ViewHarness.h"

#include <QAction>
#include <QMenu>
#include <QQuickItem>
#include <QQuickView>
#include <QSystemTrayIcon>
#include <QTest>

using namespace kovra;
using namespace kovra::ui;
using namespace kovra::test;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

using V = ConnectivityVerdict;

namespace {

// name, status, optimistic status (-1: none), verdict, subscription; a row whose name
// says "dark" is drawn dark.
using PanelRow = std::tuple<const char *, int, int, V, bool>;
const PanelRow kPanelRows[] = {
    {"disconnected, no subscription", 1, -1, V::idle, false},
    {"connected, online, dark", 3, -1, V::online, true},
    {"degraded", 3, -1, V::degraded, true},
    {"optimistic disconnecting, dark", 3, 5, V::online, true},
};

// How often each footer action ran.
struct Calls {
    int main = 0, settings = 0, quit = 0;
    bool operator==(const Calls &) const = default;
};

} // namespace

Q_DECLARE_METATYPE(Calls)

class MenuBarViewTest : public ViewTestCase {
    Q_OBJECT

    std::unique_ptr<MenuBarRig> m_rig;
    Calls m_calls;

    MenuBarRig &rigAt(int status, V verdict, bool subscription)
    {
        m_rig = std::make_unique<MenuBarRig>();
        m_rig->attachAt(status);
        if (subscription)
            m_rig->giveSubscription();
        m_rig->engine.set(verdict);
        return *m_rig;
    }
    std::unique_ptr<MenuBarExtra> extra()
    {
        m_calls = {};
        MenuBarActions actions{[this] { ++m_calls.main; }, [this] { ++m_calls.settings; }, [this] { ++m_calls.quit; }};
        MenuBarExtra::Options options;
        options.engine = &view().engine();
        options.clock = m_rig->clock;
        return std::make_unique<MenuBarExtra>(m_rig->sources(), std::move(actions), std::move(options));
    }
    // Opens the panel under an icon at the top of the screen and waits until it has
    // the focus.
    static bool openFocused(MenuBarExtra &extra)
    {
        extra.openPanel(QRect(300, 0, 22, 22));
        return QTest::qWaitFor([&] { return extra.panel()->isExposed() && extra.panel()->isActive(); });
    }

private Q_SLOTS:
    void initTestCase() { registerMainModule(); }
    void cleanup()
    {
        // The view goes first: it shows the rig's model.
        ViewTestCase::cleanup();
        m_rig.reset();
    }

    // Each state: the geometry (264 wide, padded 16, rows 16 apart), the colours by
    // role, nothing cut short, the subscription row only with a subscription.
    void panel_data()
    {
        QTest::addColumn<int>("row");
        for (int i = 0; i < int(std::size(kPanelRows)); ++i)
            QTest::newRow(std::get<0>(kPanelRows[i])) << i;
    }
    void panel()
    {
        QFETCH(int, row);
        const auto [name, status, optimistic, verdict, subscription] = kPanelRows[row];
        MenuBarRig &rig = rigAt(status, verdict, subscription);
        if (optimistic >= 0)
            rig.coordinator.hero()->setOptimistic(VPNStatus(optimistic));
        QQuickItem *root = view().show(u"Kovra.Main/MenuBarView"_s, {{"model", QVariant::fromValue(&rig.menu)}},
                                       {.margin = 0});
        QVERIFY(root);
        view().saveScreenshot(u"panel"_s);

        QCOMPARE(root->width(), 264.0);
        qreal bottom = 0; // of the row above, in the panel
        for (const char *part : {"header", "connectionLine", "primaryButton", "divider", "subscriptionLine", "footer"}) {
            QQuickItem *item = view().find(QString::fromLatin1(part));
            QVERIFY(item);
            if (!item->isVisible())
                continue;
            const QRectF box = item->mapRectToItem(root, QRectF(0, 0, item->width(), item->height()));
            QCOMPARE(box, QRectF(16, bottom + 16, 232, box.height()));
            bottom = box.bottom();
        }
        QCOMPARE(root->height(), bottom + 16);

        QCOMPARE(view().isShown(u"subscriptionLine"_s), subscription);
        QVERIFY(view().isShown(u"divider"_s));
        const auto role = [&](const QString &name) { return argb(view().brand().property(name.toLatin1().constData()).value<QColor>()); };
        QCOMPARE(std::pair(view().argb(u"statusText"_s), view().argb(u"primaryFill"_s)),
                 std::pair(role(rig.menu.statusColorRole()), role(rig.menu.primaryTint())));
        QCOMPARE(view().value(u"primaryButton"_s, u"enabled"_s).toBool(), rig.menu.primaryEnabled());
        for (const char *text : {"statusText", "connectionLabel", "primaryLabel", "trafficText", "expiryText"})
            QVERIFY2(!view().value(QString::fromLatin1(text), u"truncated"_s).toBool(), text);
    }

    // Each footer action closes the panel and does what it says; Escape closes it;
    // Return presses the primary button only while it is enabled (with a subscription).
    void actions_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("subscription");
        QTest::addColumn<Calls>("expected");
        QTest::addColumn<bool>("stillOpen");
        QTest::newRow("open") << u"openButton"_s << 0 << true << Calls{1, 0, 0} << false;
        QTest::newRow("settings") << u"settingsButton"_s << 0 << true << Calls{0, 1, 0} << false;
        QTest::newRow("quit") << u"quitButton"_s << 0 << true << Calls{0, 0, 1} << false;
        QTest::newRow("escape") << QString() << int(Qt::Key_Escape) << true << Calls{} << false;
        QTest::newRow("return") << QString() << int(Qt::Key_Return) << true << Calls{} << true;
        QTest::newRow("return, disabled") << QString() << int(Qt::Key_Return) << false << Calls{} << true;
    }
    void actions()
    {
        QFETCH(QString, button);
        QFETCH(int, key);
        QFETCH(bool, subscription);
        QFETCH(Calls, expected);
        QFETCH(bool, stillOpen);
        MenuBarRig &rig = rigAt(1, V::idle, subscription);
        auto menuBar = extra();
        QVERIFY(openFocused(*menuBar));
        QQuickView *panel = menuBar->panel();
        QCOMPARE(panel->position(), QPoint(178, 26));
        if (key)
            QTest::keyClick(panel, Qt::Key(key));
        else
            QTest::mouseClick(panel, Qt::LeftButton, {},
                              ViewHarness::findIn(panel->rootObject(), button)->mapToScene({4, 4}).toPoint());
        QTRY_COMPARE(menuBar->isPanelOpen(), stillOpen);
        QCOMPARE(m_calls, expected);
        const bool pressed = key == Qt::Key_Return && subscription;
        QCOMPARE(rig.coordinator.hero()->optimisticStatus(),
                 pressed ? std::optional(VPNStatus::Connecting) : std::optional<VPNStatus>());
    }

    // The panel closes when it loses the focus; the click on the icon that took the
    // focus does not reopen it, a later one does. The expiry is dated on opening.
    void focusLoss()
    {
        MenuBarRig &rig = rigAt(3, V::online, true);
        auto menuBar = extra();
        QVERIFY(openFocused(*menuBar));
        QVERIFY(view().showQml("Item { width: 50; height: 50 }"));
        view().window()->requestActivate();
        QTRY_VERIFY(!menuBar->isPanelOpen());
        menuBar->togglePanel();
        QVERIFY(!menuBar->isPanelOpen());
        rig.clock->advance(std::chrono::hours(24));
        menuBar->togglePanel();
        QVERIFY(menuBar->isPanelOpen());
        QQuickItem *expiry = ViewHarness::findIn(menuBar->panel()->rootObject(), u"expiryText"_s);
        QCOMPARE(expiry->property("text").toString(), u"осталось 9 дн."_s);
    }

    // The tray icon shows the state's shield and the status text; its context menu
    // carries the panel's actions, the connect item with the button's title and state.
    void trayAndMenu()
    {
        MenuBarRig &rig = rigAt(1, V::idle, false);
        auto menuBar = extra();
        QSystemTrayIcon *tray = menuBar->trayIcon();
        QCOMPARE(tray->toolTip(), u"Выключено"_s);
        QVERIFY(!tray->icon().isNull() && !menuBar->isIconVisible());

        QMenu *menu = menuBar->contextMenu();
        QVERIFY(menu && tray->contextMenu() == menu);
        auto *primary = menu->findChild<QAction *>(u"primaryAction"_s);
        QVERIFY(primary && primary->text() == u"Подключиться\tCtrl+K" && !primary->isEnabled());
        QCOMPARE(menu->findChild<QAction *>(u"quitAction"_s)->text(), u"Завершить\tCtrl+Q"_s);

        rig.giveSubscription();
        QVERIFY(primary->isEnabled());
        rig.provider.setStatus(3);
        rig.engine.set(V::degraded);
        QTRY_COMPARE(primary->text(), u"Отключиться\tCtrl+K"_s);
        QCOMPARE(tray->toolTip(), u"Сервисы не открываются"_s);
        QCOMPARE(menuBar->icon()->symbol(), u"xmark.shield"_s);

        primary->trigger();
        QVERIFY(rig.provider.waitForRequests(u"stop"_s));
        menu->findChild<QAction *>(u"quitAction"_s)->trigger();
        QCOMPARE(m_calls.quit, 1);
    }
};

QTEST_MAIN(MenuBarViewTest)
#include "vtst_menu_bar.moc"
