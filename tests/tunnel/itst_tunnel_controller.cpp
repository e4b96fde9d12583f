#include "core/AppGroupStore.h"
#include "platform/TunnelWire.h"
#include "tunnel/ProviderConfiguration.h"
#include "tunnel/SystemExtensionActivator.h"
#include "tunnel/TunnelController.h"

#include <QLocalServer>
#include <QSignalSpy>
#include <QTest>

#include <sys/stat.h>

#include "support/Await.h"
#include "support/FakeExtensionManager.h"
#include "support/FakeProvider.h"
#include "support/ManualClock.h"
#include "support/TestHome.h"

using namespace kovra;
using namespace std::chrono_literals;
using Reply = provider::ProviderServer::Reply;

Q_DECLARE_METATYPE(Reply)

namespace {

const QString kURL = QStringLiteral("https://sub.example/u1");
using Calls = QList<QPair<int, int>>; // status changes, from and to

// Replacement steps that record what runs. The install can hang until the operation is
// cancelled.
struct FakeSteps {
    bool hangInstall = false;
    QStringList events;

    TunnelController::ReloadOperations operations()
    {
        return {[] { return VPNStatus::Connected; },
                [this] { events << QStringLiteral("stop"); },
                [this](CancellationToken) { return step(this, QStringLiteral("wait"), false, {}); },
                [this](QString url, CancellationToken t) { return step(this, QStringLiteral("install:") + url, hangInstall, t); },
                [this](QString url, AppGroupStore &, CancellationToken) {
                    events << QStringLiteral("start:") + url;
                    if (url == u"u1")
                        throw VPNError(VPNError::ConnectionFailed, QStringLiteral("start ") + url);
                    return sleepFor(0ms);
                }};
    }

    static QCoro::Task<void> step(FakeSteps *self, QString name, bool hang, CancellationToken token)
    {
        self->events << name;
        if (hang) {
            co_await waitUntilCancelled(token);
            // Ends a little later, as a platform call in progress would.
            co_await sleepFor(20ms);
            self->events << name + QStringLiteral(" ended");
            throw CancellationError();
        }
    }
};

// What a rig differs in; every bound not named is the product's.
struct Setup {
    std::optional<TunnelController::ReloadOperations> steps = std::nullopt;
    SystemExtensionManager *extensions = nullptr; // default: the real check of the fake provider
    std::shared_ptr<Clock> clock = Clock::system();
    std::chrono::milliseconds reloadDisconnectTimeout = 300ms;
    std::chrono::milliseconds statusPollInterval = 10ms;
    std::chrono::milliseconds selectRegionTimeout = 5s;
};

// A controller over a fake provider on its own socket, in a private home.
struct Rig {
    explicit Rig(Setup setup = {})
        : preferences(test::tunnelOptions(home.paths(), provider.socketPath(), setup.clock, 6s, 20ms)),
          activation(provider.socketPath()), activator(setup.extensions ? *setup.extensions : activation),
          controller(options(setup), std::move(setup.steps))
    {
    }

    TunnelControllerOptions options(const Setup &setup)
    {
        TunnelControllerOptions o;
        o.preferences = &preferences;
        o.activator = &activator;
        o.appGroupFactory = [suite = suite] { return std::make_unique<AppGroupStore>(suite, nullptr); };
        o.reloadDisconnectTimeout = setup.reloadDisconnectTimeout;
        o.statusPollInterval = setup.statusPollInterval;
        o.selectRegionTimeout = setup.selectRegionTimeout;
        o.clock = setup.clock;
        return o;
    }

    // A configuration saved earlier for the provider, attached, with the provider at `status`.
    void attachSaved(int status = 1)
    {
        provider.setStatus(status);
        test::saveConfiguration(preferences, kPacketTunnelBundleID);
        test::await(controller.attach());
        QCOMPARE(controller.status(), VPNStatus(status));
    }

    test::TestHome home{test::TestHome::PathsOnly};
    test::FakeProvider provider;
    std::shared_ptr<Defaults> suite = Defaults::inMemory();
    TunnelPreferences preferences;
    ProviderActivationManager activation;
    SystemExtensionActivator activator;
    TunnelController controller;
};

QString errorText(const std::exception_ptr &error)
{
    return error ? descriptionOf(error) : QStringLiteral("none");
}

ino_t inodeOf(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

} // namespace

class TunnelControllerTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Attaching at start-up with the tunnel already up applies the real status at once,
    // never a "disconnected" first, and reports it once; with the provider silent it
    // reads disconnected after the bound. An unreadable file attaches nothing.
    void attach_data()
    {
        QTest::addColumn<QString>("provider");
        QTest::addColumn<int>("status"); // 0: none attached
        QTest::newRow("tunnel up") << "running" << 3;
        QTest::newRow("silent provider") << "silent" << 1;
        QTest::newRow("unreadable file") << "unreadable" << 0;
    }
    void attach()
    {
        QFETCH(QString, provider);
        QFETCH(int, status);
        auto clock = std::make_shared<test::ManualClock>();
        Rig rig({.clock = clock});
        rig.provider.setStatus(3);
        QLocalServer silent;
        if (provider == "silent") {
            rig.provider.kill();
            QVERIFY(silent.listen(rig.provider.socketPath()));
        }
        if (provider == "unreadable") {
            QVERIFY(QDir().mkpath(rig.preferences.options().configurationsFile));
        } else { // saved by an earlier run of the app
            TunnelPreferences earlier(test::tunnelOptions(rig.home.paths(), rig.home.runtimeDir() + "/none.sock"));
            test::saveConfiguration(earlier, kPacketTunnelBundleID);
        }
        Calls calls;
        rig.controller.setOnStatusChange([&](VPNStatus from, VPNStatus to) { calls.append({int(from), int(to)}); });

        test::Pending<void> attach(rig.controller.attach());
        if (provider == "silent") {
            QTRY_VERIFY(silent.hasPendingConnections());
            clock->advance(999ms);
            QVERIFY(!attach.isDone());
            clock->advance(1ms);
        }
        QVERIFY(attach.waitDone()); // the clock stands still otherwise: nothing waited for the bound
        if (status == 3) // attaching again changes nothing
            test::await(rig.controller.attach());

        QCOMPARE(calls, (status ? Calls{{0, status}} : Calls()));
        QCOMPARE(rig.controller.status(), VPNStatus(status));
        QCOMPARE(errorText(rig.controller.lastError()).startsWith("VPNErrorDomain error 5"), status == 0);
    }

    // A connect installs only a configuration that is not current, and starts every time.
    void connectInstallsOnceAndStartsEveryTime()
    {
        Rig rig;
        test::await(rig.controller.connect(kURL));
        const QString file = rig.preferences.options().configurationsFile;
        const ino_t written = inodeOf(file);
        QVERIFY(written);
        test::await(rig.controller.connect(kURL));
        QVERIFY(rig.provider.waitForRequests(QStringLiteral("start"), 2));
        QCOMPARE(inodeOf(file), written); // the current configuration was not saved again
    }

    // A failed activation fails the connect before any start, and is announced every
    // time, also when it equals the one before.
    void installFailureIsAnnouncedEveryTime()
    {
        test::FakeExtensionManager extensions(QList<test::FakeExtensionManager::Callback>{{
            test::FakeExtensionManager::Callback::Failed, QStringLiteral("no provider")}});
        Rig rig({.extensions = &extensions});
        QSignalSpy errorSpy(&rig.controller, &TunnelController::lastErrorChanged);
        LogCapture capture;
        for (int attempt = 1; attempt <= 2; ++attempt)
            QVERIFY_THROWS_EXCEPTION(TunnelError, test::await(rig.controller.connect(kURL)));

        QCOMPARE(errorSpy.count(), 2);
        QCOMPARE(capture.texts(QStringLiteral("Tunnel")).first(), QStringLiteral("sysext не готов: failed(\"no provider\")"));
        QVERIFY(rig.provider.requests(QStringLiteral("start")).isEmpty());
    }

    // A reload whose start fails (every start of "u1" does), or that is stopped during its
    // install, starts with the stored URL in its place; the reload reports its own failure.
    void reloadFailures_data()
    {
        QTest::addColumn<bool>("stopDuringInstall"); // else the start with the new URL fails
        QTest::addColumn<QString>("error");
        QTest::addColumn<QStringList>("starts");
        QTest::addColumn<QStringList>("log");
        QTest::newRow("start fails, fallback succeeds")
            << false << "VPNErrorDomain error 3: start u1" << QStringList{"start:u1", "start:stored"} << QStringList();
        QTest::newRow("cancelled during the install")
            << true << "cancelled" << QStringList() << QStringList{"reload fallback start failed: cancelled"};
    }
    void reloadFailures()
    {
        QFETCH(bool, stopDuringInstall);
        QFETCH(QString, error);
        QFETCH(QStringList, starts);
        QFETCH(QStringList, log);
        FakeSteps steps;
        steps.hangInstall = stopDuringInstall;
        Rig rig({.steps = steps.operations()});
        rig.suite->set(AppGroupKey::subscriptionURL, "stored");
        LogCapture capture;

        test::Pending<void> reload(rig.controller.reload(QStringLiteral("u1")));
        if (stopDuringInstall) {
            QTRY_VERIFY(steps.events.contains("install:u1"));
            test::await(rig.controller.stop(true));
        }
        QVERIFY(reload.waitDone());

        QCOMPARE(errorText(reload.error()), error);
        QCOMPARE(steps.events.filter(QStringLiteral("start:")), starts);
        QCOMPARE(capture.texts(QStringLiteral("Tunnel")), log);
        QVERIFY(!rig.controller.startInFlight());
    }

    // The user's stop while the provider is away: the tunnel reads disconnecting, not
    // disconnected, until the provider is back and has carried out the stop, and never
    // up again; the stop ends once sent. A provider that stays away past the bound fails
    // the stop and shows its tunnel when it is back; a connect meanwhile replaces the
    // stop, which then ends quietly.
    void stopWhileTheProviderIsAway_data()
    {
        QTest::addColumn<QString>("meanwhile");
        QTest::addColumn<Calls>("expected"); // status changes from the stop on
        QTest::addColumn<QString>("stopOutcome");
        QTest::addColumn<int>("stops"); // received by the provider
        QTest::newRow("back") << "" << Calls{{1, 5}, {5, 1}} << "none" << 1;
        QTest::newRow("away past the bound") << "bound" << Calls{{1, 5}, {5, 1}, {1, 3}}
                                             << "VPNErrorDomain error 3: no tunnel provider within 10000 ms to stop the tunnel"
                                             << 0;
        QTest::newRow("connect meanwhile") << "connect" << Calls{{1, 5}, {5, 1}, {1, 3}} << "none" << 0;
    }
    void stopWhileTheProviderIsAway()
    {
        QFETCH(QString, meanwhile);
        auto clock = std::make_shared<test::ManualClock>();
        test::FakeExtensionManager extensions(QList<test::FakeExtensionManager::Callback>{
            {test::FakeExtensionManager::Callback::Completed}});
        Rig rig({.extensions = &extensions, .clock = clock});
        rig.attachSaved(3);
        rig.provider.kill();
        QTRY_COMPARE(rig.controller.status(), VPNStatus::Disconnected);
        Calls calls;
        rig.controller.setOnStatusChange([&](VPNStatus from, VPNStatus to) { calls.append({int(from), int(to)}); });

        test::Pending<void> stop(rig.controller.stop(true));
        QTRY_COMPARE(rig.controller.status(), VPNStatus::Disconnecting);
        QVERIFY(!stop.isDone());
        if (meanwhile == u"bound") {
            clock->advance(10s);
        } else if (meanwhile == u"connect") {
            QVERIFY_THROWS_EXCEPTION(VPNError, test::await(rig.controller.connect(kURL)));
        }
        if (!meanwhile.isEmpty()) // a stop still to be sent waits for the provider
            QTRY_VERIFY(stop.isDone());
        QVERIFY(rig.provider.listen());

        QFETCH(Calls, expected);
        QTRY_COMPARE(calls, expected);
        QVERIFY(stop.waitDone());
        QTEST(errorText(stop.error()), "stopOutcome");
        QTest::qWait(50);
        QCOMPARE(calls, expected);
        QTEST(int(rig.provider.requests(QStringLiteral("stop")).size()), "stops");
    }

    // The switch's bound runs on the controller's clock: a confirmation just inside it
    // counts, one at the bound does not (decided then, with the time-out line). A reply
    // that is not a confirmation is no switch.
    void selectRegion_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("replyAtMs");
        QTest::addColumn<QString>("logLine"); // empty: not applied, nothing logged
        const QByteArray confirmed = R"({"applied":true,"selectedMember":"de-2"})";
        QTest::newRow("applied without member") << QByteArray(R"({"applied":true})") << 0 << "";
        QTest::newRow("not JSON") << QByteArray("applied") << 0 << "";
        QTest::newRow("confirmed just inside the bound") << confirmed << 4999 << "selectRegion RPC applied (keywords=2)";
        QTest::newRow("confirmed at the bound") << confirmed << 5000 << "selectRegion RPC timed out — считаем неприменившимся";
    }
    void selectRegion()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, replyAtMs);
        QFETCH(QString, logLine);
        auto clock = std::make_shared<test::ManualClock>();
        Rig rig({.clock = clock});
        rig.attachSaved(3);
        qint64 requestID = -1;
        rig.provider.setMessageHandler(QStringLiteral("selectRegion"), [&](const auto &request) {
            requestID = request.id;
            return Reply::silence();
        });
        LogCapture capture;

        test::Pending<bool> switched(rig.controller.selectRegion({"de", "frankfurt"}, true));
        QVERIFY(rig.provider.waitForRequests(QStringLiteral("message")));
        clock->advance(std::chrono::milliseconds(replyAtMs));
        rig.provider.sendRaw(tunnelwire::encode({{"id", double(requestID)}, {"ok", true},
                                                {"data", QString::fromLatin1(reply.toBase64())}}));
        QVERIFY(switched.waitDone());
        clock->advance(10s); // nothing changes afterwards

        QCOMPARE(switched.result(), logLine.contains(u"applied"));
        QCOMPARE(capture.texts(QStringLiteral("Tunnel")), logLine.isEmpty() ? QStringList() : QStringList{logLine});
    }

    // The reload's wait for the disconnect runs on the controller's clock, looking every
    // 0.2 s: it ends at the first look after the tunnel went down, else at 15 s, never earlier.
    void reloadWaitsForTheDisconnectOnTheClock_data()
    {
        QTest::addColumn<int>("downAtMs"); // -1: stays up
        QTest::addColumn<int>("installAtMs");
        QTest::newRow("goes down at 3 s") << 3000 << 3200;
        QTest::newRow("stays up") << -1 << 15000;
    }
    void reloadWaitsForTheDisconnectOnTheClock()
    {
        QFETCH(int, downAtMs);
        QFETCH(int, installAtMs);
        auto clock = std::make_shared<test::ManualClock>();
        test::FakeExtensionManager extensions; // holds every request until answered
        Rig rig({.extensions = &extensions, .clock = clock, .reloadDisconnectTimeout = 15s, .statusPollInterval = 200ms});
        rig.provider.setStopSteps({});
        rig.attachSaved(3);

        test::Pending<void> reload(rig.controller.reload(kURL));
        QVERIFY(rig.provider.waitForRequests(QStringLiteral("stop")));
        int now = 0; // ms on the clock; the look at this moment has been taken
        while (extensions.requests().isEmpty() && now <= 16000) {
            if (now == downAtMs) {
                rig.provider.setStatus(1);
                QTRY_COMPARE(rig.controller.status(), VPNStatus::Disconnected);
            }
            clock->advance(100ms);
            now += 100;
        }
        QCOMPARE(now, installAtMs); // the install asked for activation at that moment

        extensions.requests().first()->finish(SystemExtensionRequestResult::Completed);
        reload.result();
        QVERIFY(rig.provider.waitForRequests(QStringLiteral("start")));
    }

    // The provider's status report: offset dates, 64-bit counters, nulls and unknown keys
    // come through; values out of range or in another form fail the query.
    void queryStatus_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<QString>("error");
        const QByteArray base = R"({"singboxRunning":true,"recentLogs":["a"])";
        QTest::newRow("no reply") << Reply::noData() << "statusUnavailable";
        QTest::newRow("valid report")
            << Reply::withData(base + R"(,"ifaceName":null,"lastTunOpenAt":"2024-05-01T10:20:30+03:00",)"
                                      R"("autoDetectTotalCalls":18446744073709551615,"x":1})")
            << "";
        QTest::newRow("index beyond 32 bits") << Reply::withData(base + R"(,"ifaceIndex":2147483648})") << "decode";
        QTest::newRow("date with fractions") << Reply::withData(base + R"(,"lastTunOpenAt":"2024-05-01T10:20:30.5Z"})")
                                             << "decode";
    }
    void queryStatus()
    {
        QFETCH(Reply, reply);
        QFETCH(QString, error);
        Rig rig;
        rig.attachSaved(3);
        rig.provider.setMessageReply(QStringLiteral("status"), reply);
        test::Pending<TunnelStatusReport> query(rig.controller.queryStatus());
        QVERIFY(query.waitDone(10s));

        QVERIFY2(errorText(query.error()).startsWith(error.isEmpty() ? QStringLiteral("none") : error),
                 qPrintable(errorText(query.error())));
        if (error.isEmpty())
            QVERIFY(query.result() == (TunnelStatusReport{true, std::nullopt, std::nullopt,
                                                          QDateTime(QDate(2024, 5, 1), QTime(7, 20, 30), Qt::UTC),
                                                          std::nullopt, {"a"}, std::nullopt, 18446744073709551615ULL,
                                                          std::nullopt}));
    }
};

QTEST_GUILESS_MAIN(TunnelControllerTest)
#include "itst_tunnel_controller.moc"
