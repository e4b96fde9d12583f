#include "account/AuthState.h"

#include <QSignalSpy>
#include <QTest>

#include "support/Await.h"
#include "support/ErrorText.h"
#include "support/FakeServiceClient.h"
#include "support/ManualClock.h"
#include "support/MemoryTokenStore.h"
#include "support/RecordingUrlOpener.h"

using namespace kovra;
using namespace kovra::test;
using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(kovra::test::FakeReply)
using Kind = AuthState::StatusKind;

namespace {

const QString kNewToken = u"tok-issued-7f3a"_s;
const QString kOldToken = u"tok-stored-51c2"_s;
const QString kDeepLink = u"tg://resolve?domain=kovra_bot&start=n1"_s;

QByteArray sessionReply(const QString &nonce)
{
    return uR"({"nonce":"%1","deep_link":"tg://resolve?domain=kovra_bot&start=%1",)"
           uR"("https_link":"https://t.me/kovra_bot?start=%1","expires_in_seconds":600})"_s.arg(nonce)
        .toUtf8();
}
FakeReply loginReply(bool isNew = true, std::chrono::milliseconds delay = {})
{
    return FakeReply::json(200, uR"({"access_token":"%1","is_new":%2})"_s.arg(kNewToken, isNew ? u"true"_s : u"false"_s).toUtf8(),
                           delay);
}

// A session state over the test's client, an in-memory token store and a manual clock.
struct Session {
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    std::shared_ptr<MemoryTokenStore> tokens;
    std::shared_ptr<RecordingUrlOpener> opener = std::make_shared<RecordingUrlOpener>();
    std::shared_ptr<Defaults> defaults = Defaults::inMemory();
    AuthState auth;
    int hookCalls = 0;

    Session(APIClient *api, std::optional<QString> token)
        : tokens(std::make_shared<MemoryTokenStore>(std::move(token))),
          auth(std::make_shared<AuthService>(api, tokens), tokens, AppGroupStore(defaults, nullptr), opener,
               AuthState::Options{2000ms, 60, clock})
    {
        auth.setOnSessionInvalidated([this] { ++hookCalls; });
        await(auth.restore());
    }

    // Runs the poll loop to its end, moving the clock over each pause; the pauses, or
    // -1 when the loop stalls.
    int finishPolling()
    {
        int pauses = 0;
        for (;;) {
            const auto &task = auth.pollingTask();
            if (!task)
                return pauses;
            if (!QTest::qWaitFor([&] { return task->isFinished() || clock->pendingTimers() > 0; }, 10000))
                return -1;
            if (task->isFinished())
                return pauses;
            clock->advance(2000ms);
            ++pauses;
        }
    }
};

} // namespace

class AuthStateTest : public QObject {
    Q_OBJECT

    std::unique_ptr<FakeServiceClient> m_api;
    FakeService *m_fake = nullptr;
    APIClient *m_client = nullptr;

    QList<RecordedRequest> requestsTo(const QString &prefix, int host) const
    {
        QList<RecordedRequest> out;
        for (const RecordedRequest &r : m_fake->requests())
            if (r.path.startsWith(prefix) && r.host == host)
                out << r;
        return out;
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_api = std::make_unique<FakeServiceClient>(std::nullopt);
        m_fake = &m_api->service;
        m_client = &m_api->client;
    }
    void init()
    {
        m_fake->reset();
        m_fake->script(FakeService::anyHost, "POST", u"/auth/start_session"_s, {FakeReply::json(200, sessionReply(u"n1"_s))});
    }
    void cleanup() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }
    void cleanupTestCase() { m_api.reset(); }

    // What each poll answer does, and where a sign-in that fails leaves the status:
    // with the token store (a token stored before stays signed in).
    void thePollLoop_data()
    {
        QTest::addColumn<QList<FakeReply>>("polls");
        QTest::addColumn<bool>("tokenBefore");
        QTest::addColumn<bool>("failSaves");
        QTest::addColumn<Kind>("status");
        QTest::addColumn<QString>("lastError");
        QTest::addColumn<int>("requests");
        const QList<FakeReply> waiting{FakeReply::json(202)};
        QTest::newRow("confirmed at once") << QList{loginReply()} << false << false << Kind::authenticated << QString() << 1;
        QTest::newRow("409, 500, 400 and a bad body keep polling")
            << QList{FakeReply::json(409), FakeReply::json(500), FakeReply::json(400), FakeReply::json(200, "{}"),
                     loginReply(false)}
            << false << false << Kind::authenticated << QString() << 5;
        QTest::newRow("401 ends") << QList{FakeReply::json(401)} << false << false << Kind::anonymous
                                  << u"401 unauthorized"_s << 1;
        QTest::newRow("410 ends, stored token stays signed in")
            << QList{FakeReply::json(410)} << true << false << Kind::authenticated << u"410 gone"_s << 1;
        QTest::newRow("60 × 202 time out") << waiting << false << false << Kind::anonymous << u"linking timed out"_s << 60;
        QTest::newRow("time-out, stored token stays signed in")
            << QList{FakeReply::json(500), FakeReply::json(202)} << true << false << Kind::authenticated
            << u"linking timed out"_s << 60;
        QTest::newRow("save fails") << QList{loginReply()} << false << true << Kind::anonymous
                                    << u"the keyring is locked"_s << 1;
        QTest::newRow("save fails, stored token stays signed in")
            << QList{loginReply()} << true << true << Kind::authenticated << u"the keyring is locked"_s << 1;
    }
    void thePollLoop()
    {
        QFETCH(QList<FakeReply>, polls);
        QFETCH(bool, tokenBefore);
        QFETCH(bool, failSaves);
        QFETCH(Kind, status);
        QFETCH(QString, lastError);
        QFETCH(int, requests);
        // The first host gives the answers; the others fail, so a 5xx or a failure of
        // the first host stays the answer of its poll.
        m_fake->script(0, "GET", u"/auth/poll/n1"_s, polls);
        m_fake->script(FakeService::anyHost, "GET", u"/auth/poll/n1"_s, {FakeReply::close()});
        LogCapture logs;
        Session s(m_client, tokenBefore ? std::optional(kOldToken) : std::nullopt);
        s.tokens->failSaves = failSaves;

        await(s.auth.beginTelegramLink());
        QCOMPARE(s.auth.statusKind(), Kind::linking);
        QCOMPARE(s.auth.linkingExpiresAt(), s.clock->now().addSecs(600));
        const int pauses = s.finishPolling();

        QCOMPARE(s.auth.statusKind(), status);
        QCOMPARE(errorText(s.auth.lastError()), lastError);
        QCOMPARE(requestsTo(u"/auth/poll/"_s, 0).size(), requests);
        QCOMPARE(pauses, requests - 1);
        const bool completed = lastError.isEmpty();
        QCOMPARE(s.auth.pendingDeepLink().has_value(), !completed);
        QVERIFY(s.tokens->token == (completed ? std::optional(kNewToken) : tokenBefore ? std::optional(kOldToken) : std::nullopt));
        QCOMPARE(s.auth.isNewAccount(), completed && requests == 1);
        if (!completed) {
            const QString timeout = u"Время ожидания истекло. Попробуйте ещё раз."_s;
            const QString generic = u"Не удалось начать вход. Проверьте подключение."_s;
            QCOMPARE(s.auth.lastErrorMessage(), lastError == u"linking timed out"_s ? timeout : generic);
        }
        for (const QString &line : logs.texts())
            QVERIFY2(!line.contains(kNewToken) && !line.contains(kOldToken), "a token reached the log");
        for (const RecordedRequest &r : m_fake->requests())
            QVERIFY(!r.hasHeader("Authorization"));
    }

    // A sign-in that ends without a token (its start fails, or it is abandoned) takes
    // the status from the token store, and leaves the token, the hook and the last
    // error alone.
    void anAbandonedOrFailedStartKeepsAStoredToken_data()
    {
        QTest::addColumn<bool>("startFails");
        QTest::addColumn<bool>("tokenBefore");
        for (const bool fails : {true, false})
            for (const bool token : {false, true})
                QTest::addRow("%s, %s", fails ? "start fails" : "cancelled", token ? "token stored" : "no token")
                    << fails << token;
    }
    void anAbandonedOrFailedStartKeepsAStoredToken()
    {
        QFETCH(bool, startFails);
        QFETCH(bool, tokenBefore);
        if (startFails)
            m_fake->script(FakeService::anyHost, "POST", u"/auth/start_session"_s, {FakeReply::json(500)});
        m_fake->script(FakeService::anyHost, "GET", u"/auth/poll/n1"_s, {FakeReply::json(202)});
        LogCapture logs;
        Session s(m_client, tokenBefore ? std::optional(kOldToken) : std::nullopt);
        const Kind expected = tokenBefore ? Kind::authenticated : Kind::anonymous;
        QCOMPARE(s.auth.statusKind(), expected);

        await(s.auth.beginTelegramLink());
        if (startFails) {
            QCOMPARE(errorText(s.auth.lastError()), u"server 500"_s);
            QVERIFY(!s.auth.hasPollingTask());
            await(s.auth.launchTelegramIfReady());
            QVERIFY(logs.contains(u"launchTelegramIfReady: no pending link (begin failed?)"_s));
            QVERIFY(s.opener->asked.isEmpty());
        } else {
            QVERIFY(m_fake->waitForRequests(2));
            await(s.auth.launchTelegramIfReady());
            QVERIFY(logs.contains(u"launching telegram deep link"_s));
            QCOMPARE(s.opener->askedTexts(), QStringList{kDeepLink});
            const Operation<void> task = *s.auth.pollingTask();
            s.auth.setLastError(std::make_exception_ptr(APIError::conflict()));
            s.auth.cancelTelegramLink();
            QVERIFY(task.token().isCancelled());
            QVERIFY(!s.auth.hasPollingTask());
            QVERIFY(!s.auth.pendingDeepLink() && !s.auth.pendingHTTPSLink());
            QCOMPARE(errorText(s.auth.lastError()), u"409 conflict"_s);
        }
        QTRY_COMPARE(s.auth.statusKind(), expected);
        QVERIFY(s.tokens->token == (tokenBefore ? std::optional(kOldToken) : std::nullopt));
        QCOMPARE(s.tokens->deletes, 0);
        QCOMPARE(s.hookCalls, 0);
    }

    // A later begin supersedes an earlier one: a start-session reply that comes late
    // and a poll loop that was running both write nothing more.
    void aSecondSignInSupersedesTheFirst()
    {
        m_fake->script(FakeService::anyHost, "POST", u"/auth/start_session"_s,
                       {FakeReply::json(200, sessionReply(u"n1"_s)), FakeReply::json(200, sessionReply(u"n2"_s)),
                        FakeReply::json(200, sessionReply(u"n3"_s), 300ms), FakeReply::json(200, sessionReply(u"n4"_s))});
        m_fake->script(FakeService::anyHost, "GET", u"/auth/poll/n1"_s, {loginReply(true, 300ms)});
        m_fake->script(FakeService::anyHost, "GET", u"/auth/poll/n2"_s, {FakeReply::json(202)});
        Session s(m_client, std::nullopt);

        await(s.auth.beginTelegramLink());
        QVERIFY(m_fake->waitForRequests(2)); // the first poll is on its way
        await(s.auth.beginTelegramLink());
        QCOMPARE(s.auth.status(), AuthState::Status::linking(u"n2"_s, s.clock->now().addSecs(600)));
        QVERIFY(m_fake->waitForClosedEarly(1)); // the first loop's request was abandoned

        // n3 is answered late, after n4 has started its sign-in.
        test::Pending<void> late(s.auth.beginTelegramLink());
        QVERIFY(m_fake->waitForRequests(5));
        await(s.auth.beginTelegramLink());
        QVERIFY(late.waitDone());
        QCOMPARE(s.auth.status().nonce, u"n4"_s);
        QVERIFY(!s.tokens->token);
        QCOMPARE(s.tokens->saves, 0);
    }

    // clearSession() while a poll answer or the token save is on its way: the hook runs
    // before the status changes, the late answer changes nothing, and the token ends
    // removed even when the save finishes after the sign-out.
    void aSignOutDuringASignInWins_data()
    {
        QTest::addColumn<bool>("duringSave");
        QTest::newRow("during a poll request") << false;
        QTest::newRow("during the token save") << true;
    }
    void aSignOutDuringASignInWins()
    {
        QFETCH(bool, duringSave);
        m_fake->script(FakeService::anyHost, "GET", u"/auth/poll/n1"_s, {loginReply(true, duringSave ? 0ms : 300ms)});
        Session s(m_client, kOldToken);
        s.defaults->set(AppGroupKey::cachedSubscription, QByteArray("{}"));
        OneShot<void> gate;
        if (duringSave)
            s.tokens->saveGate = gate;
        Kind statusInHook = Kind::linking;
        bool cacheInHook = true;
        s.auth.setOnSessionInvalidated([&] {
            ++s.hookCalls;
            statusInHook = s.auth.statusKind();
            cacheInHook = s.defaults->contains(AppGroupKey::cachedSubscription);
        });

        await(s.auth.beginTelegramLink());
        if (duringSave)
            QTRY_COMPARE(s.tokens->saves, 1);
        else
            QVERIFY(m_fake->waitForRequests(2));
        s.auth.setLastError(std::make_exception_ptr(APIError::conflict()));
        const Operation<void> task = *s.auth.pollingTask();
        s.auth.clearSession();
        QCOMPARE(s.hookCalls, 1);
        QCOMPARE(statusInHook, Kind::linking);
        QVERIFY(!cacheInHook);
        QCOMPARE(s.auth.statusKind(), Kind::anonymous);
        gate.resolve();

        QVERIFY(QTest::qWaitFor([&] { return task.isFinished(); }, 5000));
        if (!duringSave)
            QVERIFY(m_fake->waitForClosedEarly(1));
        QTRY_VERIFY(!s.tokens->token && s.tokens->deletes == 1);
        QCOMPARE(s.auth.statusKind(), Kind::anonymous);
        QVERIFY(!s.auth.hasPollingTask() && !s.auth.pendingDeepLink() && !s.auth.isNewAccount());
        QCOMPARE(errorText(s.auth.lastError()), u"409 conflict"_s);
        QCOMPARE(s.hookCalls, 1);
    }

    void statusNotifiesOnlyOnAChange()
    {
        Session s(m_client, std::nullopt);
        QSignalSpy spy(&s.auth, &AuthState::statusChanged);
        const QDateTime at = s.clock->now();
        for (const AuthState::Status &status :
             {AuthState::Status::linking(u"n"_s, at), AuthState::Status::linking(u"n"_s, at),
              AuthState::Status::linking(u"n"_s, at.addSecs(1)), AuthState::Status::anonymous(),
              AuthState::Status::anonymous()})
            s.auth.setStatus(status);
        QCOMPARE(spy.count(), 3);
    }
};

QTEST_GUILESS_MAIN(AuthStateTest)
#include "itst_auth_state.moc"
