#include "account/SubscriptionService.h"
#include "account/SubscriptionStore.h"
#include "catalog/ConnectionStore.h"
#include "catalog/EntryStore.h"
#include "catalog/RegionStore.h"
#include "platform/VPNError.h"
#include "tunnel/ProviderConfiguration.h"
#include "tunnel/SystemExtensionActivator.h"
#include "tunnel/TunnelController.h"

#include <QJsonArray>
#include <QSignalSpy>
#include <QTest>

#include <variant>

#include "CatalogFakes.h"
#include "support/Await.h"
#include "support/DefaultsContents.h"
#include "support/FakeProvider.h"
#include "support/FakeServiceClient.h"
#include "support/TestHome.h"

using namespace kovra;
using namespace kovra::test;
using namespace std::chrono_literals;
using namespace Qt::StringLiterals;
using Reply = FakeProvider::Reply;

namespace {

const QString kRegion = AppGroupKey::selectedRegionID, kKeywords = AppGroupKey::selectedRegionKeywords,
              kEntry = AppGroupKey::preferredEntry;

template<class T>
T builtIn(const QString &id)
{
    const QList<T> list = T::fallback();
    return *std::find_if(list.begin(), list.end(), [&id](const T &item) { return item.id == id; });
}
QStringList keywordsOf(const QString &id) { return builtIn<Region>(id).matchKeywords; }
QStringList split(const QString &items) { return items.isEmpty() ? QStringList() : items.split('|'); }

// Plain built-in records under other ids (neither on demand nor default).
template<class T>
QList<T> renamed(const QString &ids)
{
    QList<T> list;
    for (const QString &id : ids.split(' ')) {
        list << T::fallback().at(1);
        list.last().id = id;
        if constexpr (std::is_same_v<T, Region>)
            list.last().isAuto = id == "auto";
    }
    return list;
}

// The store over the built-in (or stored) catalogues, the test's service and, unless
// left out, a controller attached to a fake provider whose tunnel is connected. Its
// reload steps record each reload with the entry stored when it began; the first
// `installsToHold` installs wait until the reload is superseded.
struct Rig {
    Rig(APIClient *api, const QVariantMap &stored, bool withController = true)
        : defaults(inMemory(stored)),
          preferences(tunnelOptions(home.paths(), provider.socketPath(), nullptr, 6s, 20ms)),
          activation(provider.socketPath()), activator(activation),
          controller(withController ? makeController() : nullptr),
          regions(regionService, AppGroupStore(inMemory(stored), nullptr)),
          entries(entryService, AppGroupStore(inMemory(stored), nullptr)),
          subscription(std::make_shared<SubscriptionService>(api), AppGroupStore(defaults, nullptr), nullptr),
          store(std::make_shared<ConnectionsService>(api), AppGroupStore(defaults, nullptr), &regions, &entries,
                controller.get(), &subscription)
    {
        if (!controller)
            return;
        provider.setStatus(3);
        saveConfiguration(preferences, kPacketTunnelBundleID);
        await(controller->attach());
    }
    std::unique_ptr<TunnelController> makeController()
    {
        TunnelControllerOptions o;
        o.preferences = &preferences;
        o.activator = &activator;
        o.appGroupFactory = [d = defaults] { return std::make_unique<AppGroupStore>(d, nullptr); };
        return std::make_unique<TunnelController>(
            o, TunnelController::ReloadOperations{
                [this] { return status; },
                [this] { events << "reload entry=" + defaults->string(kEntry).value_or(QString()); },
                [](CancellationToken) { return sleepFor(0ms); },
                [this](QString, CancellationToken token) { return install(this, token); },
                [](QString, AppGroupStore &, CancellationToken) { return sleepFor(0ms); }});
    }
    static QCoro::Task<void> install(Rig *self, CancellationToken token)
    {
        if (self->failInstall)
            throw VPNError(VPNError::ConfigurationReadWriteFailed, u"install"_s);
        if (self->installsToHold-- > 0)
            co_await waitUntilCancelled(token);
        token.throwIfCancelled();
    }

    VPNStatus status = VPNStatus::Connected;
    bool failInstall = false;
    int installsToHold = 0;
    QStringList events;
    TestHome home{TestHome::PathsOnly};
    FakeProvider provider;
    std::shared_ptr<Defaults> defaults;
    TunnelPreferences preferences;
    ProviderActivationManager activation;
    SystemExtensionActivator activator;
    std::unique_ptr<TunnelController> controller;
    std::shared_ptr<FakeRegions> regionService = std::make_shared<FakeRegions>();
    std::shared_ptr<FakeEntries> entryService = std::make_shared<FakeEntries>();
    RegionStore regions;
    EntryStore entries;
    SubscriptionStore subscription;
    ConnectionStore store;
};

struct Repair {
    QVariantMap stored, atStart; // keys before and written at start
    QString newRegions, newEntries;
    QVariantMap written; // by the refreshes, into emptied keys
    QString current;     // afterwards
};

// A choice of a route, region or entry. `setup`: from=<entry selected before>, then any
// of auto (automatic), down (tunnel disconnected), refused (the
// live switch does not take effect), noURL, installFails. `after`: the selected
// region/entry and the current route. `events`: each live switch and reload, with the selection stored at that
// moment (a switch sent with keywords other than the stored ones shows as "mismatch").
struct Choice {
    std::variant<Connection, Region, Entry> item;
    QString setup;
    bool result;
    QString after, events;
};
template<class T>
T with(const QString &id, RegionStatus status)
{
    T item = builtIn<T>(id);
    item.status = status;
    return item;
}

} // namespace

Q_DECLARE_METATYPE(Repair)
Q_DECLARE_METATYPE(Choice)

class ConnectionStoreTest : public QObject {
    Q_OBJECT
    FakeServiceClient m_api{u"tok"_s};

    void scriptSubscription(int status)
    {
        const QByteArray body = R"({"subscription_url":"https://sub.example/u1","status":"active",)"
                                R"("data_limit_bytes":0,"used_bytes":0})";
        m_api.service.script(FakeService::anyHost, "GET", u"/me/subscription"_s, {FakeReply::json(status, body)});
    }

private Q_SLOTS:
    void init()
    {
        m_api.service.reset();
        scriptSubscription(200);
    }

    // Start-up repairs an unlisted entry and fills in missing keywords; a refreshed
    // list that drops the selected region or entry moves it to the fallback.
    void selectionIsRestoredAndRepaired_data()
    {
        QTest::addColumn<Repair>("c");
        const QVariantMap toAuto{{kRegion, "auto"}, {kKeywords, QStringList()}};
        QTest::newRow("unlisted entry, no keywords")
            << Repair{{{kRegion, "nl"}, {kEntry, "ru-9"}}, {{kEntry, "auto"}, {kKeywords, keywordsOf("nl")}}, "nl",
                      "ru-1", {{kEntry, "ru-1"}}, "ru-1__nl"};
        QTest::newRow("stored keywords kept, region dropped")
            << Repair{{{kRegion, "nl"}, {kEntry, "ru-1"}, {kKeywords, QStringList{"old"}}}, {}, "auto fr",
                      "auto ru-1", toAuto, "auto"};
        QTest::newRow("unknown region, entry dropped")
            << Repair{{{kRegion, "zz"}, {kEntry, "ru-2"}}, {}, "auto", "ru-1 ru-3",
                      {{kRegion, "auto"}, {kKeywords, QStringList()}, {kEntry, "ru-1"}}, "auto"};
    }
    void selectionIsRestoredAndRepaired()
    {
        QFETCH(Repair, c);
        Rig rig(&m_api.client, c.stored, false);
        rig.defaults->remove(AppGroupKey::migratedLegacyGuard);
        c.stored.insert(c.atStart);
        QCOMPARE(contents(*rig.defaults), c.stored);

        rig.defaults->removeKeys({kRegion, kKeywords, kEntry});
        const QString before = rig.store.currentConnection()->id;
        QSignalSpy changes(&rig.store, &ConnectionStore::currentConnectionChanged);
        rig.regionService->fetches.answer(renamed<Region>(c.newRegions));
        rig.entryService->fetches.answer(renamed<Entry>(c.newEntries));
        await(rig.regions.refresh());
        await(rig.entries.refresh());
        QCOMPARE(contents(*rig.defaults), c.written);
        c.stored.insert(c.written);
        QCOMPARE(rig.store.selectedRegionID() + "/" + rig.store.selectedEntryID(),
                 c.stored.value(kRegion, "auto").toString() + "/" + c.stored.value(kEntry).toString());
        QCOMPARE(rig.store.currentConnection()->id, c.current);
        QCOMPARE(changes.size(), c.current == before ? 0 : 1);
    }

    // The tunnel's outbound is found by keyword among the routes, then the regions; no
    // answer leaves what was found before.
    void resolvedExit()
    {
        Rig rig(&m_api.client, {{kEntry, "ru-2"}});
        const auto resolve = [&rig](const QString &tag) {
            const QJsonObject report{{"singboxRunning", true}, {"recentLogs", QJsonArray()}, {"activeOutboundTag", tag}};
            rig.provider.setMessageReply(u"status"_s, tag.isEmpty() ? Reply::failure() : Reply::json(report));
            await(rig.store.refreshResolvedExit());
            const std::optional<Connection> found = rig.store.resolvedExitConnection();
            return found ? found->id + "/" + found->entry : u"-"_s;
        };
        QCOMPARE(resolve(u"vless-AMSTERDAM2"_s), u"ru-1__nl/ru-1"_s); // a route's keyword inside, in any case
        QCOMPARE(resolve(u"qqq"_s), u"-"_s);
        QCOMPARE(resolve(u"proxy-usa-1"_s), u"us-aws/ru-2"_s); // a region's keyword
        QCOMPARE(resolve(QString()), u"us-aws/ru-2"_s);
    }

    void selection_data()
    {
        QTest::addColumn<Choice>("c");
        const auto route = &builtIn<Connection>;
        const auto region = &builtIn<Region>;
        const auto entry = &builtIn<Entry>;
        Connection unlisted = route(u"ru-1__nl"_s); // neither store lists its region or entry
        std::tie(unlisted.id, unlisted.label, unlisted.entry, unlisted.regionID, unlisted.matchKeywords) =
            std::tuple(u"ru-7__de"_s, u"DE"_s, u"ru-7"_s, u"de"_s, QStringList{"DE"});
        const QList<std::pair<const char *, Choice>> rows{
            {"region live, then the entry with one reload",
             {route("ru-2__nl"), "from=ru-1 refused", true, "nl/ru-2 ru-2__nl", "switch nl entry=ru-1|reload entry=ru-2"}},
            {"same entry, applied", {route("ru-1__fr"), "from=ru-1", true, "fr/ru-1 ru-1__fr", "switch fr entry=ru-1"}},
            {"same entry, not applied",
             {route("ru-1__fr"), "from=ru-1 refused", true, "fr/ru-1 ru-1__fr", "switch fr entry=ru-1|reload entry=ru-1"}},
            {"automatic move keeps the entry",
             {route("ee-hy2"), "from=auto auto refused", true, "ee-hy2/auto auto", "switch ee-hy2 entry=auto"}},
            {"direct route, user's choice",
             {route("ee-hy2"), "from=ru-1", true, "ee-hy2/direct ee-hy2", "switch ee-hy2 entry=ru-1|reload entry=direct"}},
            {"on-demand region, applied",
             {with<Region>("us-aws", RegionStatus::online), "from=ru-1", true, "us-aws/ru-1 us-aws",
              "switch us-aws entry=ru-1|reload entry=ru-1"}},
            {"unlisted region and entry",
             {unlisted, "from=ru-1", true, "de/ru-7 auto", "switch de entry=ru-1|reload entry=ru-7"}},
            {"route not selectable", {with<Connection>("ru-1__nl", RegionStatus::stopped), "from=ru-2", false, "auto/ru-2 auto", ""}},
            {"on-demand region starting",
             {with<Region>("us-aws", RegionStatus::starting), "from=ru-1", false, "auto/ru-1 auto", ""}},
            {"reconnect fails in the region step",
             {route("ru-1__fr"), "from=ru-1 refused installFails", false, "fr/ru-1 ru-1__fr",
              "switch fr entry=ru-1|reload entry=ru-1"}},
            {"no subscription URL", {entry("ru-2"), "from=ru-1 noURL", false, "auto/ru-2 auto", ""}},
            {"tunnel down", {region("nl"), "from=ru-1 down", true, "nl/ru-1 ru-1__nl", ""}},
        };
        for (const auto &[name, choice] : rows)
            QTest::newRow(name) << choice;
    }
    void selection()
    {
        QFETCH(Choice, c);
        const QStringList flags = c.setup.split(' ');
        const bool automatic = flags.contains("auto");
        if (flags.contains("noURL"))
            scriptSubscription(500);
        Rig rig(&m_api.client, {{kEntry, flags.first().mid(5)}});
        rig.failInstall = flags.contains("installFails");
        if (flags.contains("down")) {
            rig.status = VPNStatus::Disconnected;
            rig.provider.setStatus(1);
            QTRY_COMPARE(rig.controller->status(), VPNStatus::Disconnected);
        }
        const Defaults &d = *rig.defaults;
        const Reply answer = Reply::json({{"applied", !flags.contains("refused")}, {"selectedMember", "m"}});
        rig.provider.setMessageHandler(u"selectRegion"_s, [&](const auto &request) {
            const bool sent = request.message.value("keywords").toVariant().toStringList() == d.stringList(kKeywords);
            rig.events << u"switch %1 entry=%2"_s.arg(sent ? d.string(kRegion).value_or(QString()) : "mismatch",
                                                      d.string(kEntry).value_or(QString()));
            return answer;
        });

        const bool isEntry = std::holds_alternative<Entry>(c.item);
        bool accepted = false;
        if (isEntry)
            accepted = await(rig.store.selectEntry(std::get<Entry>(c.item)));
        else if (const Region *region = std::get_if<Region>(&c.item))
            accepted = await(rig.store.selectRegion(*region, automatic, false, false));
        else
            accepted = await(rig.store.selectConnection(std::get<Connection>(c.item), automatic, false));

        QCOMPARE(accepted, c.result);
        const QString selection = c.after.section(' ', 0, 0), region = selection.section('/', 0, 0);
        const ConnectionStore &store = rig.store;
        QCOMPARE(store.selectedRegionID() + "/" + store.selectedEntryID() + " " + store.currentConnection()->id, c.after);
        QCOMPARE(d.string(kRegion).value_or(u"auto"_s) + "/" + d.string(kEntry).value_or(QString()), selection);
        QCOMPARE(d.stringList(kKeywords), region == "auto" ? QStringList() : region == "de" ? QStringList{"de"}
                                                                                             : keywordsOf(region));
        QCOMPARE(d.boolean(AppGroupKey::backgroundReliabilityAutoManaged),
                 automatic || isEntry ? std::nullopt : std::optional(false));
        QCOMPARE(rig.events, split(c.events));
    }

    // Reloads supersede one another: the older selection's reconnect reports false.
    void aNewerReloadSupersedesAnOlderOne()
    {
        Rig rig(&m_api.client, {{kEntry, "ru-1"}});
        rig.installsToHold = 1;
        Pending<bool> older(rig.store.selectEntry(builtIn<Entry>("ru-2")));
        QTRY_COMPARE(rig.installsToHold, 0);
        QVERIFY(await(rig.store.selectEntry(builtIn<Entry>("auto"))));
        QCOMPARE(older.result(), false);
        QCOMPARE(rig.events, (QStringList{"reload entry=ru-2", "reload entry=auto"}));
    }
};

QTEST_GUILESS_MAIN(ConnectionStoreTest)
#include "itst_connection_store.moc"
