#include "platform/Log.h"
#include "platform/TunnelManager.h"
#include "platform/TunnelWire.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include "support/Await.h"
#include "support/FakeProvider.h"
#include "support/TestHome.h"

using namespace kovra;
using namespace std::chrono_literals;
using Reply = provider::ProviderServer::Reply;

Q_DECLARE_METATYPE(Reply)

namespace {

// One saved configuration against one fake provider, in a private home.
struct Rig {
    explicit Rig(std::chrono::milliseconds replyBound = 10s)
        : preferences(TunnelPreferencesOptions{home.configHome() + QStringLiteral("/kovra/vpn-configurations.json"),
                                               provider.socketPath(), replyBound, 20ms})
    {
        manager = preferences.createManager();
        manager->setProtocolConfiguration(TunnelProviderProtocol{
            QStringLiteral("com.example.tunnel"), QStringLiteral("Kovra"),
            {{QStringLiteral("subscriptionURL"), QStringLiteral("https://example.test/sub")}}});
        manager->setEnabled(true);
        test::await(manager->saveToPreferences());
        session = manager->connection();
    }

    bool waitUntilProviderConnected() const
    {
        return QTest::qWaitFor([this] { return session->isProviderConnected(); }, 10000);
    }

    test::TestHome home;
    test::FakeProvider provider;
    TunnelPreferences preferences;
    TunnelProviderManager *manager = nullptr;
    TunnelProviderSession *session = nullptr;
};

// Every status change the session announces, with the thread it came on.
struct StatusLog {
    explicit StatusLog(TunnelProviderSession *session)
    {
        QObject::connect(session, &TunnelProviderSession::statusChanged, session, [this](VPNStatus s) {
            statuses.append(s);
            onGuiThread = onGuiThread && QThread::currentThread() == qApp->thread();
        });
    }
    QList<VPNStatus> statuses;
    bool onGuiThread = true;
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
    void startReportsConnectingThenConnectedInOrderOnGuiThread()
    {
        Rig rig;
        rig.provider.setStartSteps({{2, 0ms}, {3, 50ms}});
        QVERIFY(rig.waitUntilProviderConnected());
        QTRY_COMPARE(rig.session->status(), VPNStatus::Disconnected);
        StatusLog log(rig.session);

        rig.session->startVPNTunnel({{QStringLiteral("subscriptionURL"), QStringLiteral("https://example.test/sub")},
                                     {QStringLiteral("bypassLAN"), true},
                                     {QStringLiteral("selectedRegionKeywords"), QStringList{"de", "nl"}}});

        QTRY_COMPARE(log.statuses, (QList<VPNStatus>{VPNStatus::Connecting, VPNStatus::Connected}));
        QVERIFY(log.onGuiThread);
        const auto start = rig.provider.requests(QStringLiteral("start")).value(0).object;
        const QJsonObject options = start.value(QStringLiteral("options")).toObject();
        QCOMPARE(options.value(QStringLiteral("bypassLAN")), QJsonValue(true));
        QCOMPARE(options.value(QStringLiteral("selectedRegionKeywords")).toArray(), QJsonArray({"de", "nl"}));
        const QJsonObject configuration = start.value(QStringLiteral("configuration")).toObject();
        QCOMPARE(configuration.value(QStringLiteral("identifier")).toString(),
                 rig.manager->identifier().toString(QUuid::WithoutBraces));
    }

    void stopAsksTheProviderAndFollowsItsStatus()
    {
        Rig rig;
        rig.provider.setStatus(3);
        QVERIFY(rig.waitUntilProviderConnected());
        QTRY_COMPARE(rig.session->status(), VPNStatus::Connected);
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
        QTest::newRow("removed from the file") << "removed" << int(VPNError::ConfigurationInvalid);
        QTest::newRow("never saved") << "unsaved" << int(VPNError::ConfigurationInvalid);
        QTest::newRow("no provider") << "no provider" << int(VPNError::ConnectionFailed);
    }
    void startFailsAtOnceOnLocalChecks()
    {
        QFETCH(QString, setup);
        QFETCH(int, code);
        Rig rig;
        QVERIFY(rig.waitUntilProviderConnected());
        TunnelProviderManager *target = rig.manager;
        const QString file = rig.preferences.options().configurationsFile;
        if (setup == "disabled") {
            rig.manager->setEnabled(false);
            test::await(rig.manager->saveToPreferences());
        } else if (setup == "unreadable") {
            QVERIFY(QFile::remove(file));
            QVERIFY(QDir().mkdir(file));
        } else if (setup == "removed") {
            QVERIFY(QFile::remove(file));
        } else if (setup == "unsaved") {
            target = rig.preferences.createManager();
        } else {
            rig.provider.kill();
            QTRY_VERIFY(!rig.session->isProviderConnected());
        }
        try {
            target->connection()->startVPNTunnel({});
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

    void messageReplies_data()
    {
        QTest::addColumn<Reply>("script");
        QTest::addColumn<bool>("hasReply");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("bytes") << Reply::withData("{\"applied\":true}") << true << QByteArray("{\"applied\":true}");
        QTest::newRow("bytes later") << Reply::withData("late", 40ms) << true << QByteArray("late");
        QTest::newRow("empty bytes") << Reply::withData("") << true << QByteArray();
        QTest::newRow("no data") << Reply::noData() << false << QByteArray();
        QTest::newRow("provider error") << Reply::failure() << false << QByteArray();
        QTest::newRow("provider drops the connection") << Reply::disconnect() << false << QByteArray();
    }
    void messageReplies()
    {
        QFETCH(Reply, script);
        QFETCH(bool, hasReply);
        QFETCH(QByteArray, expected);
        Rig rig;
        rig.provider.setMessageReply(QStringLiteral("status"), script);
        QVERIFY(rig.waitUntilProviderConnected());

        SentMessage sent(rig.session, op("status"));
        QCOMPARE(sent.calls, 0); // never answered inside the send
        QVERIFY(sent.waitAnswered());
        QCOMPARE(sent.reply.has_value(), hasReply);
        if (hasReply)
            QCOMPARE(*sent.reply, expected);
        QCOMPARE(rig.provider.requests(QStringLiteral("message")).value(0).op(), QStringLiteral("status"));
        QTest::qWait(50);
        QCOMPARE(sent.calls, 1);
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

        // A send now fails at once; the provider coming back is picked up by the retry timer.
        QVERIFY_THROWS_EXCEPTION(VPNError, rig.session->sendProviderMessage("{}", [](auto) {}));
        rig.provider.setStatus(3);
        QVERIFY(rig.provider.listen());
        QTRY_COMPARE(rig.session->status(), VPNStatus::Connected);
        QCOMPARE(sent.calls, 1);
    }

    void silentProviderYieldsNoReplyAfterTheBound()
    {
        Rig rig(150ms);
        rig.provider.setMessageReply(QStringLiteral("status"), Reply::silence());
        QVERIFY(rig.waitUntilProviderConnected());
        LogCapture capture;
        const auto reply = test::await(rig.session->providerMessage(QJsonDocument(op("status")).toJson()), 10s);
        QVERIFY(!reply);
        QVERIFY(capture.contains(QStringLiteral("provider message got no reply within 150 ms")));
        QVERIFY(rig.session->isProviderConnected());
    }

    void lateReplyAfterTheBoundIsIgnored()
    {
        Rig rig(100ms);
        rig.provider.setMessageReply(QStringLiteral("status"), Reply::withData("late", 300ms));
        QVERIFY(rig.waitUntilProviderConnected());
        SentMessage sent(rig.session, op("status"));
        QVERIFY(sent.waitAnswered());
        QVERIFY(!sent.reply);
        QTest::qWait(400);
        QCOMPARE(sent.calls, 1);
    }

    void sendWithoutProviderFailsAtOnce()
    {
        Rig rig;
        QVERIFY(rig.waitUntilProviderConnected());
        rig.provider.kill();
        QTRY_VERIFY(!rig.session->isProviderConnected());
        int calls = 0;
        try {
            rig.session->sendProviderMessage("{}", [&calls](auto) { ++calls; });
            QFAIL("send did not fail");
        } catch (const VPNError &e) {
            QCOMPARE(e.code(), int(VPNError::ConnectionFailed));
        }
        QVERIFY_THROWS_EXCEPTION(VPNError, test::await(rig.session->providerMessage("{}")));
        QTest::qWait(50);
        QCOMPARE(calls, 0);
    }

    void hostileLinesAreDroppedAndTheClientGoesOn_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("logLine");
        QTest::newRow("malformed") << QByteArray("{\"event\":\"status\",\n")
                                   << "dropped a malformed line from the tunnel provider (18 bytes)";
        QTest::newRow("not an object") << QByteArray("[3]\n") << "dropped a malformed line from the tunnel provider (3 bytes)";
        QTest::newRow("oversized") << QByteArray(tunnelwire::kMaxLineBytes, 'x') + "\n"
                                   << "dropped a line over 1048576 bytes from the tunnel provider";
        QTest::newRow("oversized in pieces") << QByteArray(3 * tunnelwire::kMaxLineBytes, '{') + "}\n"
                                             << "dropped a line over 1048576 bytes from the tunnel provider";
        QTest::newRow("status out of range") << QByteArray("{\"event\":\"status\",\"status\":9}\n")
                                             << "dropped an invalid event from the tunnel provider";
        QTest::newRow("status as text") << QByteArray("{\"event\":\"status\",\"status\":\"3\"}\n")
                                        << "dropped an invalid event from the tunnel provider";
        QTest::newRow("no id") << QByteArray("{\"ok\":true}\n")
                               << "dropped a line from the tunnel provider without event or request id";
        QTest::newRow("binary") << QByteArray("\x00\xff\xfe\x01\n", 5)
                                << "dropped a malformed line from the tunnel provider (4 bytes)";
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

        rig.provider.sendRaw(bytes);
        rig.provider.setStatus(3); // the next good line still counts
        QTRY_COMPARE(rig.session->status(), VPNStatus::Connected);
        QVERIFY2(capture.contains(logLine), qPrintable(capture.texts(QStringLiteral("TunnelSession")).join('\n')));
        QVERIFY(rig.session->isProviderConnected());
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
