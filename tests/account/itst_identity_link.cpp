#include "account/AppleAuthService.h"
#include "account/GoogleAuthService.h"
#include "core/APIClient.h"

#include <QCryptographicHash>
#include <QHttpServer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpSocket>
#include <QTest>
#include <QUrlQuery>

#include "support/Await.h"
#include "support/ErrorText.h"
#include "support/FakeService.h"
#include "support/ManualClock.h"
#include "support/MemoryTokenStore.h"

using namespace kovra;
using namespace kovra::test;
using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(kovra::AppleIDAuthorization)
Q_DECLARE_METATYPE(kovra::test::FakeReply)

namespace {

// The task's value as text, or its error's (errorText()).
template<class T, class Show>
QString outcomeOf(const Pending<T> &pending, Show show)
{
    try {
        return show(pending.result());
    } catch (...) {
        return errorText(std::current_exception());
    }
}
QString outcomeOf(const Pending<AppleIDToken> &p) { return outcomeOf(p, [](const AppleIDToken &t) { return t.idToken; }); }

// A provider that records its requests and answers when the test says so.
struct ScriptedProvider final : AppleIDProvider {
    QList<AppleIDRequest> requests;
    QList<Callbacks> callbacks;
    bool isAvailable() const override { return true; }
    void performRequest(AppleIDRequest request, Callbacks c) override { requests << request; callbacks << c; }
};

enum Browser { refuses, follows, closedUnfinished };

// An authorization server on loopback: /authorize redirects to the client's redirect
// URI with `redirect` as the query ("{state}" stands for the state it was given); any
// other path is the token endpoint, answering `tokenAnswer` ("<status> <body>").
// Records what it is sent.
struct FakeAuthorizationServer {
    QString redirect;
    QByteArray tokenAnswer;
    QList<QUrlQuery> authorizations, tokenRequests;
    QHttpServer server;
    quint16 port = server.listen(QHostAddress::LocalHost, 0);

    FakeAuthorizationServer(QString r, QByteArray t) : redirect(std::move(r)), tokenAnswer(std::move(t))
    {
        server.setMissingHandler([this](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
            if (request.url().path() != u"/authorize"_s) {
                tokenRequests << QUrlQuery(QString::fromUtf8(request.body()));
                return responder.write(tokenAnswer.mid(4), {{"Content-Type", "application/json"}},
                                       QHttpServerResponder::StatusCode(tokenAnswer.left(3).toInt()));
            }
            const QUrlQuery query(request.url());
            authorizations << query;
            QUrl target(query.queryItemValue(u"redirect_uri"_s, QUrl::FullyDecoded));
            target.setQuery(QString(redirect).replace(u"{state}"_s, query.queryItemValue(u"state"_s)));
            responder.write(QByteArray(), {{"Location", target.toEncoded()}}, QHttpServerResponder::StatusCode::Found);
        });
    }
    QUrl url(const QString &path) const { return QUrl(u"http://127.0.0.1:%1%2"_s.arg(port).arg(path)); }
};

QString sent(const QUrlQuery &q, const char *key) { return q.queryItemValue(QString::fromLatin1(key), QUrl::FullyDecoded); }

// Whether nothing listens at the redirect URI any more.
bool listenerClosed(const QString &redirectURI)
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, quint16(QUrl(redirectURI).port()));
    return !socket.waitForConnected(5000) && socket.error() == QAbstractSocket::ConnectionRefusedError;
}

} // namespace

// The Apple sign-in through a scripted provider, the Google sign-in in a browser, and
// linking through either service.
class IdentityLinkTest : public QObject {
    Q_OBJECT

    ScriptedProvider *m_provider = nullptr;
    std::unique_ptr<AppleAuthService> m_service;
    FakeService m_fake;
    HttpSession m_session{HttpSession::Kind::Default, 10s};
    QNetworkAccessManager m_browser;

private Q_SLOTS:
    void init()
    {
        auto provider = std::make_unique<ScriptedProvider>();
        m_provider = provider.get();
        m_service = std::make_unique<AppleAuthService>(nullptr, std::make_shared<MemoryTokenStore>(), std::move(provider));
    }
    void cleanup() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    // Bytes past the last usable multiple of the alphabet are skipped, so every
    // character is equally likely.
    void nonceIsRejectionSampled()
    {
        // 64 is the last character; 65, 128 and 255 are skipped, so a batch gives 13.
        QCOMPARE(makeNonce([] { return std::array<quint8, 16>{0x40, 0xff, 0x41, 0x80}; }),
                 u"_000000000000_000000000000_00000"_s);
        QVERIFY(makeNonce(systemNonceBatch) != makeNonce(systemNonceBatch));
    }

    // Each answer of the provider. The provider gets the hashed nonce, the caller the
    // raw one; a second request while one waits is refused without touching it.
    void anAppleSignIn_data()
    {
        QTest::addColumn<int>("errorCode"); // 0: an authorization
        QTest::addColumn<AppleIDAuthorization>("authorization");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("identity token") << 0 << AppleIDAuthorization{true, QByteArray("id-token")} << "id-token";
        QTest::newRow("empty token") << 0 << AppleIDAuthorization{true, QByteArray("")} << "no identity token";
        QTest::newRow("not UTF-8") << 0 << AppleIDAuthorization{true, QByteArray("a\xff\xfe")} << "no identity token";
        QTest::newRow("user cancelled") << 1001 << AppleIDAuthorization() << "cancelled";
    }
    void anAppleSignIn()
    {
        QFETCH(int, errorCode);
        QFETCH(AppleIDAuthorization, authorization);
        QFETCH(QString, outcome);
        LogCapture log;
        Pending<AppleIDToken> pending(m_service->requestIdToken());
        QCOMPARE(outcomeOf(Pending<AppleIDToken>(m_service->requestIdToken())), u"cancelled"_s);
        QCOMPARE(m_provider->requests.size(), 1);
        if (errorCode == 0)
            m_provider->callbacks.first().completed(authorization);
        else
            m_provider->callbacks.first().failed(std::make_exception_ptr(AppleIDAuthorizationError(errorCode, u"boom"_s)));
        QCOMPARE(outcomeOf(pending), outcome);
        if (!pending.error())
            QCOMPARE(m_provider->requests.first().nonce, sha256Hex(pending.result().nonce));
        QVERIFY(!log.texts().join(u'|').contains(u"id-token"_s)); // the token only by its length
    }

    // Linux has no system provider: a sign-in ends at once.
    void noProviderOnLinux()
    {
        AppleAuthService system(nullptr, std::make_shared<MemoryTokenStore>());
        QVERIFY(!system.isAvailable());
        QCOMPARE(outcomeOf(Pending<AppleIDToken>(system.requestIdToken())), u"not available on this system"_s);
    }

    // A link sends the identity token with the current session's; the returned session
    // token is saved, never an empty one.
    void link_data()
    {
        QTest::addColumn<bool>("google");
        QTest::addColumn<FakeReply>("reply");
        QTest::addColumn<QString>("outcome"); // the session token (then stored), or the error
        const FakeReply linked = FakeReply::json(200, R"({"access_token":"jwt-new","is_new":true})");
        QTest::newRow("apple linked") << false << linked << "jwt-new";
        QTest::newRow("google empty token")
            << true << FakeReply::json(200, R"({"access_token":"","is_new":false})")
            << "server rejected: decode dataCorrupted at <accessToken>: The access token is empty.";
    }
    void link()
    {
        QFETCH(bool, google);
        QFETCH(FakeReply, reply);
        QFETCH(QString, outcome);

        m_fake.reset();
        const QString path = google ? u"/auth/google/link"_s : u"/auth/apple/link"_s;
        m_fake.script(FakeService::anyHost, "POST", path, {reply});
        auto store = std::make_shared<MemoryTokenStore>(u"old"_s);
        APIClient api({&m_session, &m_session}, m_fake.baseURLs(), store, AppGroupStore(Defaults::inMemory(), nullptr));
        AppleAuthService apple(&api, store, makeSystemAppleIDProvider());
        GoogleAuthService googleService(&api, store, GoogleSignInConfig());

        LogCapture log;
        Pending<LoginOut> linking(google ? googleService.link(u"id-1"_s) : apple.link(u"id-1"_s, u"n-1"_s));
        QCOMPARE(outcomeOf(linking, [](const LoginOut &out) { return out.accessToken; }), outcome);
        QCOMPARE(store->token, std::optional<QString>(outcome == u"jwt-new"_s ? u"jwt-new"_s : u"old"_s));
        QVERIFY(!log.texts().join(u'|').contains(u"id-1"_s) && !log.texts().join(u'|').contains(u"jwt-new"_s));

        const QJsonObject expected = google ? QJsonObject{{"id_token", "id-1"}}
                                            : QJsonObject{{"id_token", "id-1"}, {"nonce", "n-1"}};
        QCOMPARE(QJsonDocument::fromJson(m_fake.requests().first().body).object(), expected);
    }

    // The real Google flow end to end, with a "browser" that follows the authorization URL.
    void aGoogleSignIn_data()
    {
        QTest::addColumn<int>("browser");
        QTest::addColumn<QString>("redirect");
        QTest::addColumn<QByteArray>("tokenAnswer");
        QTest::addColumn<QString>("outcome");

        const QString code = u"code=c-1&state={state}"_s;
        const QByteArray tokens = R"(200 {"access_token":"at","id_token":"id-tok","token_type":"Bearer","expires_in":3599})";
        const auto row = [](const char *name) -> QTestData & { return QTest::newRow(name) << int(follows); };
        row("id token") << code << tokens << "id-tok";
        row("forged state") << u"code=c-1&state=forged"_s << tokens << "Google sign-in: redirect refused (state mismatch)";
        row("user denied") << u"error=access_denied&state={state}"_s << tokens << "cancelled";
        row("code refused") << code << QByteArray(R"(400 {"error":"invalid_grant"})")
                            << "Google sign-in: token request failed (HTTP 400 invalid_grant)";
        row("no id_token") << code << QByteArray(R"(200 {"access_token":"at"})") << "no identity token";
        QTest::newRow("no browser") << int(refuses) << code << tokens << "Google sign-in: the browser could not be opened";
        QTest::newRow("browser closed") << int(closedUnfinished) << code << tokens << "cancelled";
    }
    void aGoogleSignIn()
    {
        QFETCH(int, browser);
        QFETCH(QString, redirect);
        QFETCH(QByteArray, tokenAnswer);
        QFETCH(QString, outcome);

        FakeAuthorizationServer server(redirect, tokenAnswer);
        GoogleSignInConfig config{u"client-1"_s, {}, server.url(u"/authorize"_s), server.url(u"/token"_s)};
        QUrl opened;
        const auto openURL = [&](const QUrl &url) {
            opened = url;
            if (browser == follows)
                connect(m_browser.get(QNetworkRequest(url)), &QNetworkReply::finished, &m_browser, [] {});
            return browser != refuses;
        };
        auto clock = std::make_shared<ManualClock>();
        GoogleAuthService service(nullptr, std::make_shared<MemoryTokenStore>(), config, {openURL, 300s, clock});
        LogCapture log;
        Pending<QString> signIn(service.requestIdToken());
        if (browser == closedUnfinished) {
            clock->advance(300s - 1ms);
            QVERIFY(!signIn.isDone());
            clock->advance(1ms);
        }
        QCOMPARE(outcomeOf(signIn, [](const QString &token) { return token; }), outcome);
        QVERIFY(!log.texts().join(u'|').contains(u"id-tok"_s)); // the token only by its length

        const QString redirectURI = sent(QUrlQuery(opened), "redirect_uri");
        QVERIFY2(redirectURI.startsWith(u"http://127.0.0.1:"_s), qPrintable(redirectURI));
        QVERIFY(listenerClosed(redirectURI));
        // The code goes to the token endpoint only after a redirect with this sign-in's
        // state, with the verifier of the challenge and the same redirect URI.
        QCOMPARE(server.tokenRequests.size(), int(browser == follows && redirect == u"code=c-1&state={state}"_s));
        if (server.tokenRequests.isEmpty())
            return;
        const QUrlQuery authorization = server.authorizations.first(), exchange = server.tokenRequests.first();
        QCOMPARE(sent(authorization, "client_id") + u' ' + sent(authorization, "code_challenge_method"), u"client-1 S256"_s);
        QCOMPARE(sent(exchange, "code") + u' ' + sent(exchange, "redirect_uri"), u"c-1 "_s + redirectURI);
        const QByteArray verifier = sent(exchange, "code_verifier").toLatin1();
        QCOMPARE(verifier.size(), 43);
        QCOMPARE(QCryptographicHash::hash(verifier, QCryptographicHash::Sha256)
                     .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals),
                 sent(authorization, "code_challenge").toLatin1());
    }
};

QTEST_GUILESS_MAIN(IdentityLinkTest)
#include "itst_identity_link.moc"
