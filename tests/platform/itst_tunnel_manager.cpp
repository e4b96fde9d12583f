#include "platform/AtomicFile.h"
#include "platform/Log.h"
#include "platform/SystemExtension.h"
#include "platform/TunnelManager.h"
#include "platform/TunnelWire.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTest>

#include "support/Await.h"
#include "support/FakeProvider.h"
#include "support/ManualClock.h"
#include "support/TestHome.h"

using namespace kovra;
using namespace std::chrono_literals;
using Reply = provider::ProviderServer::Reply;

Q_DECLARE_METATYPE(Reply)

namespace {

TunnelPreferencesOptions optionsIn(const test::TestHome &home)
{
    // No provider listens on this socket: sessions read as disconnected.
    return test::tunnelOptions(home.paths(), home.runtimeDir() + QStringLiteral("/none.sock"));
}

TunnelProviderProtocol sampleProtocol()
{
    return {QStringLiteral("com.example.tunnel"), QStringLiteral("Kovra"),
            {{QStringLiteral("subscriptionURL"), QStringLiteral("https://example.test/sub")}}};
}

template<typename T>
int errorCode(QCoro::Task<T> task)
{
    try {
        test::await(std::move(task));
    } catch (const VPNError &e) {
        return e.code();
    }
    return 0;
}

// One saved configuration against one fake provider, in a private home.
struct Rig {
    explicit Rig(std::chrono::milliseconds replyBound = 10s, std::shared_ptr<Clock> clock = nullptr)
        : preferences(test::tunnelOptions(home.paths(), provider.socketPath(), std::move(clock), replyBound, 20ms))
    {
        manager = test::saveConfiguration(preferences, QStringLiteral("com.example.tunnel"));
        session = manager->connection();
    }

    bool waitUntilProviderConnected() const
    {
        return QTest::qWaitFor([this] { return session->isProviderConnected(); }, 10000);
    }

    test::TestHome home{test::TestHome::PathsOnly};
    test::FakeProvider provider;
    TunnelPreferences preferences;
    TunnelProviderManager *manager = nullptr;
    TunnelProviderSession *session = nullptr;
};

const QByteArray kStatus = R"({"op":"status"})";

// Sends a message and keeps what its handler was given.
struct SentMessage {
    SentMessage(TunnelProviderSession *session, const QByteArray &message)
    {
        session->sendProviderMessage(message, [this](std::optional<QByteArray> r) {
            ++calls;
            reply = std::move(r);
        });
    }
    bool waitAnswered(std::chrono::milliseconds timeout = 10s) const
    {
        return QTest::qWaitFor([this] { return calls > 0; }, int(timeout.count()));
    }
    int calls = 0;
    std::optional<QByteArray> reply;
};

// Records every outcome of the requests it is the delegate of.
class RecordingDelegate : public SystemExtensionRequestDelegate {
public:
    QStringList outcomes;
    void requestDidFinish(const SystemExtensionRequest &, SystemExtensionRequestResult result) override
    {
        outcomes << (result == SystemExtensionRequestResult::Completed ? "completed" : "reboot");
    }
    void requestDidFail(const SystemExtensionRequest &, const QString &error) override { outcomes << "failed: " + error; }
    void requestNeedsUserApproval(const SystemExtensionRequest &) override { outcomes << "approval"; }
    SystemExtensionReplacementAction actionForReplacingExtension(const SystemExtensionRequest &, const QString &,
                                                                 const QString &) override
    {
        return SystemExtensionReplacementAction::Replace;
    }
};

// The statuses a spy on statusChanged saw, as numbers.
QList<int> statusesSeen(const QSignalSpy &spy)
{
    QList<int> seen;
    for (const auto &arguments : spy)
        seen << int(arguments.at(0).value<VPNStatus>());
    return seen;
}

QString outcomeOf(const test::Pending<void> &task)
{
    if (!task.isDone())
        return QStringLiteral("pending");
    return task.error() ? descriptionOf(task.error()) : QStringLiteral("done");
}

} // namespace

class TunnelManagerTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Every way a message ends. A provider that never answers, or answers after the bound,
    // yields no reply at the bound, once; the late reply is ignored.
    void messageReplies_data()
    {
        QTest::addColumn<Reply>("script");
        QTest::addColumn<int>("boundMs");
        QTest::addColumn<std::optional<QByteArray>>("expected");
        const std::optional<QByteArray> none;
        QTest::newRow("bytes") << Reply::withData("{\"applied\":true}") << 10000 << std::optional<QByteArray>("{\"applied\":true}");
        QTest::newRow("empty bytes") << Reply::withData("") << 10000 << std::optional(QByteArray());
        QTest::newRow("no data") << Reply::noData() << 10000 << none;
        QTest::newRow("provider error") << Reply::failure() << 10000 << none;
        QTest::newRow("late") << Reply::withData("late", 300ms) << 150 << none;
    }
    void messageReplies()
    {
        QFETCH(Reply, script);
        QFETCH(int, boundMs);
        Rig rig{std::chrono::milliseconds(boundMs)};
        rig.provider.setMessageReply(QStringLiteral("status"), script);
        QVERIFY(rig.waitUntilProviderConnected());
        LogCapture capture;

        SentMessage sent(rig.session, kStatus);
        QCOMPARE(sent.calls, 0); // never answered inside the send
        QVERIFY(sent.waitAnswered());
        QTEST(sent.reply, "expected");
        QCOMPARE(rig.provider.requests(QStringLiteral("message")).value(0).op(), QStringLiteral("status"));
        QTest::qWait(400);
        QCOMPARE(sent.calls, 1);
        QCOMPARE(capture.contains(QStringLiteral("provider message got no reply within 150 ms")), boundMs == 150);
        // The awaitable form gives the same answer (a late reply to the first is not taken for it).
        QCOMPARE(test::await(rig.session->providerMessage(kStatus), 10s), sent.reply);
        QVERIFY(rig.session->isProviderConnected());
    }

    void providerKilledMidConnectionEndsPendingMessageAndReconnectsLater()
    {
        Rig rig(60s); // far past the test's own wait: only the drop can end the message
        rig.provider.setStartSteps({{2, 0ms}, {3, 10s}});
        rig.provider.setMessageReply(QStringLiteral("status"), Reply::silence());
        QVERIFY(rig.waitUntilProviderConnected());
        rig.session->startVPNTunnel({});
        QTRY_COMPARE(rig.session->status(), VPNStatus::Connecting);
        SentMessage sent(rig.session, kStatus);
        QVERIFY(rig.provider.waitForRequests(QStringLiteral("message")));

        rig.provider.kill();
        QVERIFY(sent.waitAnswered(5s));
        QVERIFY(!sent.reply);
        QCOMPARE(rig.session->status(), VPNStatus::Disconnected);

        // A send or a start now fails at once, and is not sent later; the provider coming
        // back is picked up when its socket appears.
        QVERIFY_THROWS_EXCEPTION(VPNError, test::await(rig.session->providerMessage("{}")));
        QVERIFY_THROWS_EXCEPTION(VPNError, rig.session->startVPNTunnel({}));
        rig.provider.setStatus(3);
        QVERIFY(rig.provider.listen());
        QTRY_COMPARE(rig.session->status(), VPNStatus::Connected);
        QCOMPARE(sent.calls, 1);
        QCOMPARE(rig.provider.requests(QStringLiteral("start")).size(), 1);
    }

    // A stop asked while the provider is away goes out when it is back, before the
    // tunnel it finds up can read as up: the tunnel ends down and reads disconnecting
    // all the while. A start asked meanwhile replaces the stop; a provider that stays
    // away past the bound fails it. A stop whose connection drops before the provider
    // answered it goes out again.
    void stopWhileTheProviderIsAway_data()
    {
        QTest::addColumn<QString>("away");      // how the provider goes away
        QTest::addColumn<QString>("meanwhile"); // what is asked before it is back
        QTest::addColumn<int>("stops");         // stop requests the provider received
        QTest::addColumn<QList<int>>("seen");   // statuses reported from the stop on
        QTest::addColumn<QString>("outcome");   // of the stop's one-shot
        const QList<int> stopped{5, 1}, upAgain{5, 1, 3};
        QTest::newRow("back") << "killed" << "" << 1 << stopped << "done";
        QTest::newRow("stopped again") << "killed" << "stop" << 1 << stopped << "done";
        QTest::newRow("start unanswered when killed") << "killed during a start" << "" << 1 << stopped << "done";
        QTest::newRow("started again") << "killed" << "start" << 0 << upAgain << "cancelled";
        QTest::newRow("away past the bound")
            << "killed" << "bound" << 0 << upAgain
            << "VPNErrorDomain error 3: no tunnel provider within 10000 ms to stop the tunnel";
        QTest::newRow("dropped instead of answering") << "dropped at the stop" << "" << 2 << stopped << "done";
        QTest::newRow("killed after accepting") << "killed after the stop" << "" << 2 << stopped << "done";
    }
    void stopWhileTheProviderIsAway()
    {
        QFETCH(QString, away);
        QFETCH(QString, meanwhile);
        auto clock = std::make_shared<test::ManualClock>(); // the retries wait for it; the socket's return does not
        Rig rig(10s, clock);
        rig.provider.setStatus(3);
        QVERIFY(rig.waitUntilProviderConnected());
        QTRY_COMPARE(rig.session->status(), VPNStatus::Connected);
        QSignalSpy spy(rig.session, &TunnelProviderSession::statusChanged);

        std::optional<test::Pending<void>> written;
        if (away == u"dropped at the stop") {
            rig.provider.setStopReply(Reply::disconnect());
            written.emplace(rig.session->stopVPNTunnel().wait());
            QTRY_VERIFY(!rig.session->isProviderConnected());
            rig.provider.setStopReply(Reply::noData());
        } else if (away == u"killed after the stop") { // accepted, the tunnel not yet down
            rig.provider.setStopSteps({});
            written.emplace(rig.session->stopVPNTunnel().wait());
            QVERIFY(rig.provider.waitForRequests(QStringLiteral("stop")));
            QTest::qWait(50);
            rig.provider.kill();
            QTRY_VERIFY(!rig.session->isProviderConnected());
            rig.provider.setStopSteps({{5, 0ms}, {1, 0ms}});
        } else {
            std::optional<test::Pending<void>> start;
            if (away == u"killed during a start") {
                rig.provider.setStartReply(Reply::silence());
                start.emplace(rig.session->startVPNTunnel({}));
                QVERIFY(rig.provider.waitForRequests(QStringLiteral("start")));
            }
            rig.provider.kill();
            QTRY_VERIFY(!rig.session->isProviderConnected());
            QVERIFY(!start || start->waitDone());
            QTRY_COMPARE(rig.session->status(), VPNStatus::Disconnected);
            spy.clear();
            written.emplace(rig.session->stopVPNTunnel().wait());
        }
        QTRY_COMPARE(statusesSeen(spy), QList<int>{5});
        std::optional<test::Pending<void>> again;
        if (meanwhile == u"stop") {
            again.emplace(rig.session->stopVPNTunnel().wait());
        } else if (meanwhile == u"start") {
            QVERIFY_THROWS_EXCEPTION(VPNError, rig.session->startVPNTunnel({}));
        } else if (meanwhile == u"bound") {
            clock->advance(10s - 1ms);
            QVERIFY(!written->isDone());
            clock->advance(1ms);
        }

        // Back: a killed provider makes its socket again (the folder watch connects at
        // once); the one that dropped the client is tried again on the clock.
        if (away.startsWith(u"dropped"))
            clock->advance(20ms);
        else
            QVERIFY(rig.provider.listen());
        QFETCH(int, stops);
        QFETCH(QList<int>, seen);
        QTRY_COMPARE(statusesSeen(spy), seen);
        QTest::qWait(50);
        QCOMPARE(statusesSeen(spy), seen);
        QCOMPARE(rig.provider.requests(QStringLiteral("stop")).size(), stops);
        QTEST(outcomeOf(*written), "outcome");
        if (again)
            QTEST(outcomeOf(*again), "outcome");
    }

    // A stop that waited for the provider, which then refuses it, accepts it without the
    // tunnel going down, or leaves it unanswered: the provider's own status shows again,
    // at once on a refusal, else at the reply bound.
    void stopNotCarriedOutShowsTheProvidersStatusAgain_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<int>("upAgainAfterMs");
        QTest::newRow("refused") << Reply::failure() << 0;
        QTest::newRow("accepted, tunnel stays up") << Reply::noData() << 6000;
        QTest::newRow("unanswered") << Reply::silence() << 6000;
    }
    void stopNotCarriedOutShowsTheProvidersStatusAgain()
    {
        QFETCH(Reply, reply);
        QFETCH(int, upAgainAfterMs);
        auto clock = std::make_shared<test::ManualClock>();
        Rig rig(6s, clock);
        rig.provider.setStatus(3);
        rig.provider.setStopSteps({});
        rig.provider.setStopReply(reply);
        QVERIFY(rig.waitUntilProviderConnected());
        rig.provider.kill();
        QTRY_VERIFY(!rig.session->isProviderConnected());

        rig.session->stopVPNTunnel();
        QVERIFY(rig.provider.listen());
        QVERIFY(rig.provider.waitForRequests(QStringLiteral("stop")));
        if (upAgainAfterMs) {
            QTest::qWait(50);
            clock->advance(std::chrono::milliseconds(upAgainAfterMs - 1));
            QCOMPARE(rig.session->status(), VPNStatus::Disconnecting);
            clock->advance(1ms);
        }
        QTRY_COMPARE(rig.session->status(), VPNStatus::Connected);
    }

    // A line over the cap, arriving in pieces, is dropped and the client goes on; the
    // provider's side drops a request whose id is out of range.
    void hostileLinesAreDroppedAndBothSidesGoOn()
    {
        Rig rig;
        rig.provider.setStatus(2);
        QVERIFY(rig.waitUntilProviderConnected());
        QTRY_COMPARE(rig.session->status(), VPNStatus::Connecting);
        LogCapture capture;
        rig.provider.sendRaw(QByteArray(3 * tunnelwire::kMaxLineBytes, '{') + "}\n");
        QLocalSocket raw;
        raw.connectToServer(rig.provider.socketPath());
        QVERIFY(raw.waitForConnected(5000));
        raw.write("{\"id\":1e300,\"method\":\"getStatus\"}\n");
        QTRY_VERIFY(capture.contains(QStringLiteral("dropped a malformed request line (33 bytes)")));
        rig.provider.setStatus(3); // the next good line still counts
        QTRY_COMPARE(rig.session->status(), VPNStatus::Connected);
        QVERIFY(capture.contains(QStringLiteral("dropped a line over 1048576 bytes from the tunnel provider")));
    }

    // While nobody answers, the client tries again after 1, 2, 4, ... s, at most every
    // 30 s; it never connects inside a send. Its socket appearing connects at once. A
    // folder that others may write to is never trusted: said once, never connected.
    void withoutProviderTheClientBacksOffAndWatchesTheFolder_data()
    {
        QTest::addColumn<bool>("unsafeFolder");
        QTest::newRow("nobody listens") << false;
        QTest::newRow("folder writable by others") << true;
    }
    void withoutProviderTheClientBacksOffAndWatchesTheFolder()
    {
        QFETCH(bool, unsafeFolder);
        test::TestHome home{test::TestHome::PathsOnly};
        test::FakeProvider provider;
        provider.kill();
        const QString folder = QFileInfo(provider.socketPath()).absolutePath();
        if (unsafeFolder)
            QVERIFY(QFile::setPermissions(folder, QFileDevice::Permissions(0x7777)));
        auto clock = std::make_shared<test::ManualClock>();
        TunnelPreferencesOptions options = test::tunnelOptions(home.paths(), provider.socketPath(), clock);
        options.reconnectInterval = 1s;
        LogCapture capture;
        TunnelPreferences preferences(options);
        TunnelProviderSession *session = test::saveConfiguration(preferences, "com.example.tunnel")->connection();
        QSignalSpy statusSpy(session, &TunnelProviderSession::statusChanged);

        QList<qint64> waits;
        for (int i = 0; i < 7; ++i) {
            QTRY_COMPARE(capture.texts().filter("next try in ").size(), i + 1);
            waits << capture.texts().filter("next try in ").last().section(' ', -2, -2).toLongLong();
            clock->advance(std::chrono::milliseconds(waits.last()));
        }
        QCOMPARE(waits, (QList<qint64>{1000, 2000, 4000, 8000, 16000, 30000, 30000}));
        QVERIFY_THROWS_EXCEPTION(VPNError, session->startVPNTunnel({}));
        QCOMPARE(statusSpy.size(), 0);

        // A listener appears (the fake provider would refuse the unsafe folder itself).
        QLocalServer listener;
        QVERIFY(listener.listen(provider.socketPath()));
        if (unsafeFolder) {
            clock->advance(30s);
            QTest::qWait(50);
            QVERIFY(!session->isProviderConnected());
            QCOMPARE(capture.count(QStringLiteral("refused the tunnel provider socket %1: the socket folder %2 is "
                                                  "writable by others (mode 0777)")
                                       .arg(provider.socketPath(), folder)),
                     1);
        } else {
            QTRY_VERIFY(session->isProviderConnected()); // the clock stands still: the folder watch did it
        }
    }

    void badBase64ReplyEndsTheMessageWithoutData()
    {
        Rig rig;
        QVERIFY(rig.waitUntilProviderConnected());
        rig.provider.setMessageHandler(QStringLiteral("status"), [&rig](const auto &request) {
            rig.provider.sendRaw(tunnelwire::encode(
                {{"id", double(request.id)}, {"ok", true}, {"data", "*** not base64 ***"}}));
            return Reply::silence();
        });
        LogCapture capture;
        SentMessage sent(rig.session, kStatus);
        QVERIFY(sent.waitAnswered());
        QVERIFY(!sent.reply);
        QVERIFY(capture.contains(QStringLiteral("dropped a provider message reply that is not base64")));
    }

    void answersOnceAndNeverInsideSubmit_data()
    {
        QTest::addColumn<QString>("provider");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("provider answers") << "fake" << "completed";
        QTest::newRow("no socket") << "none" << "failed: the tunnel provider is not installed or not running: no socket at %1";
        QTest::newRow("stale socket file") << "stale"
                                           << "failed: the tunnel provider is not running: %1 refused the connection";
        QTest::newRow("provider accepts but stays silent")
            << "silent" << "failed: the tunnel provider at %1 did not answer within 200 ms";
    }
    void answersOnceAndNeverInsideSubmit()
    {
        QFETCH(QString, provider);
        QFETCH(QString, outcome);
        test::FakeProvider fake;
        const QString path = fake.socketPath();
        QLocalServer silent;
        if (provider != "fake")
            fake.kill();
        if (provider == "silent")
            QVERIFY(silent.listen(path));
        QFile stale(path); // a file left where the socket was: nobody listens on it
        if (provider == "stale")
            QVERIFY(stale.open(QIODevice::WriteOnly));

        ProviderActivationManager manager(path, 200ms);
        RecordingDelegate delegate;
        auto request = SystemExtensionRequest::activationRequest(QStringLiteral("com.example.tunnel"));
        request->setDelegate(&delegate);
        manager.submitRequest(request);
        QVERIFY(delegate.outcomes.isEmpty());

        QTRY_COMPARE(delegate.outcomes.size(), 1);
        QCOMPARE(delegate.outcomes.first(), QString(outcome).replace("%1", path));
        QTest::qWait(300);
        QCOMPARE(delegate.outcomes.size(), 1);
        QFile::remove(path);
    }

    void delegateGoneDropsTheAnswer()
    {
        test::FakeProvider fake;
        ProviderActivationManager manager(fake.socketPath(), 200ms);
        auto delegate = std::make_unique<RecordingDelegate>();
        auto request = SystemExtensionRequest::activationRequest(QStringLiteral("com.example.tunnel"));
        request->setDelegate(delegate.get());
        manager.submitRequest(request);
        delegate.reset();
        QVERIFY(fake.waitForRequests(QStringLiteral("getStatus")));
        QTest::qWait(50);
        QCOMPARE(request->delegate(), nullptr);
    }

    // Saving one configuration keeps the others.
    void savingOneConfigurationKeepsTheOthersInAPrivateFile()
    {
        test::TestHome home{test::TestHome::PathsOnly};
        TunnelPreferences preferences(optionsIn(home));
        TunnelProviderManager *a = preferences.createManager();
        TunnelProviderManager *b = preferences.createManager();
        a->setProtocolConfiguration(sampleProtocol());
        b->setProtocolConfiguration(sampleProtocol());
        test::await(a->saveToPreferences());
        test::await(b->saveToPreferences());
        a->setLocalizedDescription(QStringLiteral("changed"));
        test::await(a->saveToPreferences());
        // Loading again hands out the same objects.
        QCOMPARE(test::await(preferences.loadAllFromPreferences()), (QList<TunnelProviderManager *>{a, b}));

        TunnelPreferences other(optionsIn(home));
        const auto all = test::await(other.loadAllFromPreferences());
        QCOMPARE(all.size(), 2);
        QCOMPARE(all.at(0)->localizedDescription(), QStringLiteral("changed"));
        QCOMPARE(all.at(1)->identifier(), b->identifier());
    }

    void save_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<int>("code");
        QTest::newRow("saved") << "" << 0;
        QTest::newRow("file is a folder") << "folder" << int(VPNError::ConfigurationReadWriteFailed);
        QTest::newRow("no protocol") << "no protocol" << int(VPNError::ConfigurationInvalid);
        QTest::newRow("value of another type") << "bytes" << int(VPNError::ConfigurationInvalid);
    }
    void save()
    {
        QFETCH(QString, setup);
        QFETCH(int, code);
        test::TestHome home{test::TestHome::PathsOnly};
        TunnelPreferences preferences(optionsIn(home));
        TunnelProviderManager *m = preferences.createManager();
        TunnelProviderProtocol protocol = sampleProtocol();
        if (setup == "folder")
            QVERIFY(QDir().mkpath(preferences.options().configurationsFile));
        if (setup == "bytes")
            protocol.providerConfiguration.insert(QStringLiteral("blob"), QByteArray("x"));
        if (setup != "no protocol")
            m->setProtocolConfiguration(protocol);
        QSignalSpy statusSpy(m->connection(), &TunnelProviderSession::statusChanged);

        QCOMPARE(errorCode(m->saveToPreferences()), code);
        if (setup == "folder") // an unreadable file fails the load too
            QCOMPARE(errorCode(preferences.loadAllFromPreferences()), code);
        QCOMPARE(m->isSaved(), code == 0);
        if (code == 0) // saving again changes no status
            QCOMPARE(errorCode(m->saveToPreferences()), 0);
        // Only a saved configuration has a status; it starts disconnected.
        QCOMPARE(m->connection()->status(), code ? VPNStatus::Invalid : VPNStatus::Disconnected);
        QCOMPARE(statusSpy.size(), code ? 0 : 1);
    }

    void damagedContentReadsAsEmptyAndSavingStillWorks_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("keptAside");
        QTest::newRow("not JSON") << QByteArray("{\"configurations\": [") << true;
        QTest::newRow("entry without identifier") << QByteArray("{\"configurations\": [{\"enabled\": true}, 7]}")
                                                  << false;
    }
    void damagedContentReadsAsEmptyAndSavingStillWorks()
    {
        QFETCH(QByteArray, content);
        test::TestHome home{test::TestHome::PathsOnly};
        TunnelPreferences preferences(optionsIn(home));
        QVERIFY(files::writeAtomically(preferences.options().configurationsFile, content));

        QFETCH(bool, keptAside);
        LogCapture capture;
        QVERIFY(test::await(preferences.loadAllFromPreferences()).isEmpty());
        // A file that does not parse is never lost: it is moved aside, with a line naming it.
        const QDir dir(home.configHome() + "/kovra");
        const QStringList aside = dir.entryList({QStringLiteral("vpn-configurations.json.corrupt-*")}, QDir::Files);
        QCOMPARE(aside.size(), keptAside ? 1 : 0);
        if (keptAside)
            QVERIFY(capture.texts(QStringLiteral("TunnelSession")).join('\n').contains(aside.first()));
        TunnelProviderManager *m = preferences.createManager();
        m->setProtocolConfiguration(sampleProtocol());
        test::await(m->saveToPreferences());
        TunnelPreferences other(optionsIn(home));
        const auto all = test::await(other.loadAllFromPreferences());
        QCOMPARE(all.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TunnelManagerTest)
#include "itst_tunnel_manager.moc"
