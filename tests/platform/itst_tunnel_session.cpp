#include "platform/Log.h"
#include "platform/TunnelManager.h"
#include "platform/TunnelWire.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include "support/Await.h"
#include "support/FakeProvider.h"
#include "support/ManualClock.h"
#include "support/TestHome.h"

using namespace kovra;
using namespace std::chrono_literals;
using Reply = provider::ProviderServer::Reply;

Q_DECLARE_METATYPE(Reply)

namespace {

// One saved configuration against one fake provider, in a private home.
struct Rig {
    explicit Rig(std::chrono::milliseconds replyBound = 10s)
        : preferences(test::tunnelOptions(home.paths(), provider.socketPath(), nullptr, replyBound, 20ms))
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

// Sends a message and keeps what its handler was given.
struct SentMessage {
    SentMessage(TunnelProviderSession *session, const QJsonObject &message)
    {
        session->sendProviderMessage(QJsonDocument(message).toJson(QJsonDocument::Compact),
                                     [this](std::optional<QByteArray> r) {
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

QJsonObject op(const char *name)
{
    return {{QStringLiteral("op"), QLatin1String(name)}};
}

} // namespace

class TunnelSessionTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void startAndStopFollowTheProvider()
    {
        Rig rig;
        rig.provider.setStartSteps({{2, 0ms}, {3, 50ms}});
        QVERIFY(rig.waitUntilProviderConnected());
        QTRY_COMPARE(rig.session->status(), VPNStatus::Disconnected);
        QList<VPNStatus> statuses;
        bool onGuiThread = true;
        QObject::connect(rig.session, &TunnelProviderSession::statusChanged, rig.session, [&](VPNStatus s) {
            statuses.append(s);
            onGuiThread = onGuiThread && QThread::currentThread() == qApp->thread();
        });

        rig.session->startVPNTunnel({{QStringLiteral("subscriptionURL"), QStringLiteral("https://example.test/sub")},
                                     {QStringLiteral("bypassLAN"), true},
                                     {QStringLiteral("selectedRegionKeywords"), QStringList{"de", "nl"}}});
        QCOMPARE(statuses.size(), 0); // reported from the event loop, never inside the call

        QTRY_COMPARE(statuses, (QList<VPNStatus>{VPNStatus::Connecting, VPNStatus::Connected}));
        QVERIFY(onGuiThread);
        const auto start = rig.provider.requests(QStringLiteral("start")).value(0).object;
        const QJsonObject options = start.value(QStringLiteral("options")).toObject();
        QCOMPARE(options.value(QStringLiteral("bypassLAN")), QJsonValue(true));
        QCOMPARE(options.value(QStringLiteral("selectedRegionKeywords")).toArray(), QJsonArray({"de", "nl"}));
        const QJsonObject configuration = start.value(QStringLiteral("configuration")).toObject();
        QCOMPARE(configuration.value(QStringLiteral("identifier")).toString(),
                 rig.manager->identifier().toString(QUuid::WithoutBraces));

        rig.session->stopVPNTunnel();
        QVERIFY(rig.provider.waitForRequests(QStringLiteral("stop")));
        QTRY_COMPARE(rig.session->status(), VPNStatus::Disconnected);
    }

    void startFailsAtOnceOnLocalChecks_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<int>("code");
        QTest::newRow("disabled") << "disabled" << int(VPNError::ConfigurationDisabled);
        QTest::newRow("unreadable configurations file") << "unreadable" << int(VPNError::ConfigurationReadWriteFailed);
        QTest::newRow("no provider") << "no provider" << int(VPNError::ConnectionFailed);
    }
    void startFailsAtOnceOnLocalChecks()
    {
        QFETCH(QString, setup);
        QFETCH(int, code);
        Rig rig;
        QVERIFY(rig.waitUntilProviderConnected());
        const QString file = rig.preferences.options().configurationsFile;
        if (setup == "disabled") {
            rig.manager->setEnabled(false);
            test::await(rig.manager->saveToPreferences());
        } else if (setup == "unreadable") {
            QVERIFY(QFile::remove(file));
            QVERIFY(QDir().mkdir(file));
        } else {
            rig.provider.kill();
            QTRY_VERIFY(!rig.session->isProviderConnected());
        }
        try {
            rig.session->startVPNTunnel({});
            QFAIL("start did not fail");
        } catch (const VPNError &e) {
            QCOMPARE(e.code(), code);
            QCOMPARE(e.domain(), QStringLiteral("VPNErrorDomain"));
        }
        QTest::qWait(50);
        QVERIFY(rig.provider.requests(QStringLiteral("start")).isEmpty());
    }

    void providerStartErrorFallsBackToDisconnectedWithLogLine()
    {
        Rig rig;
        rig.provider.setStatus(2);
        rig.provider.setStartError(provider::ProviderServer::ErrorReply{"VPNErrorDomain", 3, "no route"});
        QVERIFY(rig.waitUntilProviderConnected());
        QTRY_COMPARE(rig.session->status(), VPNStatus::Connecting);
        LogCapture capture;
        rig.session->startVPNTunnel({});
        QTRY_COMPARE(rig.session->status(), VPNStatus::Disconnected);
        QVERIFY(capture.contains(QStringLiteral("tunnel provider failed to start: VPNErrorDomain 3: no route")));
    }

    // Every way a message ends. A provider that never answers, or answers after the bound,
    // yields no reply at the bound, once; the late reply is ignored.
    void messageReplies_data()
    {
        QTest::addColumn<Reply>("script");
        QTest::addColumn<int>("boundMs");
        QTest::addColumn<bool>("hasReply");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("bytes") << Reply::withData("{\"applied\":true}") << 10000 << true << QByteArray("{\"applied\":true}");
        QTest::newRow("empty bytes") << Reply::withData("") << 10000 << true << QByteArray();
        QTest::newRow("no data") << Reply::noData() << 10000 << false << QByteArray();
        QTest::newRow("provider error") << Reply::failure() << 10000 << false << QByteArray();
        QTest::newRow("silent") << Reply::silence() << 150 << false << QByteArray();
        QTest::newRow("late") << Reply::withData("late", 300ms) << 150 << false << QByteArray();
    }
    void messageReplies()
    {
        QFETCH(Reply, script);
        QFETCH(int, boundMs);
        QFETCH(bool, hasReply);
        QFETCH(QByteArray, expected);
        Rig rig{std::chrono::milliseconds(boundMs)};
        rig.provider.setMessageReply(QStringLiteral("status"), script);
        QVERIFY(rig.waitUntilProviderConnected());
        LogCapture capture;

        SentMessage sent(rig.session, op("status"));
        QCOMPARE(sent.calls, 0); // never answered inside the send
        QVERIFY(sent.waitAnswered());
        QCOMPARE(sent.reply.has_value(), hasReply);
        if (hasReply)
            QCOMPARE(*sent.reply, expected);
        QCOMPARE(rig.provider.requests(QStringLiteral("message")).value(0).op(), QStringLiteral("status"));
        QTest::qWait(400);
        QCOMPARE(sent.calls, 1);
        QCOMPARE(capture.contains(QStringLiteral("provider message got no reply within 150 ms")), boundMs == 150);
        // The awaitable form gives the same answer (a late reply to the first is not taken for it).
        QCOMPARE(test::await(rig.session->providerMessage(QJsonDocument(op("status")).toJson()), 10s), sent.reply);
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
        SentMessage sent(rig.session, op("status"));
        QVERIFY(rig.provider.waitForRequests(QStringLiteral("message")));

        rig.provider.kill();
        QVERIFY(sent.waitAnswered(5s));
        QVERIFY(!sent.reply);
        QCOMPARE(rig.session->status(), VPNStatus::Disconnected);

        // A send now fails at once; the provider coming back is picked up when its socket appears.
        try {
            rig.session->sendProviderMessage("{}", [&sent](auto) { ++sent.calls; });
            QFAIL("send did not fail");
        } catch (const VPNError &e) {
            QCOMPARE(e.code(), int(VPNError::ConnectionFailed));
        }
        QVERIFY_THROWS_EXCEPTION(VPNError, test::await(rig.session->providerMessage("{}")));
        rig.provider.setStatus(3);
        QVERIFY(rig.provider.listen());
        QTRY_COMPARE(rig.session->status(), VPNStatus::Connected);
        QCOMPARE(sent.calls, 1);
    }

    void hostileLinesAreDroppedAndTheClientGoesOn_data()
    {
        QTest::addColumn<QByteArray>("bytes"); // from the provider; "request:" prefixed, to it
        QTest::addColumn<QString>("logLine");
        QTest::newRow("malformed") << QByteArray("{\"event\":\"status\",\n")
                                   << "dropped a malformed line from the tunnel provider (18 bytes)";
        QTest::newRow("oversized in pieces") << QByteArray(3 * tunnelwire::kMaxLineBytes, '{') + "}\n"
                                             << "dropped a line over 1048576 bytes from the tunnel provider";
        QTest::newRow("status out of range") << QByteArray("{\"event\":\"status\",\"status\":9}\n")
                                             << "dropped an invalid event from the tunnel provider";
        QTest::newRow("no id") << QByteArray("{\"ok\":true}\n")
                               << "dropped a line from the tunnel provider without event or request id";
        QTest::newRow("reply id 1e300") << QByteArray("{\"id\":1e300,\"ok\":true}\n")
                                        << "dropped a reply with an out-of-range request id from the tunnel provider";
        QTest::newRow("request id 1e300") << QByteArray("request:{\"id\":1e300,\"method\":\"getStatus\"}\n")
                                          << "dropped a malformed request line (33 bytes)";
    }
    void hostileLinesAreDroppedAndTheClientGoesOn()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, logLine);
        Rig rig;
        rig.provider.setStatus(2);
        QVERIFY(rig.waitUntilProviderConnected());
        QTRY_COMPARE(rig.session->status(), VPNStatus::Connecting);
        LogCapture capture;

        if (bytes.startsWith("request:")) {
            QLocalSocket raw;
            raw.connectToServer(rig.provider.socketPath());
            QVERIFY(raw.waitForConnected(5000));
            raw.write(bytes.mid(8));
            QTRY_VERIFY(capture.contains(logLine));
        } else {
            rig.provider.sendRaw(bytes);
        }
        rig.provider.setStatus(3); // the next good line still counts
        QTRY_COMPARE(rig.session->status(), VPNStatus::Connected);
        QVERIFY2(capture.contains(logLine), qPrintable(capture.texts().join('\n')));
        QVERIFY(rig.session->isProviderConnected());
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
        const auto nextTry = [&capture] {
            const QStringList lines = capture.texts(QStringLiteral("TunnelSession")).filter("next try in ");
            return lines.isEmpty() ? -1 : lines.last().section(' ', -2, -2).toLongLong();
        };
        for (int i = 0; i < 7; ++i) {
            QTRY_COMPARE(capture.texts().filter("next try in ").size(), i + 1);
            waits << nextTry();
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
        SentMessage sent(rig.session, op("status"));
        QVERIFY(sent.waitAnswered());
        QVERIFY(!sent.reply);
        QVERIFY(capture.contains(QStringLiteral("dropped a provider message reply that is not base64")));
    }
};

QTEST_GUILESS_MAIN(TunnelSessionTest)
#include "itst_tunnel_session.moc"
