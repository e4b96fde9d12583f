#include "account/AuthState.h"
#include "account/MeStore.h"
#include "account/SubscriptionStore.h"

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
Q_DECLARE_METATYPE(std::optional<kovra::KeychainError>)
using Kind = AuthState::StatusKind;

namespace {

const QString kToken = u"tok-bearer-93d1"_s; // the client's
const QString kNewToken = u"tok-issued-7f3a"_s;
const QString kOldToken = u"tok-stored-51c2"_s;
const QString kStartPath = u"/auth/start_session"_s;
const QString kNoKeyringText = u"Не найдено хранилище паролей. Для входа нужно хранилище со службой Secret Service: "
                               u"GNOME Keyring, KWallet или KeePassXC. Запустите его и войдите снова."_s;
const QString kLockedText = u"Хранилище паролей заблокировано. Разблокируйте его и войдите снова."_s;
const QString kKeyringText = u"Не удалось сохранить вход в хранилище паролей. Попробуйте ещё раз."_s;
const QString kSubscriptionPath = u"/me/subscription"_s;

FakeReply sessionReply(const QString &nonce, std::chrono::milliseconds delay = {})
{
    const QString body = uR"({"nonce":"%1","deep_link":"tg://resolve?start=%1","https_link":"https://t.me/b?start=%1",)"
                         uR"("expires_in_seconds":600})"_s;
    return FakeReply::json(200, body.arg(nonce).toUtf8(), delay);
}
FakeReply loginReply(std::chrono::milliseconds delay = {})
{
    return FakeReply::json(200, uR"({"access_token":"%1","is_new":true})"_s.arg(kNewToken).toUtf8(), delay);
}
FakeReply subscriptionReply(const QString &url, const QString &expire = u"1741262400"_s, std::chrono::milliseconds delay = {})
{
    const QString body = uR"({"subscription_url":"%1","status":"active","data_limit_bytes":0,"used_bytes":5,"expire_unix":%2})"_s;
    return FakeReply::json(200, body.arg(url, expire).toUtf8(), delay);
}

// The app's account objects over the test's client, an in-memory token store and a
// manual clock, with the session hook the start-up installs (it empties both stores).
struct Account {
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    std::shared_ptr<Defaults> defaults = Defaults::inMemory();
    std::shared_ptr<MemoryTokenStore> tokens;
    std::shared_ptr<RecordingUrlOpener> opener = std::make_shared<RecordingUrlOpener>();
    AuthState auth;
    SubscriptionStore subscription;
    MeStore me;
    int sessionEnds = 0;

    explicit Account(APIClient *api, bool tokenBefore = true)
        : tokens(std::make_shared<MemoryTokenStore>(tokenBefore ? std::optional(kOldToken) : std::nullopt)),
          auth(std::make_shared<AuthService>(api, tokens), tokens, AppGroupStore(defaults, nullptr), opener,
               AuthState::Options{2000ms, 60, clock}),
          subscription(std::make_shared<SubscriptionService>(api), AppGroupStore(defaults, nullptr), &auth, {clock}),
          me(std::make_shared<MeService>(api), &auth)
    {
        auth.setOnSessionInvalidated([this] {
            ++sessionEnds;
            subscription.clear();
            me.reset();
        });
        await(auth.restore());
    }

    // Runs the poll loop to its end, moving the clock over each pause; the pauses, or
    // -1 when the loop stalls.
    int finishPolling()
    {
        int pauses = 0;
        for (const auto &task = auth.pollingTask(); task && !task->isFinished(); ++pauses) {
            if (!QTest::qWaitFor([&] { return task->isFinished() || clock->pendingTimers() > 0; }, 10000))
                return -1;
            if (task->isFinished())
                break;
            clock->advance(2000ms);
        }
        return pauses;
    }
};

} // namespace

class AccountTest : public QObject {
    Q_OBJECT

    std::unique_ptr<FakeServiceClient> m_api;
    FakeService *m_fake = nullptr;
    APIClient *m_client = nullptr;

private Q_SLOTS:
    // A service per test: requests a test leaves behind never reach the next one.
    void init()
    {
        m_api = std::make_unique<FakeServiceClient>(kToken);
        std::tie(m_fake, m_client) = std::pair(&m_api->service, &m_api->client);
    }
    void cleanup()
    {
        m_api.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // Every way a sign-in ends. One that ends without a new token (its start fails, a
    // poll ends it, it times out, the save fails, it is abandoned) takes the status
    // from the token store: a token stored before stays signed in.
    void aSignIn_data()
    {
        QTest::addColumn<FakeReply>("start");
        QTest::addColumn<QList<FakeReply>>("polls"); // of the first host
        QTest::addColumn<bool>("tokenBefore");
        QTest::addColumn<bool>("cancel"); // abandoned after the first poll
        QTest::addColumn<QString>("lastError");
        QTest::addColumn<int>("polled");
        const FakeReply started = sessionReply(u"n1"_s);
        const QList<FakeReply> waiting{FakeReply::json(202)};
        QTest::newRow("confirmed at once") << started << QList{loginReply()} << false << false << QString() << 1;
        QTest::newRow("409, 500, 400, a bad body and an empty token keep polling")
            << started
            << QList{FakeReply::json(409), FakeReply::json(500), FakeReply::json(400), FakeReply::json(200, "{}"),
                     FakeReply::json(200, R"({"access_token":"","is_new":true})"), loginReply()}
            << true << false << QString() << 6;
        for (const bool token : {false, true}) {
            const auto row = [token](const char *name) -> QTestData & {
                return QTest::addRow("%s, %s", name, token ? "token stored" : "no token");
            };
            row("start fails") << FakeReply::json(500) << waiting << token << false << u"server 500"_s << 0;
            row("401 ends") << started << QList{FakeReply::json(401)} << token << false << u"401 unauthorized"_s << 1;
            row("60 × 202 time out") << started << QList{FakeReply::json(500), FakeReply::json(202)} << token << false
                                     << u"linking timed out"_s << 60;
            row("save fails") << started << QList{loginReply()} << token << false << u"the keyring is locked"_s << 1;
            row("abandoned") << started << waiting << token << true << QString() << 1;
        }
    }
    void aSignIn()
    {
        QFETCH(FakeReply, start);
        QFETCH(QList<FakeReply>, polls);
        QFETCH(bool, tokenBefore);
        QFETCH(bool, cancel);
        QFETCH(QString, lastError);
        QFETCH(int, polled);
        m_fake->script(FakeService::anyHost, "POST", kStartPath, {start});
        // The other hosts fail, so a 5xx of the first host stays the answer of its poll.
        m_fake->script(0, "GET", u"/auth/poll/n1"_s, polls);
        m_fake->script(FakeService::anyHost, "GET", u"/auth/poll/n1"_s, {FakeReply::close()});
        LogCapture logs;
        Account s(m_client, tokenBefore);
        if (lastError == u"the keyring is locked"_s)
            s.tokens->saveFailure = KeychainError(lastError);

        await(s.auth.beginTelegramLink());
        const bool started = s.auth.hasPollingTask();
        await(s.auth.launchTelegramIfReady());
        QCOMPARE(s.opener->asked.size(), started ? 1 : 0);
        if (started)
            QCOMPARE(s.auth.status(), AuthState::Status::linking(u"n1"_s, s.clock->now().addSecs(600)));
        if (cancel) {
            QTRY_VERIFY(s.clock->pendingTimers() > 0); // waiting for the next poll
            s.auth.cancelTelegramLink();
            QVERIFY(!s.auth.hasPollingTask() && !s.auth.pendingDeepLink() && !s.auth.pendingHTTPSLink());
        }
        const int pauses = s.finishPolling();

        const bool completed = started && lastError.isEmpty() && !cancel;
        QTRY_COMPARE(s.auth.statusKind(), completed || tokenBefore ? Kind::authenticated : Kind::anonymous);
        QCOMPARE(errorText(s.auth.lastError()), lastError);
        const QList<RecordedRequest> requests = m_fake->requests();
        QCOMPARE(std::count_if(requests.begin(), requests.end(), [](const auto &r) { return r.method == "GET" && r.host == 0; }),
                 polled);
        QCOMPARE(pauses, std::max(polled - 1, 0));
        QCOMPARE(s.auth.pendingDeepLink().has_value(), started && !completed && !cancel);
        QVERIFY(s.tokens->token == (completed ? std::optional(kNewToken) : tokenBefore ? std::optional(kOldToken) : std::nullopt));
        QCOMPARE(s.sessionEnds, 0);
        for (const QString &line : logs.texts())
            QVERIFY2(!line.contains(kNewToken) && !line.contains(kOldToken) && !line.contains(kToken), "a token reached the log");
    }

    // What the sign-in screen says when a sign-in ends without one, and the line the log
    // gets: a token the keyring cannot take says what the keyring lacks (nothing to
    // store in, or locked), in its own words in the log; a poll that runs out and a
    // start without a connection keep their texts.
    void whatTheSignInScreenSays_data()
    {
        using Kind = KeychainError::Kind;
        QTest::addColumn<FakeReply>("start");
        QTest::addColumn<QList<FakeReply>>("polls");
        QTest::addColumn<std::optional<KeychainError>>("saveFailure");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("logged"); // by the session state
        const FakeReply started = sessionReply(u"n1"_s);
        const QList<FakeReply> confirmed{loginReply()};
        const auto failing = [&](const char *name, const QString &message, Kind kind) -> QTestData & {
            return QTest::newRow(name) << started << confirmed << std::optional(KeychainError(message, kind));
        };
        failing("no session bus", u"no session bus: Could not connect: No such file or directory"_s, Kind::noSecretService)
            << kNoKeyringText
            << u"saving the session token failed: no Secret Service (no session bus: Could not connect: No such file or "
               u"directory)"_s;
        failing("no Secret Service on the bus",
                u"The name org.freedesktop.secrets was not provided by any .service files"_s, Kind::noSecretService)
            << kNoKeyringText
            << u"saving the session token failed: no Secret Service (The name org.freedesktop.secrets was not provided "
               u"by any .service files)"_s;
        failing("a locked keyring", u"Cannot create an item in a locked collection"_s, Kind::refused)
            << kLockedText
            << u"saving the session token failed: the keyring refused (Cannot create an item in a locked collection)"_s;
        failing("the keyring times out", u"keychain write timed out after 3000 ms"_s, Kind::timedOut)
            << kKeyringText << u"saving the session token failed: keychain write timed out after 3000 ms"_s;
        failing("another keyring failure",
                u"Object does not exist at path “/org/freedesktop/secrets/collection/login”"_s, Kind::failed)
            << kKeyringText
            << u"saving the session token failed: Object does not exist at path “/org/freedesktop/secrets/collection/login”"_s;
        QTest::newRow("the poll runs out") << started << QList{FakeReply::json(202)} << std::optional<KeychainError>()
                                           << u"Время ожидания истекло. Попробуйте ещё раз."_s << QString();
        QTest::newRow("no connection") << FakeReply::close() << QList<FakeReply>() << std::optional<KeychainError>()
                                       << u"Не удалось начать вход. Проверьте подключение."_s << QString();
    }
    void whatTheSignInScreenSays()
    {
        QFETCH(FakeReply, start);
        QFETCH(QList<FakeReply>, polls);
        QFETCH(std::optional<KeychainError>, saveFailure);
        QFETCH(QString, logged);
        m_fake->script(FakeService::anyHost, "POST", kStartPath, {start});
        m_fake->script(FakeService::anyHost, "GET", u"/auth/poll/n1"_s, polls);
        LogCapture logs;
        Account s(m_client, false);
        s.tokens->saveFailure = saveFailure;

        await(s.auth.beginTelegramLink());
        QVERIFY(s.finishPolling() >= 0);
        QTRY_COMPARE(s.auth.statusKind(), Kind::anonymous);
        QTEST(s.auth.lastErrorMessage(), "text");
        QCOMPARE(logs.texts(u"AuthState"_s), logged.isEmpty() ? QStringList() : QStringList{logged});
        QCOMPARE(s.tokens->saves, int(bool(saveFailure)));
        for (const QString &line : logs.texts())
            QVERIFY2(!line.contains(kNewToken) && !line.contains(kToken), "a token reached the log");
    }

    // A later begin supersedes an earlier one: a poll loop that was running and a
    // start-session reply that comes late both write nothing more.
    void aSecondSignInSupersedesTheFirst()
    {
        m_fake->script(FakeService::anyHost, "POST", kStartPath,
                       {sessionReply(u"n1"_s), sessionReply(u"n2"_s), sessionReply(u"n3"_s, 300ms), sessionReply(u"n4"_s)});
        m_fake->script(FakeService::anyHost, "GET", u"/auth/poll/n1"_s, {loginReply(300ms)});
        m_fake->script(FakeService::anyHost, "GET", u"/auth/poll/n2"_s, {FakeReply::json(202)});
        Account s(m_client, false);

        await(s.auth.beginTelegramLink());
        QVERIFY(m_fake->waitForRequests(2)); // the first poll is on its way
        await(s.auth.beginTelegramLink());
        QVERIFY(m_fake->waitForClosedEarly(1)); // and was abandoned
        QCOMPARE(s.auth.status().nonce, u"n2"_s);

        test::Pending<void> late(s.auth.beginTelegramLink()); // n3, answered after n4
        QVERIFY(m_fake->waitForRequests(5));
        await(s.auth.beginTelegramLink());
        QVERIFY(late.waitDone());
        QCOMPARE(s.auth.status().nonce, u"n4"_s);
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
        m_fake->script(FakeService::anyHost, "POST", kStartPath, {sessionReply(u"n1"_s)});
        m_fake->script(FakeService::anyHost, "GET", u"/auth/poll/n1"_s, {loginReply(duringSave ? 0ms : 300ms)});
        Account s(m_client, true);
        s.defaults->set(AppGroupKey::cachedSubscription, QByteArray("{}"));
        OneShot<void> gate;
        if (duringSave)
            s.tokens->saveGate = gate;
        bool orderedHook = false;
        s.auth.setOnSessionInvalidated([&] {
            ++s.sessionEnds;
            orderedHook = s.auth.statusKind() == Kind::linking && !s.defaults->contains(AppGroupKey::cachedSubscription);
        });

        await(s.auth.beginTelegramLink());
        if (duringSave)
            QTRY_COMPARE(s.tokens->saves, 1);
        else
            QVERIFY(m_fake->waitForRequests(2));
        s.auth.setLastError(std::make_exception_ptr(APIError::conflict()));
        const Operation<void> task = *s.auth.pollingTask();
        s.auth.clearSession();
        QVERIFY(orderedHook);
        gate.resolve();

        QVERIFY(QTest::qWaitFor([&] { return task.isFinished(); }, 5000));
        QTRY_VERIFY(!s.tokens->token && s.tokens->deletes == 1);
        QCOMPARE(s.auth.statusKind(), Kind::anonymous);
        QVERIFY(!s.auth.hasPollingTask() && !s.auth.pendingDeepLink() && !s.auth.isNewAccount());
        QCOMPARE(errorText(s.auth.lastError()), u"409 conflict"_s);
        QCOMPARE(s.sessionEnds, 1);
    }

    // Each outcome of a subscription refresh but a 401, starting from a published
    // subscription with its URL handed to the tunnel provider and its cached copy: a
    // failure keeps both.
    void aSubscriptionRefresh_data()
    {
        QTest::addColumn<FakeReply>("reply");
        QTest::addColumn<QString>("url");   // "subscriptionURL" afterwards
        QTest::addColumn<QString>("error"); // of the store
        const QString old = u"https://sub.example/old"_s;
        QTest::newRow("new subscription") << subscriptionReply(u"https://sub.example/new"_s) << u"https://sub.example/new"_s
                                          << QString();
        QTest::newRow("empty URL, no expiry") << subscriptionReply({}, u"null"_s) << QString() << QString();
        QTest::newRow("server error") << FakeReply::json(500) << old << u"server 500"_s;
        QTest::newRow("a reply without used_bytes")
            << FakeReply::json(200, R"({"subscription_url":"u","status":"active","data_limit_bytes":0})") << old << u"decoding"_s;
    }
    void aSubscriptionRefresh()
    {
        QFETCH(FakeReply, reply);
        QFETCH(QString, url);
        QFETCH(QString, error);
        m_fake->script(FakeService::anyHost, "GET", kSubscriptionPath, {subscriptionReply(u"https://sub.example/old"_s)});
        Account a(m_client);
        await(a.subscription.refresh());
        const QByteArray oldCache = *a.defaults->data(AppGroupKey::cachedSubscription);
        a.clock->advance(1000ms);
        m_fake->script(FakeService::anyHost, "GET", kSubscriptionPath, {reply});
        LogCapture logs;

        await(a.subscription.refresh());
        QCOMPARE(a.defaults->string(AppGroupKey::subscriptionURL), std::optional(url));
        QCOMPARE(errorText(a.subscription.error()), error);
        QCOMPARE(a.sessionEnds, 0);
        const QByteArray stored = *a.defaults->data(AppGroupKey::cachedSubscription);
        QCOMPARE(stored == oldCache, !error.isEmpty());
        const auto copy = JsonDecoder().decode<CachedSubscription>(stored);
        QVERIFY(copy.subscription == *a.subscription.latest());
        QCOMPARE(copy.fetchedAt, error.isEmpty() ? a.clock->now() : a.clock->now().addMSecs(-1000));
        for (const QString &text : logs.texts())
            QVERIFY2(!text.contains(kToken), "the token reached the log");
    }

    // A refresh asked for while one runs returns at once; a session end during a
    // refresh leaves the store empty when the late answer arrives.
    void aSessionEndDropsARefreshInFlight()
    {
        m_fake->script(FakeService::anyHost, "GET", kSubscriptionPath, {subscriptionReply(u"u"_s, u"null"_s, 300ms)});
        Account a(m_client);

        test::Pending<void> first(a.subscription.refresh());
        QVERIFY(a.subscription.isLoading());
        QVERIFY(a.subscription.refresh().isReady());
        QVERIFY(m_fake->waitForRequests(1));
        a.auth.clearSession();
        QVERIFY(first.waitDone());
        QCOMPARE(m_fake->requestCount(), 1);
        QVERIFY(!a.subscription.isLoading() && !a.subscription.hasLatest());
        QVERIFY(!a.defaults->contains(AppGroupKey::cachedSubscription) && !a.defaults->contains(AppGroupKey::subscriptionURL));
    }

    // The user record and the subscription are both refused: the first answer ends the
    // session, whose reset makes the second one count for nothing.
    void twoRefusalsEndTheSessionOnce()
    {
        m_fake->script(FakeService::anyHost, "GET", kSubscriptionPath, {FakeReply::json(401, {}, 100ms)});
        m_fake->script(FakeService::anyHost, "GET", u"/me"_s, {FakeReply::json(401, {}, 100ms)});
        Account a(m_client);
        test::Pending<void> subscription(a.subscription.refresh());
        test::Pending<void> me(a.me.refresh());
        QVERIFY(subscription.waitDone() && me.waitDone());
        QCOMPARE(a.sessionEnds, 1);
        QCOMPARE(errorText(a.auth.lastError()), u"401 unauthorized"_s);
        QTRY_VERIFY(!a.tokens->token && a.tokens->deletes == 1);
    }
};

QTEST_GUILESS_MAIN(AccountTest)
#include "itst_account.moc"
