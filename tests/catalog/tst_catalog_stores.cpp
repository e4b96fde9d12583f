#include "catalog/EntryStore.h"
#include "catalog/RegionStore.h"
#include "core/APIError.h"

#include <QTest>

#include "CatalogFakes.h"
#include "support/Await.h"
#include "support/ManualClock.h"

using namespace kovra;
using namespace kovra::test;
using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(kovra::RegionStatus)

namespace {

constexpr std::chrono::milliseconds kInterval = 5000ms;
const QString kA = u"a-aws"_s;
const QString kB = u"b-aws"_s;

Region onDemand(const QString &id, RegionStatus status = RegionStatus::stopped)
{
    Region r;
    r.id = id;
    r.name = id;
    r.status = status;
    r.isEphemeral = true;
    return r;
}

QList<RecordingOwner::Selection> selectedOnce(const QString &id)
{
    return {{id, false, false, false}};
}

struct Fixture {
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    std::shared_ptr<FakeRegions> regions = std::make_shared<FakeRegions>();
    std::shared_ptr<FakeEntries> entries = std::make_shared<FakeEntries>();
    RecordingOwner owner;
    std::unique_ptr<RegionStore> regionStore;
    std::unique_ptr<EntryStore> entryStore;

    explicit Fixture(int maxPollTicks = 3)
    {
        const AppGroupStore appGroup(Defaults::inMemory(), nullptr);
        regionStore = std::make_unique<RegionStore>(regions, appGroup,
                                                    RegionStore::Options{kInterval, maxPollTicks, clock});
        entryStore = std::make_unique<EntryStore>(entries, appGroup);
        regionStore->setSelectionOwner(&owner);
        entryStore->setSelectionOwner(&owner);
        regions->wakes.answer({u"starting"_s});
    }
    // Polls from now on report `reported`.
    void report(const QList<Region> &reported)
    {
        regions->fetches.reset();
        regions->fetches.answer(reported);
    }
    void wake(const QString &id, const QList<Region> &reported = {onDemand(kA)})
    {
        report(reported);
        test::await(regionStore->wake(onDemand(id)));
    }
    void tick(int n = 1) { clock->advance(kInterval * n); }
};

} // namespace

class CatalogStoresTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The waking mark is set before the request goes out, so a second tap meanwhile sends nothing.
    void onlyAStoppedRegionNotYetWakingIsWoken_data()
    {
        QTest::addColumn<RegionStatus>("status");
        QTest::addColumn<bool>("secondTap");
        QTest::addColumn<bool>("sent");
        QTest::newRow("stopped") << RegionStatus::stopped << false << true;
        QTest::newRow("stopped, tapped twice") << RegionStatus::stopped << true << true;
        QTest::newRow("online") << RegionStatus::online << false << false;
        QTest::newRow("starting") << RegionStatus::starting << false << false;
        QTest::newRow("unknown") << RegionStatus::unknown << false << false;
    }
    void onlyAStoppedRegionNotYetWakingIsWoken()
    {
        QFETCH(RegionStatus, status);
        QFETCH(bool, secondTap);
        QFETCH(bool, sent);
        Fixture f;
        f.report({onDemand(kA)});
        LogCapture log;
        OneShot<void> gate = f.regions->wakes.holdLast();
        Pending<void> wake(f.regionStore->wake(onDemand(kA, status)));
        if (secondTap)
            test::await(f.regionStore->wake(onDemand(kA, status)));
        gate.resolve();
        QVERIFY(wake.waitDone());

        QCOMPARE(f.regions->wokenIDs, sent ? QStringList{kA} : QStringList());
        QCOMPARE(f.regionStore->waking().contains(kA), sent);
        QCOMPARE(f.regionStore->pendingAutoSelectID() == kA, sent);
        QCOMPARE(f.regionStore->wakeStartedAt().value(kA), sent ? f.clock->now() : QDateTime());
        QCOMPARE(f.regions->fetches.calls(), sent ? 1 : 0);
        QCOMPARE(f.regionStore->isPolling(), sent);
        QCOMPARE(log.count(u"wake accepted: region=a-aws status=starting"_s), sent ? 1 : 0);
    }

    void aWokenRegionIsFollowedUntilItSettles_data()
    {
        QTest::addColumn<QList<RegionStatus>>("polled");
        QTest::addColumn<bool>("selected");
        QTest::addColumn<QString>("line");
        const QString complete = u"wake complete: auto-selecting region=a-aws"_s;
        const auto starting = RegionStatus::starting, online = RegionStatus::online;
        QTest::newRow("boots, then online") << QList{starting, starting, online} << true << complete;
        QTest::newRow("online at once") << QList{online} << true << complete;
        QTest::newRow("boots, then offline") << QList{starting, RegionStatus::offline} << false
                                             << u"wake ended offline: region=a-aws"_s;
    }
    void aWokenRegionIsFollowedUntilItSettles()
    {
        QFETCH(QList<RegionStatus>, polled);
        QFETCH(bool, selected);
        QFETCH(QString, line);
        Fixture f(10);
        LogCapture log;
        f.wake(kA);
        const QDateTime stamp = f.clock->now();

        for (RegionStatus status : polled) {
            f.report({onDemand(kA, status)});
            f.tick();
            if (status == RegionStatus::starting) {
                // The service has taken the wake; the stamp stays while the region boots.
                QVERIFY(!f.regionStore->waking().contains(kA));
                QCOMPARE(f.regionStore->wakeStartedAt().value(kA), stamp);
                QVERIFY(f.regionStore->isPolling());
            }
        }
        f.tick(5);

        QCOMPARE(f.regions->fetches.calls(), 1 + polled.size());
        QVERIFY(f.regionStore->waking().isEmpty() && f.regionStore->wakeStartedAt().isEmpty());
        QVERIFY(!f.regionStore->pendingAutoSelectID() && !f.regionStore->isPolling());
        QCOMPARE(log.count(line), 1);
        QCOMPARE(f.owner.selections, selected ? selectedOnce(kA) : QList<RecordingOwner::Selection>());
    }

    // A later wake takes the auto-select over; a definitive failure of the earlier one
    // arriving after it leaves it alone.
    void onlyTheLastWokenRegionIsAutoSelected()
    {
        Fixture f(10);
        LogCapture log;
        f.regions->wakes.reset();
        f.regions->wakes.fail(std::make_exception_ptr(APIError::server(404)));
        OneShot<void> gate = f.regions->wakes.holdLast();
        f.regions->wakes.answer({u"starting"_s});
        f.report({onDemand(kA), onDemand(kB)});
        Pending<void> wakeA(f.regionStore->wake(onDemand(kA)));
        f.wake(kB, {onDemand(kA), onDemand(kB)});
        gate.resolve();
        QVERIFY(wakeA.waitDone());
        QCOMPARE(f.regionStore->waking(), QSet<QString>{kB});
        QCOMPARE(f.regionStore->pendingAutoSelectID(), std::optional(kB));
        QCOMPARE(f.regionStore->wakeStartedAt().size(), 2);

        f.report({onDemand(kA, RegionStatus::online), onDemand(kB, RegionStatus::online)});
        f.tick();

        QCOMPARE(f.owner.selections, selectedOnce(kB));
        QCOMPARE(log.texts(u"Regions"_s).filter(u"wake "_s),
                 (QStringList{u"wake accepted: region=b-aws status=starting"_s,
                              u"wake failed (definitive): region=a-aws server 404"_s,
                              u"wake complete: auto-selecting region=b-aws"_s}));
    }

    // Each budget allows maxPollTicks polls; a wake renews it, also while the loop runs.
    void aSpentBudgetRollsTheWakeBack_data()
    {
        QTest::addColumn<int>("maxPollTicks");
        QTest::addColumn<QList<Region>>("polled");
        QTest::addColumn<int>("secondWakeAfter");
        QTest::addColumn<int>("fetches");
        QTest::newRow("stays stopped, 90 ticks") << 90 << QList{onDemand(kA)} << -1 << 1 + 90;
        QTest::newRow("keeps booting") << 3 << QList{onDemand(kA, RegionStatus::starting)} << -1 << 1 + 3;
        QTest::newRow("gone from the catalogue") << 3 << QList{onDemand(kB, RegionStatus::online)} << -1 << 1 + 3;
        // The third poll of the first budget is asleep when the second wake renews it.
        QTest::newRow("renewed after two polls") << 3 << QList{onDemand(kA), onDemand(kB)} << 2 << 2 + 3 + 3;
        QTest::newRow("no budget") << 0 << QList{onDemand(kA)} << -1 << 1;
    }
    void aSpentBudgetRollsTheWakeBack()
    {
        QFETCH(int, maxPollTicks);
        QFETCH(QList<Region>, polled);
        QFETCH(int, secondWakeAfter);
        QFETCH(int, fetches);
        Fixture f(maxPollTicks);
        LogCapture log;
        f.wake(kA);
        f.report(polled);
        if (secondWakeAfter >= 0) {
            f.tick(secondWakeAfter);
            f.wake(kB, polled);
        }
        f.tick(maxPollTicks + 5);

        const bool rolledBack = maxPollTicks > 0;
        QCOMPARE(f.regions->fetches.calls(), fetches);
        QVERIFY(!f.regionStore->isPolling());
        QCOMPARE(f.clock->pendingTimers(), 0);
        QCOMPARE(log.count(u"boot polling budget spent — wake state rolled back"_s), rolledBack ? 1 : 0);
        QCOMPARE(f.regionStore->pendingAutoSelectID().has_value(), !rolledBack);
        QCOMPARE(f.regionStore->waking().isEmpty(), rolledBack);
        QCOMPARE(f.regionStore->wakeStartedAt().isEmpty(), rolledBack);
        QVERIFY(f.owner.selections.isEmpty());
    }

    // A refresh asked for while one runs returns at once without a request.
    void aRefreshWhileOneRunsReturnsAtOnce_data()
    {
        QTest::addColumn<bool>("regions");
        QTest::newRow("regions") << true;
        QTest::newRow("entries") << false;
    }
    void aRefreshWhileOneRunsReturnsAtOnce()
    {
        QFETCH(bool, regions);
        Fixture f;
        f.report({onDemand(kA, RegionStatus::online)});
        f.entries->fetches.answer({{u"ru-9"_s, u"РФ-9"_s, u"🇷🇺"_s, EntryKind::relay, false, std::nullopt}});
        const auto refresh = [&] { return regions ? f.regionStore->refresh() : f.entryStore->refresh(); };
        const auto loading = [&] { return regions ? f.regionStore->isLoading() : f.entryStore->isLoading(); };
        OneShot<void> gate = regions ? f.regions->fetches.holdLast() : f.entries->fetches.holdLast();

        Pending<void> first(refresh());
        QVERIFY(loading());
        Pending<void> second(refresh());
        QVERIFY(second.isDone());
        QCOMPARE(f.regions->fetches.calls() + f.entries->fetches.calls(), 1);
        gate.resolve();
        QVERIFY(first.waitDone());

        QVERIFY(!loading());
        QCOMPARE(f.owner.listsSeen, 1);
    }

    // A store may go while its loop sleeps or a request is out; nothing of it runs on.
    void aStoreMayGoWhileBusy_data()
    {
        QTest::addColumn<QString>("busyWith");
        QTest::newRow("poll sleep") << u"sleep"_s;
        QTest::newRow("poll refresh") << u"poll refresh"_s;
        QTest::newRow("wake request") << u"wake"_s;
    }
    void aStoreMayGoWhileBusy()
    {
        QFETCH(QString, busyWith);
        Fixture f;
        std::optional<OneShot<void>> gate;
        std::optional<Pending<void>> task;
        if (busyWith == u"wake"_s) {
            gate = f.regions->wakes.holdLast();
            task.emplace(f.regionStore->wake(onDemand(kA)));
        } else {
            f.wake(kA);
            f.tick();
            if (busyWith == u"poll refresh"_s) {
                gate = f.regions->fetches.holdLast();
                f.tick();
                QVERIFY(f.regionStore->isLoading());
            }
        }
        const int fetches = f.regions->fetches.calls();

        f.regionStore.reset();
        if (gate)
            gate->resolve();
        f.tick(10);

        QVERIFY(!task || task->waitDone());
        QCOMPARE(f.regions->fetches.calls(), fetches);
        QCOMPARE(f.owner.listsSeen, busyWith == u"wake"_s ? 0 : 2);
    }
};

QTEST_GUILESS_MAIN(CatalogStoresTest)
#include "tst_catalog_stores.moc"
