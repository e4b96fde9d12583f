#include "catalog/ConnectionStore.h"
#include "catalog/EntryStore.h"
#include "catalog/RegionStore.h"
#include "ui/main/ConnectionPickerSheet.h"

#include "PickerFakes.h"
#include "catalog/CatalogFakes.h"
#include "support/Await.h"
#include "support/ManualClock.h"

#include <QSignalSpy>

#include <algorithm>
#include <QTest>

#include <stdexcept>

using namespace kovra;
using namespace kovra::ui;
using namespace kovra::test;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

struct FakeConnections final : ConnectionsProviding {
    Script<QList<Connection>> fetches;
    QCoro::Task<QList<Connection>> fetchConnections() override { return fetches.next(); }
};

Connection direct(const QString &id, RegionStatus status = RegionStatus::online)
{
    Connection c = route(id, ConnectionKind::direct, status);
    c.entry = u"direct"_s;
    c.regionID = id;
    return c;
}

std::exception_ptr failure()
{
    return std::make_exception_ptr(std::runtime_error("catalogue unreachable"));
}

// The real stores over scripted services, and a picker over them.
struct Stores {
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    std::shared_ptr<FakeConnections> connectionService = std::make_shared<FakeConnections>();
    std::shared_ptr<FakeRegions> regionService = std::make_shared<FakeRegions>();
    std::shared_ptr<FakeEntries> entryService = std::make_shared<FakeEntries>();
    AppGroupStore appGroup{Defaults::inMemory(), nullptr};
    RegionStore regions{regionService, appGroup, RegionStore::Options{5s, 10, clock}};
    EntryStore entries{entryService, appGroup};
    ConnectionStore connections{connectionService, appGroup, &regions, &entries, nullptr, nullptr};
    int applied = 0;
    ConnectionPickerSheet sheet{&connections, &regions, &entries, [this] { ++applied; },
                                ConnectionPickerOptions{500ms, clock}};
    QSignalSpy dismissals{&sheet, &ConnectionPickerSheet::dismissRequested};

    Stores(const QList<Connection> &routes, const QList<Region> &servers)
    {
        connectionService->fetches.answer(routes);
        regionService->fetches.answer(servers);
        entryService->fetches.answer(Entry::fallback());
        regionService->wakes.answer({u"starting"_s});
        test::await(sheet.refreshAll());
    }
    int row(const QString &key) const
    {
        const QList<PickerItem> &items = sheet.items()->items();
        return int(std::ranges::find(items, key, &PickerItem::key) - items.begin());
    }
    PickerItem item(const QString &key) const { return sheet.items()->items().value(row(key)); }
};

} // namespace

class PickerStoresTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // A wake keeps the sheet open; the row turns into its starting form at once, and
    // into a selected server row once the store reports the server online.
    void wakeFollowsTheStore()
    {
        Stores s({route(u"auto"_s, ConnectionKind::automatic)}, {server(u"us"_s)});
        QCOMPARE(s.item(u"region:us"_s).kind, PickerItemKind::AsleepRow);
        s.sheet.wakeRow(s.row(u"region:us"_s));
        QTRY_COMPARE(s.item(u"region:us"_s).kind, PickerItemKind::StartingRow);
        QCOMPARE(s.regionService->wokenIDs, QStringList{u"us"_s});
        QCOMPARE(s.sheet.selectionFeedback(), 0);

        s.regionService->fetches.reset();
        s.regionService->fetches.answer({server(u"us"_s, RegionStatus::online)});
        s.clock->advance(5s);
        QTRY_COMPARE(s.item(u"region:us"_s).kind, PickerItemKind::ServerRow);
        QTRY_VERIFY(s.item(u"region:us"_s).row.isSelected);
        QCOMPARE(s.connections.selectedRegionID(), u"us"_s);
        QCOMPARE(s.dismissals.size(), 0);
        QCOMPARE(s.applied, 0);
    }

    // A route whose exit the store refuses keeps the sheet; an accepted one closes it,
    // with the callback only when the route in use changed.
    void choicesGoThroughTheStore()
    {
        Stores s({route(u"auto"_s, ConnectionKind::automatic), direct(u"nl"_s), direct(u"de"_s)},
                 {server(u"nl"_s, RegionStatus::online, {}, false), server(u"de"_s, RegionStatus::offline, {}, false)});
        s.sheet.activate(s.row(u"conn:de"_s));
        QCOMPARE(s.sheet.selectionFeedback(), 1);
        QCOMPARE(s.connections.selectedRegionID(), u"auto"_s);
        QVERIFY(s.item(u"conn:auto"_s).row.isSelected);
        QCOMPARE(s.dismissals.size(), 0);

        s.sheet.activate(s.row(u"conn:nl"_s));
        QTRY_COMPARE(s.dismissals.size(), 1);
        QCOMPARE(s.applied, 1);
        QCOMPARE(s.connections.currentConnection()->id, u"nl"_s);
        QVERIFY(s.item(u"conn:nl"_s).row.isSelected && !s.item(u"conn:auto"_s).row.isSelected);

        s.sheet.activate(s.row(u"conn:nl"_s));
        QTRY_COMPARE(s.dismissals.size(), 2);
        QCOMPARE(s.applied, 1);
    }

    // A failed refresh shows the saved list as stale until a refresh succeeds; the
    // entry catalogue's failures never show.
    void failedRefreshShowsTheSavedList()
    {
        Stores s({route(u"auto"_s, ConnectionKind::automatic)}, {});
        s.entryService->fetches.reset();
        s.entryService->fetches.fail(failure());
        test::await(s.sheet.refreshAll());
        QCOMPARE(s.sheet.listState(), PickerListState::List);

        s.regionService->fetches.reset();
        s.regionService->fetches.fail(failure());
        OneShot<void> held = s.regionService->fetches.holdLast();
        Pending<void> refresh(s.sheet.refreshAll());
        QTRY_VERIFY(s.connectionService->fetches.calls() == 3 && s.sheet.isBusy());
        QCOMPARE(s.sheet.listState(), PickerListState::List);
        held.resolve();
        QVERIFY(refresh.waitDone());
        QVERIFY(!s.sheet.isBusy());
        QCOMPARE(s.sheet.listState(), PickerListState::StaleList);

        s.regionService->fetches.reset();
        s.regionService->fetches.answer({server(u"us"_s)});
        test::await(s.sheet.refreshAll());
        QCOMPARE(s.sheet.listState(), PickerListState::List);
    }
};

QTEST_GUILESS_MAIN(PickerStoresTest)
#include "tst_picker_stores.moc"
