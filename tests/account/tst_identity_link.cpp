#include "account/AppleAuthService.h"
#include "account/GoogleAuthService.h"
#include "core/APIClient.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTest>

#include "SignInFakes.h"
#include "support/FakeService.h"

using namespace kovra;
using namespace kovra::test;
using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(kovra::AppleIDAuthorization)
Q_DECLARE_METATYPE(kovra::test::FakeReply)

namespace {

// A provider that records its requests and answers when the test says so.
struct ScriptedProvider final : AppleIDProvider {
    QList<AppleIDRequest> requests;
    QList<Callbacks> callbacks;
    bool isAvailable() const override { return true; }
    void performRequest(AppleIDRequest request, Callbacks c) override { requests << request; callbacks << c; }
};

QString outcomeOf(const Pending<AppleIDToken> &p) { return outcomeOf(p, [](const AppleIDToken &t) { return t.idToken; }); }
// Random bytes in 16-byte batches, drawn in turn (the last one repeating).
NonceRandomBatch scripted(QList<QByteArray> batches)
{
    return [batches, drawn = 0]() mutable {
        const QByteArray b = batches.at(std::min<qsizetype>(drawn++, batches.size() - 1));
        std::array<quint8, 16> out{};
        std::copy(b.begin(), b.end(), out.begin());
        return out;
    };
}

} // namespace

// The Apple sign-in through a scripted provider, and linking through either service.
class IdentityLinkTest : public QObject {
    Q_OBJECT

    ScriptedProvider *m_provider = nullptr;
    std::unique_ptr<AppleAuthService> m_service;
    FakeService m_fake;
    HttpSession m_session{HttpSession::Kind::Default, 10s};

private Q_SLOTS:
    void init()
    {
        auto provider = std::make_unique<ScriptedProvider>();
        m_provider = provider.get();
        m_service = std::make_unique<AppleAuthService>(nullptr, std::make_shared<MemoryTokenStore>(), std::move(provider));
    }

    void nonceIsRejectionSampled()
    {
        const QByteArray counting = QByteArray::fromHex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
        QCOMPARE(makeNonce(scripted({counting.left(16), counting.mid(16)})), u"0123456789ABCDEFGHIJKLMNOPQRSTUV"_s);
        // 64 is the last character; 65, 128 and 255 are skipped, so a batch gives 13.
        QCOMPARE(makeNonce(scripted({QByteArray::fromHex("40ff4180") + QByteArray(12, 0)})),
                 u"_000000000000_000000000000_00000"_s);
        QVERIFY(makeNonce(systemNonceBatch) != makeNonce(systemNonceBatch));
        QCOMPARE(sha256Hex(u"abc"_s), u"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"_s);
    }

    // The provider gets the hashed nonce, the caller the raw one; a second request
    // while one waits is refused without touching it; a late answer changes nothing.
    void oneRequestAtATime()
    {
        LogCapture log;
        Pending<AppleIDToken> first(m_service->requestIdToken());
        QCOMPARE(outcomeOf(Pending<AppleIDToken>(m_service->requestIdToken())), u"cancelled"_s);
        QCOMPARE(m_provider->requests.size(), 1);
        const AppleIDRequest request = m_provider->requests.first();
        QCOMPARE(request.scopes, (QList{AppleIDRequest::Scope::fullName, AppleIDRequest::Scope::email}));

        m_provider->callbacks.first().completed({true, QByteArray("id-token")});
        const AppleIDToken token = first.result();
        QCOMPARE(token.idToken, u"id-token"_s);
        QVERIFY(QRegularExpression(u"^[0-9A-Za-z._-]{32}$"_s).match(token.nonce).hasMatch());
        QCOMPARE(request.nonce, sha256Hex(token.nonce));

        m_provider->callbacks.first().failed(std::make_exception_ptr(AppleIDAuthorizationError(1001, u"late"_s)));
        QCOMPARE(log.texts(u"AppleAuth"_s),
                 (QStringList{u"requestIdToken: nonce ready (rawLen=32 sha256Len=64)"_s,
                              u"requestIdToken: calling performRequests"_s,
                              u"requestIdToken: dropping — another request is pending"_s,
                              u"didCompleteWithAuthorization: got identityToken (len=8)"_s,
                              u"didCompleteWithError: no pending request (late)"_s}));
    }

    void answersMap_data()
    {
        QTest::addColumn<int>("errorCode"); // 0: an authorization; -1: the system's provider
        QTest::addColumn<AppleIDAuthorization>("authorization");
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QString>("logged");
        const auto token = [](QByteArray bytes) { return AppleIDAuthorization{true, bytes}; };
        const QString nil = u"didCompleteWithAuthorization: credential.identityToken is nil"_s;
        QTest::newRow("other credential") << 0 << AppleIDAuthorization{false, QByteArray("t")} << "no identity token"
                                          << "didCompleteWithAuthorization: credential is not ASAuthorizationAppleIDCredential";
        QTest::newRow("no token") << 0 << AppleIDAuthorization{true, std::nullopt} << "no identity token" << nil;
        QTest::newRow("empty token") << 0 << token("") << "no identity token" << nil;
        QTest::newRow("not UTF-8") << 0 << token("a\xff\xfe") << "no identity token"
                                   << "didCompleteWithAuthorization: identityToken is not valid UTF-8 (bytes=3)";
        QTest::newRow("user cancelled") << 1001 << AppleIDAuthorization() << "cancelled"
                                        << "didCompleteWithError: user cancelled";
        QTest::newRow("other error") << 1004 << AppleIDAuthorization() << "authorization error 1004: boom"
                                     << "didCompleteWithError: code=1004 boom";
        QTest::newRow("no provider on Linux") << -1 << AppleIDAuthorization() << "not available on this system"
                                              << "didCompleteWithError: code=-1 " + AppleIDUnavailableError().localizedDescription();
    }
    void answersMap()
    {
        QFETCH(int, errorCode);
        QFETCH(AppleIDAuthorization, authorization);
        QFETCH(QString, outcome);
        QFETCH(QString, logged);
        if (errorCode == -1)
            m_service = std::make_unique<AppleAuthService>(nullptr, std::make_shared<MemoryTokenStore>());
        QCOMPARE(m_service->isAvailable(), errorCode != -1);

        LogCapture log;
        Pending<AppleIDToken> pending(m_service->requestIdToken());
        if (errorCode == 0)
            m_provider->callbacks.first().completed(authorization);
        else if (errorCode > 0)
            m_provider->callbacks.first().failed(std::make_exception_ptr(AppleIDAuthorizationError(errorCode, u"boom"_s)));
        QCOMPARE(outcomeOf(pending), outcome);
        QCOMPARE(log.texts(u"AppleAuth"_s).last(), logged);
    }

    void link_data()
    {
        QTest::addColumn<bool>("google");
        QTest::addColumn<FakeReply>("reply");
        QTest::addColumn<QString>("outcome"); // the session token (then stored), or the error
        QTest::addColumn<QString>("logged");

        const FakeReply linked = FakeReply::json(200, R"({"access_token":"new","is_new":true})");
        QTest::newRow("apple linked") << false << linked << "new" << "link: success isNew=true, JWT persisted";
        QTest::newRow("apple 409") << false << FakeReply::json(409) << "server rejected: 409 conflict"
                                   << "link: server rejected — 409 conflict";
        QTest::newRow("google 401") << true << FakeReply::json(401) << "server rejected: 401 unauthorized"
                                    << "link: server rejected — 401 unauthorized";
        // A reply that would leave the account without a usable session token.
        const QString empty = u"decode dataCorrupted at <accessToken>: The access token is empty."_s;
        QTest::newRow("google empty token") << true << FakeReply::json(200, R"({"access_token":"","is_new":false})")
                                            << "server rejected: " + empty << "link: server rejected — " + empty;
        QTest::newRow("keyring refuses the save") << true << linked << "keyring locked" << "";
    }
    void link()
    {
        QFETCH(bool, google);
        QFETCH(FakeReply, reply);
        QFETCH(QString, outcome);
        QFETCH(QString, logged);

        m_fake.reset();
        const QString path = google ? u"/auth/google/link"_s : u"/auth/apple/link"_s;
        m_fake.script(FakeService::anyHost, "POST", path, {reply});
        auto store = std::make_shared<MemoryTokenStore>(u"old"_s);
        store->failSaves = outcome == u"keyring locked"_s;
        APIClient api({&m_session, &m_session}, m_fake.baseURLs(), store, AppGroupStore(Defaults::inMemory(), nullptr));
        AppleAuthService apple(&api, store, makeSystemAppleIDProvider());
        GoogleAuthService googleService(&api, store, GoogleSignInConfig());

        LogCapture log;
        Pending<LoginOut> linking(google ? googleService.link(u"id-1"_s) : apple.link(u"id-1"_s, u"n-1"_s));
        QCOMPARE(outcomeOf(linking, [](const LoginOut &out) { return out.accessToken; }), outcome);
        QCOMPARE(store->token, std::optional<QString>(outcome == u"new"_s ? u"new"_s : u"old"_s));
        QCOMPARE(log.texts(google ? u"GoogleAuth"_s : u"AppleAuth"_s).join(u'|'),
                 (google ? u"link: POST /auth/google/link (idTokenLen=4)"_s : u"link: POST /auth/apple/link (idTokenLen=4 nonceLen=3)"_s)
                     + (logged.isEmpty() ? QString() : u'|' + logged));

        QCOMPARE(m_fake.requestCount(), 1);
        const RecordedRequest request = m_fake.requests().first();
        QCOMPARE(request.header("Authorization"), QByteArray("Bearer old"));
        const QJsonObject expected = google ? QJsonObject{{"id_token", "id-1"}}
                                            : QJsonObject{{"id_token", "id-1"}, {"nonce", "n-1"}};
        QCOMPARE(QJsonDocument::fromJson(request.body).object(), expected);
    }
};

QTEST_GUILESS_MAIN(IdentityLinkTest)
#include "tst_identity_link.moc"
