#include "account/GoogleAuthService.h"

#include <QCryptographicHash>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpSocket>
#include <QTest>
#include <QUrlQuery>

#include "SignInFakes.h"
#include "support/ManualClock.h"

using namespace kovra;
using namespace kovra::test;
using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

namespace {

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
                const QByteArray body = tokenAnswer.mid(4), type = body.startsWith('{') ? "application/json" : "text/plain";
                return responder.write(body, {{"Content-Type", type}}, QHttpServerResponder::StatusCode(tokenAnswer.left(3).toInt()));
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

// The real flow end to end, with a "browser" that follows the authorization URL.
class GoogleSignInTest : public QObject {
    Q_OBJECT

    QNetworkAccessManager m_browser;

private Q_SLOTS:
    void cleanup() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    void signIn_data()
    {
        QTest::addColumn<QString>("clientID");
        QTest::addColumn<int>("browser");
        QTest::addColumn<QString>("redirect");
        QTest::addColumn<QByteArray>("tokenAnswer");
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QString>("logged"); // the service's first line, if any

        const QString code = u"code=c-1&state={state}"_s;
        const QByteArray tokens = R"(200 {"access_token":"at","id_token":"id-tok","token_type":"Bearer","expires_in":3599})";
        const auto row = [](const char *name) -> QTestData & { return QTest::newRow(name) << u"client-1"_s << int(follows); };
        row("id token") << code << tokens << "id-tok" << "requestIdToken: got idToken (len=6)";
        row("forged state") << u"code=c-1&state=forged"_s << tokens
                            << "Google sign-in: redirect refused (state mismatch)"
                            << "requestIdToken: redirect refused (state mismatch)";
        row("user denied") << u"error=access_denied&state={state}"_s << tokens << "cancelled"
                           << "requestIdToken: user cancelled";
        row("authorization error") << u"error=invalid_scope&error_description=bad&state={state}"_s << tokens
                                   << "Google sign-in: authorization failed (invalid_scope: bad)" << "";
        row("code refused") << code << QByteArray(R"(400 {"error":"invalid_grant"})")
                            << "Google sign-in: token request failed (HTTP 400 invalid_grant)" << "";
        row("no id_token") << code << QByteArray(R"(200 {"access_token":"at"})") << "no identity token"
                           << "requestIdToken: result.user.idToken is nil";
        row("unreadable answer") << code << QByteArray("200 id_token=x")
                                 << "Google sign-in: token request failed (unreadable answer)" << "";
        QTest::newRow("no client id") << u" "_s << int(follows) << code << tokens
                                      << "Google sign-in: not configured (no GIDClientID)" << "";
        QTest::newRow("no browser") << u"client-1"_s << int(refuses) << code << tokens
                                    << "Google sign-in: the browser could not be opened" << "";
        QTest::newRow("browser closed") << u"client-1"_s << int(closedUnfinished) << code << tokens << "cancelled"
                                        << "requestIdToken: no answer from the browser within 300 s";
    }
    void signIn()
    {
        QFETCH(QString, clientID);
        QFETCH(int, browser);
        QFETCH(QString, redirect);
        QFETCH(QByteArray, tokenAnswer);
        QFETCH(QString, outcome);
        QFETCH(QString, logged);

        FakeAuthorizationServer server(redirect, tokenAnswer);
        GoogleSignInConfig config{clientID, {}, server.url(u"/authorize"_s), server.url(u"/token"_s)};
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
        QCOMPARE(log.texts(u"GoogleAuth"_s).value(0), logged);
        QCOMPARE(opened.isEmpty(), !config.hasClientID());
        QCOMPARE(server.authorizations.size(), int(browser == follows && config.hasClientID()));
        if (opened.isEmpty())
            return;

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

QTEST_GUILESS_MAIN(GoogleSignInTest)
#include "itst_google_sign_in.moc"
