#include "catalog/ConnectionStore.h"
#include "catalog/EntryStore.h"
#include "catalog/RegionStore.h"
#include "connectivity/KovraConnectivityController.h"
#include "tunnel/ProviderConfiguration.h"
#include "tunnel/SystemExtensionActivator.h"
#include "tunnel/TunnelController.h"

#include <QRegularExpression>
#include <QTest>

#include <thread>

#include "support/Await.h"
#include "support/FakeProvider.h"
#include "support/ManualClock.h"
#include "support/TestHome.h"

using namespace kovra;
using namespace kovra::test;
using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

namespace {

Connection route(const QString &id, ConnectionKind kind, const QString &entry, const QString &region)
{
    Connection c;
    c.id = c.label = id;
    c.kind = kind, c.entry = entry, c.regionID = region, c.isDefault = id == u"auto";
    return c;
}

// The selection of a connection store: "current" composes the selected entry and region,
// an automatic move keeps an entry the route serves, and the tunnel is found on the
// route last applied. Each applied or refused move is noted where telemetry stood.
struct FakeConnections final : EngineConnections {
    QList<Connection> list{route(u"auto"_s, ConnectionKind::automatic, u"auto"_s, u"auto"_s),
                           route(u"nl-hy2"_s, ConnectionKind::direct, u"direct"_s, u"nl-hy2"_s),
                           route(u"de-hy2"_s, ConnectionKind::direct, u"direct"_s, u"de-hy2"_s),
                           route(u"ru-1__nl"_s, ConnectionKind::relay, u"ru-1"_s, u"nl"_s),
                           route(u"xx-vless"_s, ConnectionKind::direct, u"direct"_s, u"xx"_s)};
    QString entry = u"auto"_s, region = u"auto"_s;
    std::optional<Connection> exit, applied;
    QStringList refused;
    QList<QPair<qsizetype, QString>> moves;
    const KovraConnectivityController *engine = nullptr;

    QList<Connection> connections() const override { return list; }
    std::optional<Connection> currentConnection() const override
    {
        for (const QString &id : {Connection::compose(entry, region), u"auto"_s})
            for (const Connection &c : list)
                if (c.id == id)
                    return c;
        return list.isEmpty() ? std::nullopt : std::optional(list.first());
    }
    QString selectedEntryID() const override { return entry; }
    QString selectedRegionID() const override { return region; }
    std::optional<Connection> resolvedExitConnection() const override { return exit; }
    QCoro::Task<void> refreshResolvedExit() override
    {
        if (applied)
            exit = applied;
        co_return;
    }
    QCoro::Task<bool> selectConnection(Connection c, bool automatic, bool close) override
    {
        const bool ok = !refused.contains(c.id);
        moves.append({engine->telemetry().lines.size(), u"%1(%2%3%4)"_s.arg(ok ? u"select"_s : u"refused"_s, c.id,
                                                                             automatic ? u",auto"_s : u""_s,
                                                                             close ? u",close"_s : u""_s)});
        if (ok) {
            region = c.regionID;
            if (c.entry != entry && (!automatic || !c.matches(entry)))
                entry = c.entry;
            applied = c;
        }
        co_return ok;
    }
};

// The app's connection store over the built-in catalogues, so that "current" composes
// as in the app (with the "auto" entry always the route "auto"). It has no tunnel of its
// own: a move is only stored. The tunnel is found on the route of the selected region.
struct BuiltInStore final : EngineConnections {
    explicit BuiltInStore(const std::shared_ptr<Defaults> &defaults)
        : regions(nullptr, AppGroupStore(defaults, nullptr)), entries(nullptr, AppGroupStore(defaults, nullptr)),
          store(nullptr, AppGroupStore(defaults, nullptr), &regions, &entries, nullptr, nullptr)
    {
    }
    QList<Connection> connections() const override { return app.connections(); }
    std::optional<Connection> currentConnection() const override { return app.currentConnection(); }
    QString selectedEntryID() const override { return app.selectedEntryID(); }
    QString selectedRegionID() const override { return app.selectedRegionID(); }
    std::optional<Connection> resolvedExitConnection() const override { return exit; }
    QCoro::Task<void> refreshResolvedExit() override
    {
        for (const Connection &c : store.connections())
            if (c.regionID == store.selectedRegionID())
                exit = c;
        co_return;
    }
    QCoro::Task<bool> selectConnection(Connection c, bool automatic, bool close) override
    {
        return app.selectConnection(std::move(c), automatic, close);
    }

    RegionStore regions;
    EntryStore entries;
    ConnectionStore store;
    StoreEngineConnections app{&store};
    std::optional<Connection> exit;
};

// Each pass follows the script ('o' all three gating services, 'h' two, 'l' one, 'x'
// none); the last letter repeats.
struct FakeProbe final : AppReachabilityProbing {
    QString script = u"o"_s;
    int calls = 0;
    QCoro::Task<ReachabilitySnapshot> probe(CancellationToken) override
    {
        const int reached = QStringLiteral("xlho").indexOf(script.at(std::min<int>(calls++, script.size() - 1)));
        ReachabilitySnapshot s;
        for (int i = 0; i < 5; ++i)
            s.results.append({u"s%1"_s.arg(i), true, i >= 1 && i <= 3, i >= 1 && i <= reached, 10});
        co_return s;
    }
};

// A fixed record, or with `live` one taken at every read.
struct FakeThroughput final : ThroughputSampling {
    std::optional<SharedThroughputSample> sample;
    bool live = false;
    std::shared_ptr<Clock> clock;
    std::optional<SharedThroughputSample> latest() const override
    {
        auto s = sample;
        if (s && live)
            s->updatedAt = clock->now();
        return s;
    }
};

struct FakePathMonitor final : NetworkPathMonitoring {
    ChangeHandler handler;
    bool running = false;
    ChangeHandler changeHandler() const override { return handler; }
    void setChangeHandler(ChangeHandler h) override { handler = std::move(h); }
    void start() override { running = true; }
    void stop() override { running = false; }
    // From the monitor's own thread, as the system monitor reports.
    void fire()
    {
        std::thread reporter(handler);
        reporter.join();
    }
};

// The engine over the fake stores and a tunnel controller attached to the fake provider,
// on a manual clock. Steps (space separated): options "settle=", "confirm=", "poll=",
// "settled=", "dense=" (seconds), "built-in" or "built-in=<selected region>" (the app's
// store instead of the fake) before any other step; "up", "down", "connecting" (the
// tunnel's status); "+N" (seconds pass); "probe=oxx" (the next passes); "entry=",
// "region=", "exit=", "drop=", "refuse=" (the fake store); "pick=<region>" (a user's
// choice in the app's store); "rx=R/T" (a live sample);
// "armed=false"; "path"; and "?key=value" checks (see value()).
struct Rig {
    using Options = KovraConnectivityController::Options;

    Rig()
        : activation(provider.socketPath()), activator(activation),
          tunnel({.preferences = &preferences, .activator = &activator, .appGroupFactory = [] {
                      return std::make_unique<AppGroupStore>(Defaults::inMemory(), nullptr);
                  }})
    {
        provider.setStatus(1);
        saveConfiguration(preferences, kPacketTunnelBundleID);
        await(tunnel.attach());
        tunnel.setOnStatusChange([this](VPNStatus, VPNStatus now) { engine->handleTunnelStatus(now); });
        throughput->clock = options.clock = clock;
    }
    ~Rig()
    {
        engine.reset();
        QCoreApplication::processEvents(); // the cancelled tasks end
    }
    QString value(const QString &key) const
    {
        const auto text = [](std::optional<bool> b) { return b ? (*b ? u"true"_s : u"false"_s) : u"none"_s; };
        const auto notice = engine->notice();
        const auto beat = defaults->date(AppGroupKey::reliabilityAppHeartbeat);
        const QMap<QString, QString> values{
            {u"state"_s, caseName(engine->state())},
            {u"verdict"_s, caseName(engine->verdict())},
            {u"resolving"_s, text(engine->isResolving())},
            {u"notice"_s, notice ? QMetaEnum::fromType<KovraConnectivityController::Notice>().valueToKey(int(*notice))
                                 : "none"},
            {u"managed"_s, text(defaults->boolean(AppGroupKey::backgroundReliabilityAutoManaged))},
            {u"path"_s, path->running ? u"running"_s : u"stopped"_s},
            {u"heartbeat"_s, beat ? QString::number(start.secsTo(*beat)) : u"none"_s}};
        return values.value(key, u"?"_s);
    }
    void run(const QString &steps)
    {
        static const QMap<QString, std::chrono::milliseconds Options::*> fields{
            {u"settle"_s, &Options::settleDelay},    {u"confirm"_s, &Options::confirmInterval},
            {u"poll"_s, &Options::throughputPoll},   {u"settled"_s, &Options::settledTick},
            {u"dense"_s, &Options::denseWindow}};
        for (const QString &step : steps.split(u' ', Qt::SkipEmptyParts)) {
            const QString key = step.section(u'=', 0, 0), arg = step.section(u'=', 1);
            const auto ms = [](const QString &seconds) { return std::chrono::milliseconds(qint64(seconds.toDouble() * 1000)); };
            if (!engine && fields.contains(key)) {
                options.*fields.value(key) = ms(arg);
                continue;
            }
            if (!engine && key == u"built-in") {
                if (!arg.isEmpty() && arg != key)
                    defaults->set(AppGroupKey::selectedRegionID, arg);
                builtIn = std::make_shared<BuiltInStore>(defaults);
                continue;
            }
            if (!engine) {
                std::shared_ptr<EngineConnections> connections = store;
                if (builtIn)
                    connections = builtIn;
                engine = std::make_unique<KovraConnectivityController>(connections, &tunnel,
                                                                       AppGroupStore(defaults, nullptr), probe,
                                                                       throughput, path, options);
                store->engine = engine.get();
            }
            const auto found = std::find_if(store->list.begin(), store->list.end(),
                                            [&arg](const Connection &c) { return c.id == arg; });
            if (const int status = QStringList{u"down"_s, u"connecting"_s, u"up"_s}.indexOf(step) + 1; status > 0) {
                provider.setStatus(status);
                QTRY_COMPARE(int(tunnel.status()), status);
            } else if (step.startsWith(u'+')) {
                clock->advance(ms(step.mid(1)));
            } else if (step.startsWith(u'?')) {
                const QString seen = value(key.mid(1));
                QVERIFY2(seen == arg, qPrintable(u"%1 at %2 s: %3"_s.arg(step).arg(start.secsTo(clock->now())).arg(seen)));
            } else if (key == u"probe") {
                probe->script = probe->script.left(probe->calls) + arg;
            } else if (step == u"path") {
                path->fire();
            } else if (key == u"rx") {
                throughput->sample = SharedThroughputSample{arg.section(u'/', 0, 0).toDouble(),
                                                            arg.section(u'/', 1).toDouble(), 1, clock->now()};
                throughput->live = true;
            } else if (key == u"armed") {
                defaults->set(AppGroupKey::backgroundReliabilityArmed, arg == u"true");
            } else if (key == u"entry") {
                store->entry = arg;
            } else if (key == u"region") {
                store->region = arg;
            } else if (key == u"exit") {
                store->exit = *found;
            } else if (key == u"drop") {
                store->list.erase(found);
            } else if (key == u"refuse") {
                store->refused << arg;
            } else if (key == u"pick" && builtIn) {
                const QList<Region> regions = builtIn->regions.regions();
                const auto region = std::find_if(regions.begin(), regions.end(),
                                                 [&arg](const Region &r) { return r.id == arg; });
                QVERIFY(await(builtIn->store.selectRegion(*region, false, false, false)));
            } else {
                QFAIL(qPrintable(u"unknown step "_s + step));
            }
        }
    }
    // Telemetry in short: "settle@3+" for a pass at 3 s that found the tunnel online,
    // "tick->confirmingDegraded" for a transition (event, then the new state), with the
    // store's moves where they happened.
    QString transcript() const
    {
        static const QRegularExpression transition(u"^\\S+ transition \\S+→(\\S+) event=(.*) action="_s);
        static const QRegularExpression pass(u"^(\\S+) tick phase=(\\S+) state=\\S+ verdict=(\\S+) "_s);
        QStringList out;
        const QStringList lines = engine->telemetryLines();
        for (qsizetype i = 0; i <= lines.size(); ++i) {
            for (const auto &[at, move] : store->moves)
                if (at == i)
                    out << move;
            if (const auto m = transition.match(lines.value(i)); m.hasMatch())
                out << m.captured(2).replace(u"(online: true)"_s, u"+"_s).replace(u"(online: false)"_s, u"-"_s)
                           + u">"_s + m.captured(1);
            else if (const auto p = pass.match(lines.value(i)); p.hasMatch())
                out << u"%1@%2%3"_s.arg(p.captured(2))
                           .arg(start.secsTo(QDateTime::fromString(p.captured(1), Qt::ISODate)))
                           .arg(p.captured(3) == u"online" ? u"+"_s : u"-"_s);
        }
        return out.join(u' ');
    }

    TestHome home{TestHome::PathsOnly};
    FakeProvider provider;
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    const QDateTime start = clock->now();
    TunnelPreferences preferences{tunnelOptions(home.paths(), provider.socketPath(), nullptr, 6s, 20ms)};
    ProviderActivationManager activation;
    SystemExtensionActivator activator;
    TunnelController tunnel;
    std::shared_ptr<Defaults> defaults = Defaults::inMemory();
    std::shared_ptr<FakeConnections> store = std::make_shared<FakeConnections>();
    std::shared_ptr<BuiltInStore> builtIn;
    std::shared_ptr<FakeProbe> probe = std::make_shared<FakeProbe>();
    std::shared_ptr<FakeThroughput> throughput = std::make_shared<FakeThroughput>();
    std::shared_ptr<FakePathMonitor> path = std::make_shared<FakePathMonitor>();
    Options options;
    std::unique_ptr<KovraConnectivityController> engine;
};

// Degradation confirmed on the route the tunnel found (entry "auto"), and a walk to a
// relay through "ru-1" that reconnects the tunnel: from nl-hy2 (the preferred route) or
// from de-hy2 (with nl-hy2 gone, "auto" is the preferred route).
const QString kDegraded = u"connected>settling settle@3+ settleElapsed+>monitoring cadence@11- tick->confirmingDegraded "
                          "confirmation@14- confirmation@17- confirmsAllDegraded>"_s;
const QString kWalk = u" probe=oxxxo up +17 down up +3"_s;
const QString kWalked = kDegraded + u"switching select(ru-1__nl) switchLanded>settling settle@20+ settleElapsed+>monitoring"_s;
const QString kFromPreferred = u"drop=de-hy2 exit=nl-hy2"_s, kFromOther = u"drop=nl-hy2 exit=de-hy2"_s;
const QString kPreferredTrial = u" cadence@28+ cadence@36+ repromoteTimer>repromoteProbing gatePassed>switching "
                                "select(nl-hy2) switchLanded>settling settle@47+ settleElapsed+>monitoring"_s;
const QString kAutoTrial = u" repromoteTimer>repromoteProbing gatePassed>switching select(auto) switchLanded>settling "
                           "settle@31+ settleElapsed+>monitoring repromote-trial@39+"_s;

} // namespace

class ConnectivityControllerTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void scenarios_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("transcript");
        QTest::addColumn<QString>("logs"); // the controller's lines other than each pass's verdict, '|' between
        const auto row = [](const char *name, QString steps, QString transcript, QString logs = {}) {
            QTest::newRow(name) << steps << transcript << logs;
        };
        const QString left = u"cooldown: penalized nl-hy2 for 20s|switch: to ru-1__nl silent=false"_s;
        const QString leftOther = u"cooldown: penalized de-hy2 for 20s|switch: to ru-1__nl silent=false"_s;
        row("settle, dense ticks for 120 s from the settle pass, then sparse",
            u"entry=direct region=nl-hy2 up ?state=settling ?verdict=checking ?resolving=true ?path=running "
            "?heartbeat=none +3 ?verdict=online ?resolving=false ?heartbeat=3 armed=false +200 ?heartbeat=3 down "
            "?verdict=idle ?path=stopped"_s,
            u"connected>settling settle@3+ settleElapsed+>monitoring cadence@11+ cadence@19+ cadence@27+ cadence@35+ "
            "cadence@43+ cadence@51+ cadence@59+ cadence@67+ cadence@75+ cadence@83+ cadence@91+ cadence@99+ "
            "cadence@107+ cadence@115+ cadence@123+ cadence@153+ cadence@183+ disconnected>idle"_s);
        row("three degraded passes settle where walking is not allowed; two of three services are healthy",
            u"entry=direct region=nl-hy2 probe=oxllh up +11 ?verdict=online +6 ?verdict=degraded +28"_s,
            kDegraded + u"settled settled-reprobe@37+ tick+>monitoring cadence@45+"_s);
        row("an online pass clears the confirmation; connecting stops the tasks and keeps the verdict",
            u"entry=direct region=nl-hy2 probe=oxo up +25 connecting ?verdict=online +60"_s,
            u"connected>settling settle@3+ settleElapsed+>monitoring cadence@11- tick->confirmingDegraded "
            "confirmation@14+ confirmOnline>monitoring cadence@22+"_s);
        row("no settle wait; no confirmation passes", u"settle=0 confirm=0 entry=direct region=nl-hy2 probe=x up +60"_s,
            u"connected>settling settle@0- settleElapsed->confirmingDegraded"_s);
        row("a reconnect the engine did not ask for starts over", u"entry=direct region=nl-hy2 up +5 down up +3"_s,
            u"connected>settling settle@3+ settleElapsed+>monitoring disconnected>idle connected>settling settle@8+ "
            "settleElapsed+>monitoring"_s);
        row("silent move, never back onto the route being left; already on the preferred route",
            u"drop=nl-hy2 exit=ru-1__nl probe=oxxxo up +17 ?state=settling ?resolving=true ?notice=fellBackToRelay "
            "?managed=true +3 ?verdict=online +3 ?notice=none +13"_s,
            kDegraded + u"switching select(de-hy2,auto,close) switchLanded>settling "
            "settle@20+ settleElapsed+>monitoring cadence@28+ cadence@36+"_s,
            u"cooldown: penalized ru-1__nl for 20s|switch: to de-hy2 silent=true"_s);
        row("a refused move drops the reconnect it expected and settles",
            kFromOther + u" refuse=ru-1__nl probe=oxxxo up +17 ?state=settled ?resolving=false +43"_s,
            kDegraded + u"switching refused(ru-1__nl) switchApplyFailed>settled "
            "settled-reprobe@37+ tick+>monitoring cadence@45+ cadence@53+"_s,
            u"cooldown: penalized de-hy2 for 20s|switch: candidate ru-1__nl not selectable on apply"_s);
        row("a move to another entry keeps the engine through its reconnect",
            kFromPreferred + u" probe=oxxxo up +17 down ?state=switching ?resolving=true +10 up "
                                                "?resolving=true +3 ?resolving=false +4"_s,
            kDegraded + u"switching select(ru-1__nl) switchLanded>settling settle@30+ settleElapsed+>monitoring"_s,
            left);
        row("the watchdog gives up on a reconnect that never comes",
            kFromPreferred + u" probe=oxxxo up +51 ?state=switching +1 ?state=settled ?resolving=false"_s,
            kDegraded + u"switching select(ru-1__nl) watchdogFired>settled"_s,
            left + u"|reconnect watchdog fired — walk reset"_s);
        row("a user's disconnect during the reconnect: the watchdog returns the engine to idle",
            kFromPreferred + u" probe=oxxx up +17 down +34 ?state=switching ?verdict=checking +1 "
                                                "?state=idle ?verdict=idle ?resolving=false ?managed=false"_s,
            kDegraded + u"switching select(ru-1__nl) disconnected>idle"_s,
            left + u"|reconnect watchdog fired — walk reset"_s);
        row("exhausted while the route left cools down; its notice replaces the move's; re-armed once it expires",
            u"settle=1 confirm=1 "_s + kFromPreferred
                + u" probe=oxxx up +11 ?notice=fellBackToRelay down up +3 ?state=exhausted ?notice=fallbackFailed "
                  "?managed=false ?verdict=degraded +5 ?notice=fallbackFailed +1 ?notice=none +15"_s,
            u"connected>settling settle@1+ settleElapsed+>monitoring cadence@9- tick->confirmingDegraded "
            "confirmation@10- confirmation@11- confirmsAllDegraded>switching select(ru-1__nl) switchLanded>settling "
            "settle@12- settleElapsed->confirmingDegraded confirmation@13- confirmation@14- "
            "confirmsAllDegraded>exhausted rearm>settling settle@35- settleElapsed->confirmingDegraded"_s,
            left + u"|rearm: cooldown-expired"_s);
        row("a path change reopens the dense window; a burst re-arms an exhausted engine once",
            u"dense=20 drop=nl-hy2 drop=de-hy2 drop=ru-1__nl path +3 up +40 path +40 probe=x +25 probe=o path +1 path +1 "
            "path +2 ?state=exhausted +0.5 ?state=settling +3"_s,
            u"connected>settling settle@6+ settleElapsed+>monitoring cadence@14+ cadence@22+ cadence@30+ cadence@60+ "
            "cadence@68+ cadence@98- tick->confirmingDegraded confirmation@101- confirmation@104- "
            "confirmsAllDegraded>exhausted rearm>settling settle@115+ settleElapsed+>monitoring"_s,
            u"rearm: network-path-change"_s);
        row("re-promotion to a direct Hysteria2 route kept after two reachable passes",
            kFromPreferred + kWalk + u" +24 down up +3 +16 ?managed=false +24"_s,
            kWalked + kPreferredTrial
                + u" repromote-trial@55+ repromote-trial@63+ cadence@71+ cadence@79+ cadence@87+"_s,
            left + u"|switch: to nl-hy2 silent=false|re-promotion kept: preferred nl-hy2"_s);
        row("re-promotion reverted on an unreachable pass; not again while the preferred route cools down",
            kFromPreferred + kWalk
                + u" +24 down up +3 probe=x +8 ?state=switching probe=o down up +3 +24"_s,
            kWalked + kPreferredTrial
                + u" repromote-trial@55- repromotion-revert>switching select(ru-1__nl) switchLanded>settling settle@58+ "
                  "settleElapsed+>monitoring cadence@66+ cadence@74+ cadence@82+"_s,
            left + u"|switch: to nl-hy2 silent=false|re-promotion reverted: preferred nl-hy2 cooldown 40s"
                   "|switch: to ru-1__nl silent=false"_s);
        row("re-promotion refused by the store; not again within 20 s",
            u"settled=10 "_s + kFromPreferred + kWalk
                + u" refuse=nl-hy2 +24 ?state=settled probe=x +20 ?state=settled"_s,
            kWalked
                + u" cadence@28+ cadence@36+ repromoteTimer>repromoteProbing gatePassed>switching refused(nl-hy2) "
                  "switchApplyFailed>settled settled-reprobe@54- repromoteTimer>repromoteProbing gatePassed>switching "
                  "refused(nl-hy2) switchApplyFailed>settled"_s,
            left + u"|switch: candidate nl-hy2 not selectable on apply|switch: candidate nl-hy2 not selectable on apply"_s);
        row("re-promotion to another route kept after healthy traffic (8192 B/s)",
            kFromOther + kWalk + u" +8 down up +3 rx=8192/0 +8 ?managed=false +8"_s,
            kWalked + kAutoTrial + u" cadence@47+"_s,
            leftOther + u"|switch: to auto silent=false|re-promotion kept: preferred auto"_s);
        row("re-promotion to another route reverted at the deadline without healthy traffic",
            kFromOther + kWalk + u" +8 down up +3 rx=8191/0 +24 ?state=switching down up +3 +20"_s,
            kWalked + kAutoTrial
                + u" repromote-trial@47+ repromote-trial@55+ repromotion-revert>switching select(ru-1__nl) "
                  "switchLanded>settling settle@58+ settleElapsed+>monitoring cadence@66+ cadence@74+"_s,
            leftOther + u"|switch: to auto silent=false|re-promotion reverted: preferred auto cooldown 20s"
                        "|switch: to ru-1__nl silent=false"_s);
        // The app's store composes the "auto" entry as the route "auto" whatever region it
        // holds: a silent move to the preferred route still lands.
        const QString walkedSilently = kDegraded + u"switching switchLanded>settling settle@20+ "
                                       "settleElapsed+>monitoring"_s;
        const QString silentTrial = walkedSilently
            + u" cadence@28+ cadence@36+ repromoteTimer>repromoteProbing gatePassed>switching switchLanded>settling "
              "settle@47+ settleElapsed+>monitoring"_s;
        const QString leftPreferred = u"cooldown: penalized nl-hy2 for 20s|switch: to ee-hy2 silent=true"
                                      "|switch: to nl-hy2 silent=true"_s;
        row("built-in catalogue: a walk that lands silently on the preferred route hands it back",
            u"built-in probe=oxxxo up +17 ?managed=true +3 ?managed=false +16"_s,
            walkedSilently + u" cadence@28+ cadence@36+"_s,
            u"cooldown: penalized auto for 20s|switch: to nl-hy2 silent=true|walk landed on preferred (kept): nl-hy2"_s);
        row("built-in catalogue: a silent re-promotion is tried and kept",
            u"built-in=nl-hy2 probe=oxxxo up +63 ?managed=false +16"_s,
            silentTrial + u" repromote-trial@55+ repromote-trial@63+ cadence@71+ cadence@79+"_s,
            leftPreferred + u"|re-promotion kept: preferred nl-hy2"_s);
        row("built-in catalogue: a user's choice during the trial; the trial ends at its deadline",
            u"built-in=nl-hy2 probe=oxxxo up +50 pick=fr-hy2 +21 ?state=monitoring +16"_s,
            silentTrial + u" cadence@79+ cadence@87+"_s,
            leftPreferred + u"|re-promotion did not land: preferred nl-hy2 cooldown 40s"_s);
    }
    void scenarios()
    {
        QFETCH(QString, steps);
        LogCapture capture;
        Rig rig;
        rig.run(steps);
        if (QTest::currentTestFailed())
            return;
        QTEST(rig.transcript(), "transcript");
        QTEST(capture.texts(u"Connectivity"_s).filter(QRegularExpression(u"^(?!verdict=)"_s)).join(u'|'), "logs");
    }

    void telemetryLines()
    {
        LogCapture capture;
        Rig rig;
        rig.throughput->sample = SharedThroughputSample{9000.5, 4096, 3, rig.clock->now()};
        rig.run(u"entry=direct region=nl-hy2 up +3 rx=100/5000 +8"_s); // repeated; then starved for 6 s
        rig.throughput->sample->updatedAt = rig.clock->now().addSecs(-8); // too old from 12 s on
        rig.throughput->live = false;
        rig.run(u"+0.1 +2.9 down"_s);
        const QString route = u" route=nl-hy2 autoManaged=false"_s;
        QCOMPARE(rig.engine->telemetryLines(),
                 QStringList({u"2025-03-05T12:00:00Z transition idle→settling event=connected action=direct"_s + route,
                              u"2025-03-05T12:00:03Z tick phase=settle state=settling verdict=online reachable=true "
                              "throttled=false rx=9001 (stale) tx=4096 (stale)"_s + route,
                              u"2025-03-05T12:00:03Z transition settling→monitoring event=settleElapsed(online: true) "
                              "action=enterMonitoring"_s + route,
                              u"2025-03-05T12:00:11Z tick phase=cadence state=monitoring verdict=degraded "
                              "reachable=true throttled=true rx=100 tx=5000"_s + route,
                              u"2025-03-05T12:00:11Z transition monitoring→confirmingDegraded event=tick(online: false) "
                              "action=beginConfirmations"_s + route,
                              u"2025-03-05T12:00:14Z tick phase=confirmation state=confirmingDegraded verdict=online "
                              "reachable=true throttled=false rx=— tx=—"_s + route,
                              u"2025-03-05T12:00:14Z transition confirmingDegraded→monitoring event=confirmOnline "
                              "action=enterMonitoring"_s + route,
                              u"2025-03-05T12:00:14Z transition monitoring→idle event=disconnected action=direct"_s + route}));
        QVERIFY(capture.contains(u"verdict=degraded reachable=true throttled=true state=monitoring"_s));

        ReliabilityTelemetryBuffer buffer;
        for (int i = 0; i <= 200; ++i)
            buffer.append(QString::number(i));
        QCOMPARE(buffer.lines.size(), 200);
        QCOMPARE(buffer.lines.first(), u"1"_s);
    }
};

QTEST_GUILESS_MAIN(ConnectivityControllerTest)
#include "itst_connectivity_controller.moc"
