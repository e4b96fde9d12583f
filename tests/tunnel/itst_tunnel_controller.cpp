#include "core/AppGroupStore.h"
#include "platform/Log.h"
#include "platform/TunnelManager.h"
#include "platform/TunnelWire.h"
#include "tunnel/ProviderConfiguration.h"
#include "tunnel/SystemExtensionActivator.h"
#include "tunnel/TunnelController.h"
#include "tunnel/TunnelEnvironment.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QLocalServer>
#include <QMetaEnum>
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

// What a rig differs in; every bound not named is the product's.
struct Setup {
    std::optional<TunnelController::ReloadOperations> steps = std::nullopt;
    SystemExtensionManager *extensions = nullptr; // default: the real check of the fake provider
    std::shared_ptr<Clock> clock = nullptr;       // default: the system clock
    std::chrono::milliseconds reloadDisconnectTimeout = 300ms;
    std::chrono::milliseconds statusPollInterval = 10ms;
    std::chrono::milliseconds selectRegionTimeout = 5s;
};

// A controller over a fake provider on its own socket, in a private home.
struct Rig {
    explicit Rig(Setup setup = {})
        : clock(setup.clock ? setup.clock : Clock::system()),
          preferences(test::tunnelOptions(home.paths(), provider.socketPath(), clock, 6s, 20ms)),
          activation(provider.socketPath()),
          activator(setup.extensions ? *setup.extensions : activation),
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
        o.clock = clock;
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
    std::shared_ptr<Clock> clock;
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
        rig.controller.setOnStatusChange([&](VPNStatus from, VPNStatus to) { calls.append({int(from), int(to)}); });
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
        // QML reads the status as the enumeration, by name.
        QCOMPARE(rig.controller.property("status").value<VPNStatus>(), VPNStatus::Connected);
        QCOMPARE(QMetaEnum::fromType<VPNStatus>().valueToKey(int(VPNStatus::Connected)), "Connected");
    }

    // Attaching at start-up with the tunnel already up applies the real status at once,
    // never a "disconnected" first. Without a provider it reads disconnected: at once when
    // there is no socket, after the bound when the provider stays silent.
    void attachAppliesTheProvidersStatusAtOnce_data()
    {
        QTest::addColumn<QString>("provider");
        QTest::addColumn<int>("status");
        QTest::newRow("tunnel up") << "running" << 3;
        QTest::newRow("tunnel down") << "running" << 1;
        QTest::newRow("no socket") << "absent" << 1;
        QTest::newRow("silent provider") << "silent" << 1;
    }
    void attachAppliesTheProvidersStatusAtOnce()
    {
        QFETCH(QString, provider);
        QFETCH(int, status);
        auto clock = std::make_shared<test::ManualClock>();
        Rig rig({.clock = clock});
        rig.provider.setStatus(status);
        QLocalServer silent;
        if (provider != "running")
            rig.provider.kill();
        if (provider == "silent")
            QVERIFY(silent.listen(rig.provider.socketPath()));
        {
            // Saved by an earlier run of the app.
            TunnelPreferences earlier(test::tunnelOptions(rig.home.paths(), rig.home.runtimeDir() + "/none.sock"));
            test::saveConfiguration(earlier, kPacketTunnelBundleID);
        }
        QList<QPair<int, int>> calls;
        rig.controller.setOnStatusChange([&](VPNStatus from, VPNStatus to) { calls.append({int(from), int(to)}); });

        test::Pending<void> attach(rig.controller.attach());
        if (provider == "silent") {
            QTRY_VERIFY(silent.hasPendingConnections());
            QTest::qWait(50);
            QVERIFY(!attach.isDone());
            clock->advance(999ms);
            QVERIFY(!attach.isDone());
            clock->advance(1ms);
        }
        QVERIFY(attach.waitDone()); // the clock stands still otherwise: nothing waited for the bound

        QCOMPARE(calls, (QList<QPair<int, int>>{{0, status}}));
        QCOMPARE(rig.controller.status(), VPNStatus(status));
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

    // The start-up's environment puts every piece in its place: the provider on the
    // override socket, else in the runtime folder; the saved configuration below the
    // config folder; the settings the start reads from the app group below the folders.
    void startUpEnvironmentEquipsTheController_data()
    {
        QTest::addColumn<bool>("override");
        QTest::newRow("socket override") << true;
        QTest::newRow("runtime folder") << false;
    }
    void startUpEnvironmentEquipsTheController()
    {
        QFETCH(bool, override);
        test::TestHome home(test::TestHome::PathsOnly);
        const QString socket = override ? home.path() + QStringLiteral("/elsewhere/p.sock")
                                        : home.runtimeDir() + QStringLiteral("/kovra/packet-tunnel.sock");
        provider::ProviderServer provider(socket);
        QVERIFY(provider.listen());
        AppGroupStore(home.paths()).defaults()->set(AppGroupKey::selectedRegionKeywords, QStringList{QStringLiteral("de")});
        TunnelEnvironment tunnel(home.paths(), override ? socket : QString());
        TunnelController controller(tunnel.controllerOptions());

        test::await(controller.connect(kURL));
        QTRY_COMPARE(controller.status(), VPNStatus::Connected);
        QCOMPARE(provider.requests(QStringLiteral("start")).size(), 1);
        const QJsonObject start = provider.requests(QStringLiteral("start")).first().object;
        QCOMPARE(start.value("options").toObject().value("selectedRegionKeywords").toArray(), QJsonArray({"de"}));
        QVERIFY(QFile::exists(home.paths().configFolder() + QStringLiteral("/vpn-configurations.json")));
    }

    void installFailuresFailTheConnect_data()
    {
        QTest::addColumn<bool>("approval"); // else the request fails
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("message");
        QTest::newRow("needs approval")
            << true << "needsApproval"
            << "Разрешите Kovra S Tunnel: Системные настройки → Основные → Объекты входа и расширения";
        QTest::newRow("failed")
            << false << "failed(\"no provider\")"
            << "Не удалось установить сетевое расширение. Переустановите Kovra S из образа в «Программы».";
    }
    void installFailuresFailTheConnect()
    {
        QFETCH(bool, approval);
        QFETCH(QString, state);
        QFETCH(QString, message);
        test::FakeExtensionManager extensions; // holds every request until answered
        Rig rig({.extensions = &extensions});
        QSignalSpy errorSpy(&rig.controller, &TunnelController::lastErrorChanged);
        LogCapture capture;

        for (int attempt = 1; attempt <= 2; ++attempt) {
            test::Pending<void> connect(rig.controller.connect(kURL));
            QTRY_COMPARE(extensions.requests().size(), attempt);
            if (approval)
                extensions.requests().last()->needUserApproval();
            else
                extensions.requests().last()->fail(QStringLiteral("no provider"));
            QVERIFY(connect.waitDone());
            QVERIFY2(errorText(connect.error()).startsWith("systemExtensionNotReady"), qPrintable(errorText(connect.error())));
        }

        QCOMPARE(errorSpy.count(), 2); // announced on every failure, also an equal one
        QVERIFY(errorText(rig.controller.lastError()).startsWith("systemExtensionNotReady"));
        QCOMPARE(rig.controller.lastErrorText(), message);
        const QStringList logLines{"sysext не готов: " + state, "install failed: systemExtensionNotReady: " + message};
        QCOMPARE(capture.texts(QStringLiteral("Tunnel")), logLines + logLines);
        QVERIFY(rig.provider.requests(QStringLiteral("start")).isEmpty());
        QVERIFY(!rig.controller.startInFlight());
    }

    void stopDuringActivationCancelsTheConnect()
    {
        test::FakeExtensionManager extensions; // holds every request until answered
        Rig rig({.extensions = &extensions});
        rig.attachSaved(3);

        test::Pending<void> connect(rig.controller.connect(kURL));
        QTRY_COMPARE(extensions.requests().size(), 1);
        QVERIFY(rig.controller.startInFlight());
        test::await(rig.controller.stop(true));
        QVERIFY(rig.provider.waitForRequests(QStringLiteral("stop")));
        QVERIFY(!connect.isDone());
        QVERIFY(rig.controller.startInFlight());

        extensions.requests().first()->finish(SystemExtensionRequestResult::Completed);
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
        Rig rig({.steps = steps.operations()});
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
        Rig rig({.steps = steps.operations()});
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
        Rig rig({.steps = steps.operations()});
        rig.attachSaved(status);
        rig.suite->setObject(AppGroupKey::subscriptionURL, storedURL);
        LogCapture capture;

        test::await(rig.controller.routingReconnect());

        QCOMPARE(steps.events, events);
        QCOMPARE(capture.texts(QStringLiteral("Tunnel")), logLines);
    }

    // The switch's bound runs on the controller's clock: a confirmation just inside it
    // counts, one at the bound does not (decided then, with the time-out line).
    void selectRegion_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("replyAtMs"); // -1: never
        QTest::addColumn<bool>("applied");
        QTest::addColumn<QString>("logLine");
        const QByteArray confirmed = R"({"applied":true,"selectedMember":"de-2"})";
        const QString timedOut = "selectRegion RPC timed out — считаем неприменившимся";
        QTest::newRow("connecting: nothing sent") << 2 << confirmed << 0 << false << "";
        QTest::newRow("confirmed") << 3 << confirmed << 0 << true << "selectRegion RPC applied (keywords=2)";
        QTest::newRow("applied without member") << 3 << QByteArray(R"({"applied":true})") << 0 << false << "";
        QTest::newRow("no applied key") << 3 << QByteArray(R"({"selectedMember":"de-2"})") << 0 << false << "";
        QTest::newRow("not JSON") << 3 << QByteArray("applied") << 0 << false << "";
        QTest::newRow("confirmed just inside the bound") << 3 << confirmed << 4999 << true
                                                         << "selectRegion RPC applied (keywords=2)";
        QTest::newRow("confirmed at the bound") << 3 << confirmed << 5000 << false << timedOut;
        QTest::newRow("silent") << 3 << confirmed << -1 << false << timedOut;
    }
    void selectRegion()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, reply);
        QFETCH(int, replyAtMs);
        QFETCH(bool, applied);
        QFETCH(QString, logLine);
        auto clock = std::make_shared<test::ManualClock>();
        Rig rig({.clock = clock});
        rig.attachSaved(status);
        qint64 requestID = -1;
        rig.provider.setMessageHandler(QStringLiteral("selectRegion"), [&](const auto &request) {
            requestID = request.id;
            return Reply::silence();
        });
        LogCapture capture;

        test::Pending<bool> switched(rig.controller.selectRegion({"de", "frankfurt"}, true));
        if (status == 3) {
            QVERIFY(rig.provider.waitForRequests(QStringLiteral("message")));
            clock->advance(std::chrono::milliseconds(std::max(replyAtMs, 0)));
            if (replyAtMs >= 0)
                rig.provider.sendRaw(tunnelwire::encode({{"id", double(requestID)}, {"ok", true},
                                                        {"data", QString::fromLatin1(reply.toBase64())}}));
            else
                clock->advance(5s);
        }
        QVERIFY(switched.waitDone());
        clock->advance(10s); // nothing changes afterwards

        QCOMPARE(switched.result(), applied);
        QCOMPARE(capture.texts(QStringLiteral("Tunnel")), logLine.isEmpty() ? QStringList() : QStringList{logLine});
        const auto sent = rig.provider.requests(QStringLiteral("message"));
        QCOMPARE(sent.size(), status == 3 ? 1 : 0);
        if (!sent.isEmpty())
            QCOMPARE(sent.first().message, (QJsonObject{{"op", "selectRegion"},
                                                         {"keywords", QJsonArray{"de", "frankfurt"}},
                                                         {"closeConnections", true}}));
    }

    // On the system clock the bound never ends early, wherever in a second it starts.
    void selectRegionNeverTimesOutEarly()
    {
        Rig rig({.selectRegionTimeout = 400ms});
        rig.attachSaved(3);
        rig.provider.setMessageReply(QStringLiteral("selectRegion"), Reply::silence());
        for (int phase : {0, 250, 500, 750}) {
            QVERIFY(QTest::qWaitFor([phase] { return QTime::currentTime().msec() / 25 == phase / 25; }, 2000));
            QElapsedTimer elapsed;
            elapsed.start();
            test::Pending<bool> switched(rig.controller.selectRegion({"de"}, false));
            QVERIFY(switched.waitDone());
            QVERIFY2(elapsed.nsecsElapsed() >= 400'000'000, qPrintable(QString::number(elapsed.nsecsElapsed())));
            QCOMPARE(switched.result(), false);
        }
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
        Rig rig({.extensions = &extensions, .clock = clock, .reloadDisconnectTimeout = 15s,
                 .statusPollInterval = 200ms});
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
        auto clock = std::make_shared<test::ManualClock>();
        Rig rig({.clock = clock});
        if (setup != QLatin1String("detached"))
            rig.attachSaved(setup == QLatin1String("connected") ? 3 : 1);
        rig.provider.setMessageReply(QStringLiteral("status"), reply);
        LogCapture capture;

        test::Pending<TunnelStatusReport> query(rig.controller.queryStatus());
        if (reply.kind == Reply::Silence) {
            QVERIFY(rig.provider.waitForRequests(QStringLiteral("message")));
            clock->advance(6s); // the tunnel layer's reply bound
        }
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
