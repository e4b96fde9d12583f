#include "core/AppGroupStore.h"
#include "platform/Log.h"
#include "platform/TunnelManager.h"
#include "tunnel/ProviderConfiguration.h"
#include "tunnel/SystemExtensionActivator.h"
#include "tunnel/TunnelController.h"

#include <QJsonArray>
#include <QSignalSpy>
#include <QTest>

#include <sys/stat.h>

#include "support/Await.h"
#include "support/FakeProvider.h"
#include "support/TestHome.h"

using namespace kovra;
using namespace std::chrono_literals;
using Reply = provider::ProviderServer::Reply;

Q_DECLARE_METATYPE(Reply)

namespace {

const QString kURL = QStringLiteral("https://sub.example/u1");

// Holds every activation request until the test answers it.
class HeldActivations : public SystemExtensionManager {
public:
    void submitRequest(std::shared_ptr<SystemExtensionRequest> request) override { requests.append(std::move(request)); }
    QList<std::shared_ptr<SystemExtensionRequest>> requests;
};

// Replacement steps that record what runs. The wait and the install can pass, fail,
// hang until the operation is cancelled, or hold until the test releases them.
struct FakeSteps {
    enum Mode { Pass, Fail, Hang, Hold };
    Mode wait = Pass;
    Mode install = Pass;
    QStringList failingStarts;
    QStringList events;
    CancellationSource release;

    TunnelController::ReloadOperations operations()
    {
        return {[] { return VPNStatus::Connected; },
                [this] { events << QStringLiteral("stop"); },
                [this](CancellationToken t) { return step(this, QStringLiteral("wait"), wait, t); },
                [this](QString url, CancellationToken t) { return step(this, QStringLiteral("install:") + url, install, t); },
                [this](QString url, AppGroupStore &) {
                    events << QStringLiteral("start:") + url;
                    if (failingStarts.contains(url))
                        throw VPNError(VPNError::ConnectionFailed, QStringLiteral("start ") + url);
                }};
    }

    static QCoro::Task<void> step(FakeSteps *self, QString name, Mode mode, CancellationToken token)
    {
        self->events << name;
        if (mode == Fail)
            throw VPNError(VPNError::ConfigurationReadWriteFailed, name);
        if (mode == Hold)
            co_await waitUntilCancelled(self->release.token());
        if (mode == Hang) {
            co_await waitUntilCancelled(token);
            // Ends a little later, as a platform call in progress would.
            co_await sleepFor(20ms);
            self->events << name + QStringLiteral(" ended");
            throw CancellationError();
        }
    }
};

// A controller over a fake provider on its own socket, in a private home.
struct Rig {
    explicit Rig(std::optional<TunnelController::ReloadOperations> steps = std::nullopt,
                 SystemExtensionManager *extensions = nullptr)
        : preferences(TunnelPreferencesOptions{home.configHome() + QStringLiteral("/kovra/vpn-configurations.json"),
                                               provider.socketPath(), 1500ms, 20ms}),
          activation(provider.socketPath()),
          activator(extensions ? *extensions : activation),
          controller(std::move(steps), options())
    {
    }

    TunnelControllerOptions options()
    {
        TunnelControllerOptions o;
        o.preferences = &preferences;
        o.activator = &activator;
        o.appGroupFactory = [suite = suite] { return std::make_unique<AppGroupStore>(suite, nullptr); };
        o.reloadDisconnectTimeout = 300ms;
        o.statusPollInterval = 10ms;
        o.selectRegionTimeout = 300ms;
        return o;
    }

    // A configuration saved earlier for the provider, attached, with the provider at `status`.
    void attachSaved(int status = 1)
    {
        provider.setStatus(status);
        auto *m = preferences.createManager();
        m->setProtocolConfiguration(TunnelProviderProtocol{kPacketTunnelBundleID, kTunnelServerAddress, {}});
        m->setEnabled(true);
        test::await(m->saveToPreferences());
        test::await(controller.attach());
        QVERIFY(QTest::qWaitFor([&] { return m->connection()->isProviderConnected(); }, 10000));
        QVERIFY(provider.waitForClients());
        QVERIFY(QTest::qWaitFor([&] { return controller.status() == VPNStatus(status); }, 10000));
    }

    test::TestHome home;
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
    void statusChangesAreReportedOnceEach()
    {
        Rig rig;
        QList<QPair<int, int>> calls;
        rig.controller.setOnStatusChange([&](int from, int to) { calls.append({from, to}); });
        QSignalSpy managerSpy(&rig.controller, &TunnelController::managerChanged);
        QSignalSpy observerSpy(&rig.controller, &TunnelController::statusObserverChanged);
        rig.attachSaved(1);
        QVERIFY(rig.controller.manager());

        rig.provider.setStatus(2);
        rig.provider.setStatus(3);
        QTRY_COMPARE(rig.controller.status(), VPNStatus::Connected);
        // Attaching again applies the same status: no callback, the same manager.
        test::await(rig.controller.attach());

        QCOMPARE(calls, (QList<QPair<int, int>>{{0, 1}, {1, 2}, {2, 3}}));
        QCOMPARE(managerSpy.count(), 1);
        QCOMPARE(observerSpy.count(), 3); // registered; then removed and registered again
    }

    // Attaching without a configuration of our provider changes nothing.
    void attachWithoutConfiguration_data()
    {
        QTest::addColumn<QString>("logLine"); // empty: another provider's configuration is saved
        QTest::newRow("another provider's configuration") << "";
        QTest::newRow("unreadable file") << "attach failed: VPNErrorDomain error 5";
    }
    void attachWithoutConfiguration()
    {
        QFETCH(QString, logLine);
        Rig rig;
        if (logLine.isEmpty()) {
            auto *m = rig.preferences.createManager();
            m->setProtocolConfiguration(TunnelProviderProtocol{QStringLiteral("com.other.tunnel"), kTunnelServerAddress, {}});
            test::await(m->saveToPreferences());
        } else {
            QVERIFY(QDir().mkpath(rig.preferences.options().configurationsFile));
        }
        LogCapture capture;

        test::await(rig.controller.attach());

        QVERIFY(!rig.controller.manager());
        QCOMPARE(rig.controller.status(), VPNStatus::Invalid);
        QCOMPARE(bool(rig.controller.lastError()), !logLine.isEmpty());
        const QStringList lines = capture.texts(QStringLiteral("Tunnel"));
        QCOMPARE(lines.size(), logLine.isEmpty() ? 0 : 1);
        if (!logLine.isEmpty())
            QVERIFY2(lines.first().startsWith(logLine), qPrintable(lines.first()));
    }

    void connectInstallsOnceAndStartsEveryTime()
    {
        Rig rig;
        rig.suite->set(AppGroupKey::selectedRegionKeywords, QStringList{QStringLiteral("de")});
        LogCapture capture;

        test::await(rig.controller.connect(kURL));
        QTRY_COMPARE(rig.controller.status(), VPNStatus::Connected);
        const QString file = rig.preferences.options().configurationsFile;
        const ino_t written = inodeOf(file);
        test::await(rig.controller.connect(kURL));

        QVERIFY(rig.provider.waitForRequests(QStringLiteral("start"), 2));
        const auto start = rig.provider.requests(QStringLiteral("start")).last().object;
        QCOMPARE(start.value("options").toObject().value("subscriptionURL").toString(), kURL);
        const QJsonObject saved = start.value("configuration").toObject().value("protocol").toObject();
        QCOMPARE(saved.value("providerBundleIdentifier").toString(), kPacketTunnelBundleID);
        QCOMPARE(saved.value("providerConfiguration").toObject().value("selectedRegionKeywords").toArray(),
                 QJsonArray({"de"}));
        QCOMPARE(inodeOf(file), written); // the current configuration was not saved again
        QCOMPARE(capture.count(QStringLiteral("startVPNTunnel: ") + kPacketTunnelBundleID), 2);
        QVERIFY(!rig.controller.startInFlight());
        QVERIFY(!rig.controller.lastError());
    }

    void installFailuresFailTheConnect_data()
    {
        QTest::addColumn<bool>("approval"); // else the request fails
        QTest::newRow("needs approval") << true;
        QTest::newRow("failed") << false;
    }
    void installFailuresFailTheConnect()
    {
        QFETCH(bool, approval);
        HeldActivations extensions;
        Rig rig(std::nullopt, &extensions);
        QSignalSpy errorSpy(&rig.controller, &TunnelController::lastErrorChanged);
        LogCapture capture;

        for (int attempt = 1; attempt <= 2; ++attempt) {
            test::Pending<void> connect(rig.controller.connect(kURL));
            QTRY_COMPARE(extensions.requests.size(), attempt);
            if (approval)
                extensions.requests.last()->needUserApproval();
            else
                extensions.requests.last()->fail(QStringLiteral("no provider"));
            QVERIFY(connect.waitDone());
            QVERIFY2(errorText(connect.error()).startsWith("systemExtensionNotReady"), qPrintable(errorText(connect.error())));
        }

        const auto state = approval ? SystemExtensionState::needsApproval() : SystemExtensionState::failed("no provider");
        QCOMPARE(errorSpy.count(), 2); // announced on every failure, also an equal one
        QVERIFY(errorText(rig.controller.lastError()).startsWith("systemExtensionNotReady"));
        QCOMPARE(rig.controller.lastErrorText(), *state.userMessage());
        const QStringList logLines{"sysext не готов: " + state.description(),
                                   "install failed: systemExtensionNotReady: " + *state.userMessage()};
        const QStringList lines = capture.texts(QStringLiteral("Tunnel"));
        QCOMPARE(lines.size(), 4);
        for (int i = 0; i < lines.size(); ++i)
            QVERIFY2(lines[i].startsWith(logLines[i % 2]), qPrintable(lines[i]));
        QVERIFY(rig.provider.requests(QStringLiteral("start")).isEmpty());
        QVERIFY(!rig.controller.startInFlight());
    }

    void stopDuringActivationCancelsTheConnect()
    {
        HeldActivations extensions;
        Rig rig(std::nullopt, &extensions);
        rig.attachSaved(3);

        test::Pending<void> connect(rig.controller.connect(kURL));
        QTRY_COMPARE(extensions.requests.size(), 1);
        QVERIFY(rig.controller.startInFlight());
        test::await(rig.controller.stop(true));
        QVERIFY(rig.provider.waitForRequests(QStringLiteral("stop")));
        QVERIFY(!connect.isDone());
        QVERIFY(rig.controller.startInFlight());

        extensions.requests.first()->finish(SystemExtensionRequestResult::Completed);
        QVERIFY(connect.waitDone());
        QVERIFY2(isCancellation(connect.error()), qPrintable(errorText(connect.error())));
        QVERIFY(!rig.controller.startInFlight());
        QTest::qWait(50);
        QVERIFY(rig.provider.requests(QStringLiteral("start")).isEmpty());
    }

    void connectSupersedesARunningReload()
    {
        FakeSteps steps;
        steps.wait = FakeSteps::Hang;
        steps.install = FakeSteps::Hold;
        Rig rig(steps.operations());
        QSignalSpy inFlightSpy(&rig.controller, &TunnelController::startInFlightChanged);

        test::Pending<void> reload(rig.controller.reload(QStringLiteral("u1")));
        QTRY_VERIFY(steps.events.contains(QStringLiteral("wait")));
        test::Pending<void> connect(rig.controller.connect(QStringLiteral("u2")));

        QVERIFY(reload.waitDone());
        QVERIFY2(isCancellation(reload.error()), qPrintable(errorText(reload.error())));
        QTRY_VERIFY(steps.events.contains(QStringLiteral("install:u2")));
        QVERIFY(!connect.isDone());
        QVERIFY(rig.controller.startInFlight());
        steps.release.cancel();
        connect.result();

        QCOMPARE(steps.events, QStringList({"stop", "wait", "wait ended", "install:u2", "start:u2"}));
        QVERIFY(!rig.controller.startInFlight());
        QCOMPARE(inFlightSpy.count(), 2); // true once, false once at the very end
    }

    void reloadFailures_data()
    {
        QTest::addColumn<int>("wait");
        QTest::addColumn<int>("install");
        QTest::addColumn<QStringList>("failingStarts");
        QTest::addColumn<QString>("storedURL");
        QTest::addColumn<QString>("stopWhen");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QStringList>("starts");
        QTest::addColumn<QString>("logLine");
        const QStringList u1 = {"u1"};
        const QStringList started = {"start:u1"};
        QTest::newRow("start fails, fallback succeeds")
            << int(FakeSteps::Pass) << int(FakeSteps::Pass) << u1 << "stored" << ""
            << "VPNErrorDomain error 3: start u1" << QStringList{"start:u1", "start:stored"} << "";
        QTest::newRow("start fails, nothing stored")
            << int(FakeSteps::Pass) << int(FakeSteps::Pass) << u1 << "" << ""
            << "VPNErrorDomain error 3: start u1" << started
            << "reload fallback start failed: subscriptionURLUnavailable";
        QTest::newRow("install fails")
            << int(FakeSteps::Pass) << int(FakeSteps::Fail) << QStringList() << "stored" << ""
            << "VPNErrorDomain error 5: install:u1" << QStringList{"start:stored"} << "";
        QTest::newRow("cancelled during the wait")
            << int(FakeSteps::Hang) << int(FakeSteps::Pass) << QStringList() << "stored" << "wait"
            << "cancelled" << QStringList() << "";
        QTest::newRow("cancelled during the install")
            << int(FakeSteps::Pass) << int(FakeSteps::Hang) << QStringList() << "stored" << "install:u1"
            << "cancelled" << QStringList() << "reload fallback start failed: cancelled";
    }
    void reloadFailures()
    {
        QFETCH(int, wait);
        QFETCH(int, install);
        QFETCH(QStringList, failingStarts);
        QFETCH(QString, storedURL);
        QFETCH(QString, stopWhen);
        QFETCH(QString, error);
        QFETCH(QStringList, starts);
        QFETCH(QString, logLine);
        FakeSteps steps;
        steps.wait = FakeSteps::Mode(wait);
        steps.install = FakeSteps::Mode(install);
        steps.failingStarts = failingStarts;
        Rig rig(steps.operations());
        rig.suite->set(AppGroupKey::subscriptionURL, storedURL);
        LogCapture capture;

        test::Pending<void> reload(rig.controller.reload(QStringLiteral("u1")));
        if (!stopWhen.isEmpty()) {
            QTRY_VERIFY(steps.events.contains(stopWhen));
            test::await(rig.controller.stop(true));
        }
        QVERIFY(reload.waitDone());

        QCOMPARE(errorText(reload.error()), error);
        QCOMPARE(steps.events.filter(QStringLiteral("start:")), starts);
        QCOMPARE(capture.texts(QStringLiteral("Tunnel")), logLine.isEmpty() ? QStringList() : QStringList{logLine});
        QVERIFY(!rig.controller.startInFlight());
    }

    void reloadFollowsTheLiveStatus_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("providerStops");
        QTest::addColumn<bool>("reloads");
        QTest::newRow("disconnected") << 1 << true << false;
        QTest::newRow("connected") << 3 << true << true;
        QTest::newRow("connecting, never goes down") << 2 << false << true;
    }
    void reloadFollowsTheLiveStatus()
    {
        QFETCH(int, status);
        QFETCH(bool, providerStops);
        QFETCH(bool, reloads);
        Rig rig;
        rig.attachSaved(status);
        if (!providerStops)
            rig.provider.setStopSteps({});

        test::await(rig.controller.reload(kURL));

        if (reloads)
            QVERIFY(rig.provider.waitForRequests(QStringLiteral("start")));
        else
            QTest::qWait(50);
        QCOMPARE(rig.provider.requests(QStringLiteral("stop")).size(), reloads ? 1 : 0);
        QCOMPARE(rig.provider.requests(QStringLiteral("start")).size(), reloads ? 1 : 0);
    }

    void routingReconnect_data()
    {
        QTest::addColumn<QVariant>("storedURL");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("startFails");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QStringList>("logLines");
        const QString failure = "VPNErrorDomain error 3: start " + kURL;
        QTest::newRow("no stored URL") << QVariant() << 3 << false << QStringList() << QStringList();
        QTest::newRow("reasserting") << QVariant(kURL) << 4 << false
                                     << QStringList{"stop", "wait", "install:" + kURL, "start:" + kURL} << QStringList();
        QTest::newRow("start fails") << QVariant(kURL) << 3 << true
                                     << QStringList{"stop", "wait", "install:" + kURL, "start:" + kURL, "start:" + kURL}
                                     << QStringList{"reload fallback start failed: " + failure,
                                                    "routing reconnect failed: " + failure};
    }
    void routingReconnect()
    {
        QFETCH(QVariant, storedURL);
        QFETCH(int, status);
        QFETCH(bool, startFails);
        QFETCH(QStringList, events);
        QFETCH(QStringList, logLines);
        FakeSteps steps;
        if (startFails)
            steps.failingStarts << kURL;
        Rig rig(steps.operations());
        rig.attachSaved(status);
        rig.suite->setObject(AppGroupKey::subscriptionURL, storedURL);
        LogCapture capture;

        test::await(rig.controller.routingReconnect());

        QCOMPARE(steps.events, events);
        QCOMPARE(capture.texts(QStringLiteral("Tunnel")), logLines);
    }

    void selectRegion_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<bool>("applied");
        QTest::addColumn<QString>("logLine");
        const auto json = [](const char *text, std::chrono::milliseconds delay = 0ms) {
            return Reply::withData(text, delay);
        };
        QTest::newRow("connecting: nothing sent") << 2 << json(R"({"applied":true,"selectedMember":"m"})") << false << "";
        QTest::newRow("applied with member") << 3 << json(R"({"applied":true,"selectedMember":"de-2"})") << true
                                             << "selectRegion RPC applied (keywords=2)";
        QTest::newRow("applied without member") << 3 << json(R"({"applied":true})") << false << "";
        QTest::newRow("no applied key") << 3 << json(R"({"selectedMember":"de-2"})") << false << "";
        QTest::newRow("reply after the time-out") << 3 << json(R"({"applied":true,"selectedMember":"m"})", 700ms)
                                                  << false << "selectRegion RPC timed out — считаем неприменившимся";
    }
    void selectRegion()
    {
        QFETCH(int, status);
        QFETCH(Reply, reply);
        QFETCH(bool, applied);
        QFETCH(QString, logLine);
        Rig rig;
        rig.attachSaved(status);
        rig.provider.setMessageReply(QStringLiteral("selectRegion"), reply);
        LogCapture capture;

        QCOMPARE(test::await(rig.controller.selectRegion({"de", "frankfurt"}, true)), applied);
        QTest::qWait(reply.delay.count() ? 700 : 0); // a late reply changes nothing

        QCOMPARE(capture.texts(QStringLiteral("Tunnel")), logLine.isEmpty() ? QStringList() : QStringList{logLine});
        const auto sent = rig.provider.requests(QStringLiteral("message"));
        QCOMPARE(sent.size(), status == 3 ? 1 : 0);
        if (!sent.isEmpty())
            QCOMPARE(sent.first().message, (QJsonObject{{"op", "selectRegion"},
                                                         {"keywords", QJsonArray{"de", "frankfurt"}},
                                                         {"closeConnections", true}}));
    }

    void queryStatus_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<QString>("error");
        QTest::newRow("no configuration") << "detached" << Reply::noData() << "managerUnavailable";
        QTest::newRow("silent provider") << "disconnected" << Reply::silence() << "statusUnavailable";
        QTest::newRow("valid report")
            << "connected"
            << Reply::withData(R"({"singboxRunning":true,"ifaceName":null,"ifaceIndex":7,)"
                               R"("lastTunOpenAt":"2024-05-01T10:20:30+03:00","recentLogs":["a","b"],)"
                               R"("autoDetectTotalCalls":18446744073709551615,"activeOutboundTag":"de-1","x":1})")
            << "";
    }
    void queryStatus()
    {
        QFETCH(QString, setup);
        QFETCH(Reply, reply);
        QFETCH(QString, error);
        Rig rig;
        if (setup != QLatin1String("detached"))
            rig.attachSaved(setup == QLatin1String("connected") ? 3 : 1);
        rig.provider.setMessageReply(QStringLiteral("status"), reply);
        LogCapture capture;

        test::Pending<TunnelStatusReport> query(rig.controller.queryStatus());
        QVERIFY(query.waitDone(10s));

        QVERIFY2(errorText(query.error()).startsWith(error.isEmpty() ? QStringLiteral("none") : error),
                 qPrintable(errorText(query.error())));
        QVERIFY(capture.texts(QStringLiteral("Tunnel")).isEmpty());
        if (!error.isEmpty())
            return;
        // Offset dates, 64-bit counters and unknown keys come through; absent keys stay absent.
        const TunnelStatusReport expected{true, std::nullopt, 7, QDateTime(QDate(2024, 5, 1), QTime(7, 20, 30), Qt::UTC),
                                          std::nullopt, {"a", "b"}, std::nullopt, 18446744073709551615ULL, "de-1"};
        QVERIFY(query.result() == expected);
    }
};

QTEST_GUILESS_MAIN(TunnelControllerTest)
#include "itst_tunnel_controller.moc"
