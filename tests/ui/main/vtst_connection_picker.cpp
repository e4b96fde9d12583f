#include "ui/design/Brand.h"
#include "ui/design/SheetHost.h"
#include "ui/main/ConnectionPickerSheet.h"
#include "ui/main/MainModule.h"

#include "PickerFakes.h"
#include "support/ManualClock.h"
#include "support/view/ViewHarness.h"

#include <QQuickWindow>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>

using namespace kovra;
using namespace kovra::ui;
using namespace kovra::test;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

Connection labelled(const QString &id, ConnectionKind kind, const QString &flags, const QString &label,
                    RegionStatus status = RegionStatus::online)
{
    Connection c = route(id, kind, status);
    std::tie(c.flags, c.label) = std::tie(flags, label);
    return c;
}

Region onDemand(const QString &id, const QString &flag, const QString &name, RegionStatus status,
                RegionProvider provider)
{
    Region r = server(id, status, name);
    std::tie(r.flag, r.provider) = std::tie(flag, provider);
    return r;
}

// A catalogue with every kind of row: the automatic route (in use), direct and
// relayed routes in several states, and on-demand servers online, being created,
// and asleep.
PickerCatalogState fullCatalogue(const QDateTime &now)
{
    PickerCatalogState s;
    s.connections = {
        labelled(u"auto"_s, ConnectionKind::automatic, u"⚡"_s, u"Авто"_s),
        labelled(u"nl"_s, ConnectionKind::direct, u"🇳🇱"_s, u"Амстердам"_s),
        labelled(u"de"_s, ConnectionKind::direct, u"🇩🇪"_s, u"Франкфурт"_s, RegionStatus::degraded),
        labelled(u"fi"_s, ConnectionKind::direct, u"🇫🇮"_s, u"Хельсинки"_s, RegionStatus::offline),
        labelled(u"ru-1__nl"_s, ConnectionKind::relay, u"🇷🇺 → 🇳🇱"_s, u"РФ-1 → Амстердам"_s),
    };
    s.regions = {
        onDemand(u"us-aws"_s, u"🇺🇸"_s, u"Вирджиния"_s, RegionStatus::online, RegionProvider::aws()),
        onDemand(u"jp-gcp"_s, u"🇯🇵"_s, u"Токио"_s, RegionStatus::stopped, RegionProvider::gcp()),
        onDemand(u"sg"_s, u"🇸🇬"_s, u"Сингапур"_s, RegionStatus::stopped, RegionProvider::other(u"hetzner"_s)),
    };
    s.currentConnectionID = u"auto"_s;
    s.selectedRegionID = u"auto"_s;
    s.waking = {u"jp-gcp"_s};
    s.wakeStartedAt = {{u"jp-gcp"_s, now.addSecs(-45)}};
    return s;
}

int countNamed(QQuickItem *item, const QString &name)
{
    int n = item->objectName() == name ? 1 : 0;
    for (QQuickItem *child : item->childItems())
        n += countNamed(child, name);
    return n;
}

} // namespace

class ConnectionPickerViewTest : public ViewTestCase {
    Q_OBJECT

    std::shared_ptr<ManualClock> m_clock;
    std::unique_ptr<FakePickerCatalog> m_catalog;
    std::unique_ptr<ConnectionPickerSheet> m_picker;

    // At the sheet's smallest size, or taller so that every row is built.
    QQuickItem *showPicker(const PickerCatalogState &state, int height = 520)
    {
        m_catalog->current = state;
        m_picker = std::make_unique<ConnectionPickerSheet>(m_catalog.get(), nullptr,
                                                           ConnectionPickerOptions{500ms, m_clock});
        return view().show(u"Kovra.Main/ConnectionPickerSheet"_s,
                           {{u"model"_s, QVariant::fromValue(m_picker.get())}, {u"height"_s, height}});
    }
    QQuickItem *line(const QString &key, const QString &name)
    {
        const QList<PickerItem> &items = m_picker->items()->items();
        const auto at = std::ranges::find(items, key, &PickerItem::key) - items.begin();
        return at < items.size() ? ViewHarness::findIn(view().find(u"pickerLine%1"_s.arg(at)), name) : nullptr;
    }
    void click(QQuickItem *item) { clickCentre(view().window(), item); }

private Q_SLOTS:
    void initTestCase() { registerMainModule(); }
    void init()
    {
        ViewTestCase::init();
        m_clock = std::make_shared<ManualClock>();
        m_catalog = std::make_unique<FakePickerCatalog>();
    }
    void cleanup()
    {
        ViewTestCase::cleanup();
        m_picker.reset();
    }

    // Each list state loads without a warning and shows its own body; the refresh
    // control shows progress and is disabled while a catalogue loads, over four
    // placeholder rows.
    void states_data()
    {
        QTest::addColumn<QString>("state");
        for (const char *state : {"list", "stale", "loading", "empty"})
            QTest::newRow(state) << QString::fromLatin1(state);
    }
    void states()
    {
        QFETCH(QString, state);
        PickerCatalogState s = state == u"list" || state == u"stale" ? fullCatalogue(m_clock->now()) : PickerCatalogState();
        s.regionsFailed = state == u"stale" || state == u"empty";
        s.connectionsLoading = state == u"loading";
        QVERIFY(showPicker(s));
        const bool busy = state == u"loading";
        QCOMPARE(view().isShown(u"refreshProgress"_s), busy);
        QCOMPARE(view().isShown(u"refreshSymbol"_s), !busy);
        QCOMPARE(view().value(u"refreshButton"_s, u"enabled"_s).toBool(), !busy);
        QCOMPARE(view().isShown(u"staleHint"_s), state == u"stale");
        QCOMPARE(view().isShown(u"loadingSkeleton"_s), busy);
        QCOMPARE(view().isShown(u"emptyState"_s), state == u"empty");
        QCOMPARE(countNamed(view().root(), u"placeholderRow"_s), busy ? 4 : 0);
        QVERIFY(!view().saveScreenshot(u"picker"_s).isEmpty());
    }

    // The rows as the list draws them: flags in colour, the accent panel behind the
    // automatic route, the check mark of the route in use, the dimmed offline route,
    // status colours, the starting server's percentage and the sleeping server's button.
    void rows()
    {
        QVERIFY(showPicker(fullCatalogue(m_clock->now()), 1000));
        Brand &brand = view().brand();
        const QImage picture = view().grab();
        QVERIFY(ViewHarness::drawsColour(picture, line(u"conn:nl"_s, u"rowTitle"_s)));
        QVERIFY(ViewHarness::drawsColour(picture, line(u"conn:ru-1__nl"_s, u"rowTitle"_s)));
        const auto shown = [&](const QString &key, const QString &name) { return line(key, name)->isVisible(); };
        QCOMPARE((QList<bool>{shown(u"conn:auto"_s, u"accentBackground"_s), shown(u"conn:nl"_s, u"accentBackground"_s),
                              shown(u"conn:auto"_s, u"checkmark"_s), shown(u"conn:nl"_s, u"checkmark"_s),
                              shown(u"region:sg"_s, u"wakeButton"_s)}),
                 (QList<bool>{true, false, true, false, true}));
        QCOMPARE((QList<qreal>{line(u"conn:fi"_s, u"serverRow"_s)->opacity(), line(u"conn:nl"_s, u"serverRow"_s)->opacity()}),
                 (QList<qreal>{0.45, 1.0}));
        const auto colour = [&](const QString &key) { return argb(line(key, u"rowSubtitle"_s)->property("color").value<QColor>()); };
        QCOMPARE((QStringList{colour(u"conn:auto"_s), colour(u"conn:de"_s), colour(u"region:us-aws"_s)}),
                 (QStringList{argb(brand.accent()), argb(brand.warning()), argb(brand.success())}));
        QCOMPARE(line(u"region:jp-gcp"_s, u"percentage"_s)->property("text").toString(), u"50%"_s);
        QVERIFY(!view().saveScreenshot(u"rows"_s).isEmpty());
    }

    // Taps reach the sheet's actions: a route, the wake button, the refresh control.
    void tapsReachTheActions()
    {
        QVERIFY(showPicker(fullCatalogue(m_clock->now()), 1000));
        click(line(u"conn:nl"_s, u"serverRow"_s));
        click(line(u"region:sg"_s, u"wakeButton"_s));
        click(line(u"conn:fi"_s, u"serverRow"_s)); // dimmed, reacts, refused: nothing
        click(view().find(u"refreshButton"_s));
        QCOMPARE(m_catalog->calls, (QStringList{u"select conn:nl"_s, u"wake sg"_s, u"refresh connections"_s,
                                                u"refresh regions"_s, u"refresh entries"_s}));
        m_catalog->calls.clear();
        m_catalog->change([](PickerCatalogState &s) { s = {}; });
        QTRY_VERIFY(view().find(u"retryButton"_s)); // the empty body replaces the list on a later frame
        QVERIFY(view().waitForFrame());
        click(view().find(u"retryButton"_s));
        QCOMPARE(m_catalog->calls.size(), 3);
    }

    // The progress bar eases to each new value over 0.6 s; with reduce motion it jumps.
    void progressMotion_data()
    {
        QTest::addColumn<bool>("reduceMotion");
        QTest::newRow("motion") << false;
        QTest::newRow("reduced motion") << true;
    }
    void progressMotion()
    {
        QFETCH(bool, reduceMotion);
        view().appearance().setReduceMotion(reduceMotion);
        PickerCatalogState s = fullCatalogue(m_clock->now());
        s.wakeStartedAt[u"jp-gcp"_s] = m_clock->now().addSecs(-9);
        QVERIFY(showPicker(s, 1000));
        QQuickItem *bar = line(u"region:jp-gcp"_s, u"progressBar"_s);
        QTRY_COMPARE(bar->property("shownValue").toReal(), 0.1);
        m_picker->appear();
        m_clock->advance(36s);
        QCOMPARE(bar->property("value").toReal(), 0.5);
        QCOMPARE(bar->property("shownValue").toReal() == 0.5, reduceMotion);
        QTRY_COMPARE(bar->property("shownValue").toReal(), 0.5);
    }

    // The presenter's sheet is closed by the picker's dismiss request as by the user
    // (its title and size: the home view's sheet test).
    void presentedSheet()
    {
        QVERIFY(view().showQml("Rectangle { width: 600; height: 640; color: Brand.background }"));
        QPointer<SheetHost> host = ConnectionPickerSheet::present(view().window(), nullptr, nullptr, nullptr);
        QVERIFY(host && QTest::qWaitForWindowExposed(host->window()));
        auto *picker = host->findChild<ConnectionPickerSheet *>();
        QVERIFY(picker);
        QSignalSpy dismissed(host.data(), &SheetHost::dismissed);
        Q_EMIT picker->dismissRequested();
        QCOMPARE(dismissed.size(), 1);
        QTRY_VERIFY(!host);
    }
};

QTEST_MAIN(ConnectionPickerViewTest)
#include "vtst_connection_picker.moc"
