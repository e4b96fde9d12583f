#include "catalog/EntryStore.h"
#include "catalog/RegionStore.h"
#include "core/APIClient.h"

#include <QTest>

#include "CatalogFakes.h"
#include "support/Await.h"
#include "support/FakeService.h"
#include "support/FixedTokenProvider.h"
#include "support/ManualClock.h"
#include "support/TestHome.h"

using namespace kovra;
using namespace kovra::test;
using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(kovra::test::FakeReply)

namespace {

// An on-demand region and a fixed one, as the service sends them.
QByteArray regionsReply(const QString &status)
{
    return uR"([{"id":"us-aws","name":"США","flag":"🇺🇸","match_keywords":["US-AWS"],"status":"%1",)"
           uR"("is_ephemeral":true},{"id":"nl","name":"Нидерланды","flag":"🇳🇱","status":"online"}])"_s.arg(status)
        .toUtf8();
}
const QByteArray kEntriesReply = R"([{"id":"ru-1","name":"РФ-1"},{"id":"ru-5","name":"РФ-5","is_default":true}])";

QStringList idsOf(const auto &list)
{
    QStringList ids;
    for (const auto &item : list)
        ids << item.id;
    return ids;
}

// The stores over the real services and the test's client.
struct Stores {
    std::shared_ptr<Defaults> defaults;
    RecordingOwner owner;
    RegionStore regions;
    EntryStore entries;

    explicit Stores(APIClient *api, std::shared_ptr<Defaults> appGroup = Defaults::inMemory())
        : defaults(std::move(appGroup)),
          regions(std::make_shared<RegionsService>(api), AppGroupStore(defaults, nullptr),
                  RegionStore::Options{5000ms, 2, std::make_shared<ManualClock>()}),
          entries(std::make_shared<EntriesService>(api), AppGroupStore(defaults, nullptr))
    {
        regions.setSelectionOwner(&owner);
        entries.setSelectionOwner(&owner);
    }
};

} // namespace

class CatalogStoresTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<FakeService> m_fake;
    std::unique_ptr<HttpSession> m_session;
    std::unique_ptr<APIClient> m_client;

private Q_SLOTS:
    void initTestCase()
    {
        m_home = std::make_unique<TestHome>(TestHome::PathsOnly);
        m_fake = std::make_unique<FakeService>();
        m_session = APIClient::makeDefaultSession();
        m_client = std::make_unique<APIClient>(APIClient::Sessions{m_session.get(), m_session.get()}, m_fake->baseURLs(),
                                               std::make_shared<FixedTokenProvider>(u"tok"_s),
                                               AppGroupStore(Defaults::inMemory(), nullptr));
    }
    void init() { m_fake->reset(); }
    void cleanup() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }
    void cleanupTestCase()
    {
        m_client.reset();
        m_session.reset();
        m_fake.reset();
        m_home.reset();
    }

    // Only a non-empty list replaces the cached or built-in one, is cached and goes to
    // the owner. A 400 before shows what each outcome does to the region store's error.
    void aRefreshKeepsTheListUnlessItGetsANewOne_data()
    {
        QTest::addColumn<QString>("store");
        QTest::addColumn<bool>("cached");
        QTest::addColumn<FakeReply>("reply");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("lastError");
        const QString empty = u"refresh: empty catalogue — keeping cache/fallback"_s;
        const QString unauthorized = u"refresh 401: keeping cache/fallback"_s;
        for (const QString store : {u"regions"_s, u"entries"_s}) {
            const QByteArray list = store == u"regions"_s ? regionsReply(u"online"_s) : kEntriesReply;
            const auto row = [&store](const char *name) -> QTestData & {
                return QTest::addRow("%s: %s", qPrintable(store), name) << store;
            };
            row("list") << true << FakeReply::json(200, list) << u"refresh ok: 2 "_s + store << QString();
            row("empty") << false << FakeReply::json(200, "[]") << empty << u"server 400"_s;
            row("401, cache kept") << true << FakeReply::json(401) << unauthorized << u"401 unauthorized"_s;
            row("401, built-in kept") << false << FakeReply::json(401) << unauthorized << u"401 unauthorized"_s;
            row("500") << true << FakeReply::json(500) << u"refresh failed: server 500 — keeping cache/fallback"_s
                       << u"server 500"_s;
            row("a record without id") << false << FakeReply::json(200, R"([{"name":"x","flag":"x"}])")
                                       << u"refresh failed: decode keyNotFound id"_s << u"decode keyNotFound id"_s;
        }
    }
    void aRefreshKeepsTheListUnlessItGetsANewOne()
    {
        QFETCH(QString, store);
        QFETCH(bool, cached);
        QFETCH(FakeReply, reply);
        QFETCH(QString, line);
        QFETCH(QString, lastError);
        const bool regions = store == u"regions"_s;
        const QString key = regions ? AppGroupKey::regionCatalogJSON : AppGroupKey::entryCatalogJSON;
        m_fake->script(FakeService::anyHost, "GET", u"/"_s + store, {FakeReply::json(400), reply});
        auto defaults = Defaults::inMemory();
        if (cached)
            defaults->set(key, QByteArray(R"([{"id":"cached","name":"C","flag":"x"}])"));
        Stores s(m_client.get(), defaults);
        const auto ids = [&] { return regions ? idsOf(s.regions.regions()) : idsOf(s.entries.entries()); };
        const QStringList before = ids();
        QCOMPARE(before.first() == u"cached"_s, cached);
        const std::optional<QByteArray> storedBefore = defaults->data(key);
        const auto refresh = [&] { test::await(regions ? s.regions.refresh() : s.entries.refresh()); };
        refresh();
        LogCapture log;
        refresh();

        const bool replaced = line.startsWith(u"refresh ok"_s);
        const QStringList lines = log.texts(regions ? u"Regions"_s : u"Entries"_s);
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().startsWith(line), qPrintable(lines.first()));
        const QStringList fresh = regions ? QStringList{u"us-aws"_s, u"nl"_s} : QStringList{u"ru-1"_s, u"ru-5"_s};
        QCOMPARE(ids(), replaced ? fresh : before);
        QCOMPARE(defaults->data(key) == storedBefore, !replaced);
        QCOMPARE(s.owner.listsSeen, replaced ? 1 : 0);
        if (replaced && regions)
            QCOMPARE(s.regions.regions().first().matchKeywords, QStringList{u"us-aws"_s});
        // The selected entry "auto" is gone from a new entry list: its default one takes its place.
        QCOMPARE(s.owner.selectedEntryID, replaced && !regions ? u"ru-5"_s : u"auto"_s);
        const QString errorAfter = s.regions.lastError() ? descriptionOf(s.regions.lastError()) : QString();
        if (regions)
            QVERIFY2(lastError.isEmpty() ? errorAfter.isEmpty() : errorAfter.startsWith(lastError),
                     qPrintable(errorAfter));
        QVERIFY(!s.regions.isLoading() && !s.entries.isLoading());
    }

    // 404, 401, 410 and an id that cannot be addressed end the wake at once; any other
    // failure keeps watching the region through refreshes and polling.
    void wakeFailuresAreDefinitiveOrTransient_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<FakeReply>("reply");
        QTest::addColumn<bool>("definitive");
        QTest::addColumn<QString>("line");
        const QString id = u"us-aws"_s;
        const QString ended = u"wake failed (definitive): region=us-aws "_s;
        const QString watching = u"wake transient — keep watching: region=us-aws "_s;
        QTest::newRow("accepted") << id << FakeReply::json(200, R"({"status":"starting"})") << false
                                  << u"wake accepted: region=us-aws status=starting"_s;
        QTest::newRow("404") << id << FakeReply::json(404) << true << ended + u"server 404"_s;
        QTest::newRow("401") << id << FakeReply::json(401) << true << ended + u"401 unauthorized"_s;
        QTest::newRow("410") << id << FakeReply::json(410) << true << ended + u"410 gone"_s;
        QTest::newRow("409") << id << FakeReply::json(409) << false << watching + u"409 conflict"_s;
        QTest::newRow("500") << id << FakeReply::json(500) << false << watching + u"server 500"_s;
        QTest::newRow("reply without status") << id << FakeReply::json(200, "{}") << false
                                              << watching + u"decode keyNotFound status"_s;
        QTest::newRow("no host answers") << id << FakeReply::close() << false << watching + u"network: "_s;
        QTest::newRow("id that is no path segment") << u".."_s << FakeReply::json(200, "{}") << true
                                                    << u"wake failed (definitive): region=.. network: unsupported URL"_s;
    }
    void wakeFailuresAreDefinitiveOrTransient()
    {
        QFETCH(QString, id);
        QFETCH(FakeReply, reply);
        QFETCH(bool, definitive);
        QFETCH(QString, line);
        m_fake->script(FakeService::anyHost, "POST", u"/regions/%1/wake"_s.arg(id), {reply});
        m_fake->script(FakeService::anyHost, "GET", u"/regions"_s, {FakeReply::json(200, regionsReply(u"stopped"_s))});
        Stores s(m_client.get());
        Region region = s.regions.regions().first();
        region.id = id;
        region.status = RegionStatus::stopped;
        LogCapture log;

        test::await(s.regions.wake(region));

        const QStringList lines = log.texts(u"Regions"_s);
        QVERIFY2(!lines.isEmpty() && lines.first().startsWith(line), qPrintable(lines.join(u'\n')));
        QCOMPARE(s.regions.waking().contains(id), !definitive);
        QCOMPARE(s.regions.pendingAutoSelectID() == id, !definitive);
        QVERIFY(s.regions.wakeStartedAt().contains(id));
        const QList<RecordedRequest> requests = m_fake->requests();
        QCOMPARE(std::count_if(requests.begin(), requests.end(), [](const auto &r) { return r.method == "GET"; }),
                 definitive ? 0 : 1);
        QCOMPARE(s.regions.isPolling(), !definitive);
        // A successful refresh after a transient failure clears the error again.
        QCOMPARE(bool(s.regions.lastError()), definitive);
    }
};

QTEST_GUILESS_MAIN(CatalogStoresTest)
#include "itst_catalog_stores.moc"
