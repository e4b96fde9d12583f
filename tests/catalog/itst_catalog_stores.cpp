#include "catalog/EntryStore.h"
#include "catalog/RegionStore.h"
#include "core/APIError.h"

#include <QTest>

#include "CatalogFakes.h"
#include "catalog/SelectionOwners.h"
#include "support/Await.h"
#include "support/FakeServiceClient.h"
#include "support/ManualClock.h"
#include "support/TestHome.h"

using namespace kovra;
using namespace kovra::test;
using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(kovra::RegionStatus)
Q_DECLARE_METATYPE(kovra::test::FakeReply)

namespace {

constexpr std::chrono::milliseconds kInterval = 5000ms;
const QString kA = u"a-aws"_s;
const QString kB = u"b-aws"_s;

Region onDemand(const QString &id, RegionStatus status = RegionStatus::stopped) { return {id, id, {}, {}, false, false, {}, status, {}, true}; }
QList<RecordingOwner::Selection> selectedOnce(const QString &id) { return {{id, false, false, false}}; }

// An on-demand region and a fixed one, as the service sends them.
QByteArray regionsReply(const QString &status)
{
    return uR"([{"id":"us-aws","name":"США","flag":"🇺🇸","match_keywords":["US-AWS"],"status":"%1",)"
           uR"("is_ephemeral":true},{"id":"nl","name":"Нидерланды","flag":"🇳🇱","status":"online"}])"_s.arg(status)
        .toUtf8();
}
const QByteArray kEntriesReply = R"([{"id":"ru-1","name":"РФ-1"},{"id":"ru-5","name":"РФ-5","is_default":true}])";

// Both stores on a manual clock over the scripted services, or over the real ones
// when a client is given.
struct Fixture {
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    std::shared_ptr<FakeRegions> regions = std::make_shared<FakeRegions>();
    RecordingOwner owner;
    std::unique_ptr<RegionStore> regionStore;
    std::unique_ptr<EntryStore> entryStore;

    explicit Fixture(int maxPollTicks = 3, APIClient *api = nullptr, std::shared_ptr<Defaults> defaults = Defaults::inMemory())
    {
        const AppGroupStore appGroup(defaults, nullptr);
        const std::shared_ptr<RegionsProviding> regionService =
            api ? std::shared_ptr<RegionsProviding>(std::make_shared<RegionsService>(api)) : regions;
        regionStore = std::make_unique<RegionStore>(regionService, appGroup, RegionStore::Options{kInterval, maxPollTicks, clock});
        entryStore = std::make_unique<EntryStore>(std::make_shared<EntriesService>(api), appGroup);
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

// The region store's wake-up and polling over scripted services, and both stores'
// refresh and the wake's failures over the fake service.
class CatalogStoresTest : public QObject {
    Q_OBJECT

    TestHome m_home{TestHome::PathsOnly};
    FakeServiceClient m_api{u"tok"_s};
    FakeService *m_fake = &m_api.service;

private Q_SLOTS:
    void init() { m_fake->reset(); }
    void cleanup() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    // Only a stopped region is woken, and once: the waking mark is set before the
    // request goes out, so a second tap meanwhile sends nothing.
    void onlyAStoppedRegionNotYetWakingIsWoken()
    {
        Fixture f;
        f.report({onDemand(kA)});
        test::await(f.regionStore->wake(onDemand(kA, RegionStatus::starting)));
        QVERIFY(f.regions->wokenIDs.isEmpty() && !f.regionStore->isPolling());

        OneShot<void> gate = f.regions->wakes.holdLast();
        Pending<void> wake(f.regionStore->wake(onDemand(kA)));
        test::await(f.regionStore->wake(onDemand(kA)));
        gate.resolve();
        QVERIFY(wake.waitDone());
        QCOMPARE(f.regions->wokenIDs, QStringList{kA});
        QVERIFY(f.regionStore->waking().contains(kA) && f.regionStore->pendingAutoSelectID() == kA);
        QVERIFY(f.regionStore->isPolling());
    }

    void aWokenRegionIsFollowedUntilItSettles_data()
    {
        QTest::addColumn<QList<RegionStatus>>("polled");
        QTest::addColumn<bool>("selected");
        const auto starting = RegionStatus::starting, online = RegionStatus::online;
        QTest::newRow("boots, then online") << QList{starting, starting, online} << true;
        QTest::newRow("online at once") << QList{online} << true;
        QTest::newRow("boots, then offline") << QList{starting, RegionStatus::offline} << false;
    }
    void aWokenRegionIsFollowedUntilItSettles()
    {
        QFETCH(QList<RegionStatus>, polled);
        QFETCH(bool, selected);
        Fixture f(10);
        f.wake(kA);
        const QDateTime stamp = f.clock->now();

        for (RegionStatus status : polled) {
            f.report({onDemand(kA, status)});
            f.tick();
            if (status == RegionStatus::starting) // the service has taken the wake; the stamp stays while it boots
                QVERIFY(!f.regionStore->waking().contains(kA) && f.regionStore->wakeStartedAt().value(kA) == stamp);
        }
        f.tick(5);

        QCOMPARE(f.regions->fetches.calls(), 1 + polled.size());
        QVERIFY(f.regionStore->waking().isEmpty() && f.regionStore->wakeStartedAt().isEmpty());
        QVERIFY(!f.regionStore->pendingAutoSelectID() && !f.regionStore->isPolling());
        QCOMPARE(f.owner.selections, selected ? selectedOnce(kA) : QList<RecordingOwner::Selection>());
    }

    // A later wake takes the auto-select over; a definitive failure of the earlier one
    // arriving after it leaves it alone.
    void onlyTheLastWokenRegionIsAutoSelected()
    {
        Fixture f(10);
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

        f.report({onDemand(kA, RegionStatus::online), onDemand(kB, RegionStatus::online)});
        f.tick();

        QCOMPARE(f.owner.selections, selectedOnce(kB));
    }

    // Each budget allows maxPollTicks polls; a wake renews it, also while the loop runs.
    void aSpentBudgetRollsTheWakeBack_data()
    {
        QTest::addColumn<int>("maxPollTicks");
        QTest::addColumn<QList<Region>>("polled");
        QTest::addColumn<int>("secondWakeAfter");
        QTest::addColumn<int>("fetches");
        QTest::newRow("stays stopped, 90 ticks") << 90 << QList{onDemand(kA)} << -1 << 1 + 90;
        QTest::newRow("gone from the catalogue") << 3 << QList{onDemand(kB, RegionStatus::online)} << -1 << 1 + 3;
        // The third poll of the first budget is asleep when the second wake renews it.
        QTest::newRow("renewed after two polls") << 3 << QList{onDemand(kA), onDemand(kB)} << 2 << 2 + 3 + 3;
    }
    void aSpentBudgetRollsTheWakeBack()
    {
        QFETCH(int, maxPollTicks);
        QFETCH(QList<Region>, polled);
        QFETCH(int, secondWakeAfter);
        Fixture f(maxPollTicks);
        f.wake(kA);
        f.report(polled);
        if (secondWakeAfter >= 0) {
            f.tick(secondWakeAfter);
            f.wake(kB, polled);
        }
        f.tick(maxPollTicks + 5);

        QTEST(f.regions->fetches.calls(), "fetches");
        QVERIFY(!f.regionStore->isPolling() && f.clock->pendingTimers() == 0);
        QVERIFY(!f.regionStore->pendingAutoSelectID() && f.regionStore->waking().isEmpty());
        QVERIFY(f.regionStore->wakeStartedAt().isEmpty() && f.owner.selections.isEmpty());
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

    // Only a non-empty list replaces the cached or built-in one, is cached and goes to
    // the owner. After a 400, only a new list clears the region store's error.
    void aRefreshKeepsTheListUnlessItGetsANewOne_data()
    {
        QTest::addColumn<QString>("store");
        QTest::addColumn<bool>("cached");
        QTest::addColumn<FakeReply>("reply");
        QTest::addColumn<bool>("replaced");
        for (const QString &store : {u"regions"_s, u"entries"_s}) {
            const QByteArray list = store == u"regions"_s ? regionsReply(u"online"_s) : kEntriesReply;
            const auto row = [&store](const char *name) -> QTestData & {
                return QTest::addRow("%s: %s", qPrintable(store), name) << store;
            };
            row("list") << true << FakeReply::json(200, list) << true;
            row("empty") << false << FakeReply::json(200, "[]") << false;
            row("401, cache kept") << true << FakeReply::json(401) << false;
            row("a record without id") << false << FakeReply::json(200, R"([{"name":"x","flag":"x"}])") << false;
        }
    }
    void aRefreshKeepsTheListUnlessItGetsANewOne()
    {
        QFETCH(QString, store);
        QFETCH(bool, cached);
        QFETCH(FakeReply, reply);
        QFETCH(bool, replaced);
        const bool regions = store == u"regions"_s;
        const QString key = regions ? AppGroupKey::regionCatalogJSON : AppGroupKey::entryCatalogJSON;
        m_fake->script(FakeService::anyHost, "GET", u"/"_s + store, {FakeReply::json(400), reply});
        auto defaults = Defaults::inMemory();
        if (cached)
            defaults->set(key, QByteArray(R"([{"id":"cached","name":"C","flag":"x"}])"));
        Fixture s(3, &m_api.client, defaults);
        const auto firstID = [&] { return regions ? s.regionStore->regions().first().id : s.entryStore->entries().first().id; };
        const QString before = firstID();
        const std::optional<QByteArray> storedBefore = defaults->data(key);
        const auto refresh = [&] { test::await(regions ? s.regionStore->refresh() : s.entryStore->refresh()); };
        refresh();
        refresh();

        QCOMPARE(firstID(), replaced ? (regions ? u"us-aws"_s : u"ru-1"_s) : before);
        QCOMPARE(defaults->data(key) == storedBefore, !replaced);
        QCOMPARE(s.owner.listsSeen, replaced ? 1 : 0);
        QCOMPARE(bool(s.regionStore->lastError()), regions && !replaced);
    }

    // 404, 401, 410 and an id that cannot be addressed end the wake at once; any other
    // failure keeps watching the region through refreshes and polling.
    void wakeFailuresAreDefinitiveOrTransient_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<FakeReply>("reply");
        QTest::addColumn<bool>("definitive");
        const QString id = u"us-aws"_s;
        QTest::newRow("410") << id << FakeReply::json(410) << true;
        QTest::newRow("id that is no path segment") << u".."_s << FakeReply::json(200, "{}") << true;
        QTest::newRow("500") << id << FakeReply::json(500) << false;
        QTest::newRow("no host answers") << id << FakeReply::close() << false;
    }
    void wakeFailuresAreDefinitiveOrTransient()
    {
        QFETCH(QString, id);
        QFETCH(FakeReply, reply);
        QFETCH(bool, definitive);
        m_fake->script(FakeService::anyHost, "POST", u"/regions/%1/wake"_s.arg(id), {reply});
        m_fake->script(FakeService::anyHost, "GET", u"/regions"_s, {FakeReply::json(200, regionsReply(u"stopped"_s))});
        Fixture s(3, &m_api.client);
        test::await(s.regionStore->wake(onDemand(id)));

        QCOMPARE(s.regionStore->waking().contains(id), !definitive);
        QCOMPARE(s.regionStore->pendingAutoSelectID() == id, !definitive);
        const QList<RecordedRequest> requests = m_fake->requests();
        QCOMPARE(std::count_if(requests.begin(), requests.end(), [](const auto &r) { return r.method == "GET"; }),
                 definitive ? 0 : 1);
        QCOMPARE(s.regionStore->isPolling(), !definitive);
        // A successful refresh after a transient failure clears the error again.
        QCOMPARE(bool(s.regionStore->lastError()), definitive);
    }
};

QTEST_GUILESS_MAIN(CatalogStoresTest)
#include "itst_catalog_stores.moc"
