// The development service seen through the client's own API client and records.

#include "catalog/Connection.h"
#include "catalog/Entry.h"
#include "catalog/Region.h"
#include "core/APIClient.h"
#include "core/AccountReplies.h"

#include <QJsonArray>
#include <QTest>

#include "devservice/DevServiceRun.h"
#include "support/FixedTokenProvider.h"
#include "support/TestHome.h"

using namespace kovra;
using namespace kovra::test;
using namespace std::chrono_literals;
using Kind = Endpoint::Kind;

namespace {

constexpr int kConfirmAfter = 2;

// Keys and JSON types of the replies whose records the client does not have yet:
// "key:t" with t one of s (string), i (whole number), d (number), b (Boolean); a
// trailing "?" allows the key to be absent or null.
QString shapeMismatch(const QJsonObject &object, const QString &shape)
{
    for (const QString &item : shape.split(u' ')) {
        const QString key = item.section(u':', 0, 0);
        QString type = item.section(u':', 1);
        const bool optional = type.endsWith(u'?');
        type.remove(u'?');
        const QJsonValue v = object.value(key);
        if (optional && (v.isUndefined() || v.isNull()))
            continue;
        const bool ok = type == u"s" ? v.isString()
                        : type == u"b" ? v.isBool()
                        : type == u"d" ? v.isDouble()
                                       : v.isDouble() && v.toDouble() == qint64(v.toDouble());
        if (!ok)
            return key + QStringLiteral(" is not ") + type;
    }
    return {};
}

} // namespace

class DevServiceClientTest : public QObject {
    Q_OBJECT

    TestHome m_home{TestHome::PathsOnly};
    std::unique_ptr<DevServiceRun> m_run;
    std::shared_ptr<FixedTokenProvider> m_tokens = std::make_shared<FixedTokenProvider>();
    std::unique_ptr<HttpSession> m_session = std::make_unique<HttpSession>(HttpSession::Kind::Default, 10s);
    std::unique_ptr<APIClient> m_api;

    APIClient::Sessions sessions() const { return {m_session.get(), m_session.get()}; }

    APIClient::Answer send(APIClient &api, const Endpoint &endpoint)
    {
        return await(endpoint.method() == "GET" ? api.raceHosts(endpoint) : api.sendSequential(endpoint));
    }

    QString startSession()
    {
        const auto answer = send(*m_api, Endpoint::startSession());
        return QJsonDocument::fromJson(answer.body).object().value("nonce").toString();
    }

    static Endpoint endpointFor(Kind kind, const QString &nonce = {})
    {
        switch (kind) {
        case Kind::poll: return Endpoint::poll(nonce);
        case Kind::wakeRegion: return Endpoint::wakeRegion(QStringLiteral("de-gcp"));
        case Kind::starsInvoice: return Endpoint::starsInvoice(QStringLiteral("month_1"));
        case Kind::cryptoInvoice: return Endpoint::cryptoInvoice(QStringLiteral("month_12"));
        case Kind::appleLogin: return Endpoint::appleLogin(QStringLiteral("apple-id-token"), QStringLiteral("n"));
        case Kind::appleLink: return Endpoint::appleLink(QStringLiteral("apple-id-token"), QStringLiteral("n"));
        case Kind::googleLogin: return Endpoint::googleLogin(QStringLiteral("google-id-token"));
        case Kind::googleLink: return Endpoint::googleLink(QStringLiteral("google-id-token"));
        case Kind::telegramLink: return Endpoint::telegramLink(QStringLiteral("query_id=1&user=2"));
        case Kind::registerPush: return Endpoint::registerPush(QStringLiteral("push-token"), QStringLiteral("production"));
        case Kind::startSession: return Endpoint::startSession();
        case Kind::me: return Endpoint::me();
        case Kind::subscription: return Endpoint::subscription();
        case Kind::regions: return Endpoint::regions();
        case Kind::entries: return Endpoint::entries();
        case Kind::connections: return Endpoint::connections();
        case Kind::clientVersion: return Endpoint::clientVersion();
        case Kind::tariffs: return Endpoint::tariffs();
        }
        throw std::logic_error("an endpoint without a request in this test");
    }

    // Decodes the reply into the client's record, or checks its shape; empty when it fits.
    QString replyMismatch(Kind kind, const QByteArray &body)
    {
        const QString label = QStringLiteral("test");
        const QJsonObject object = QJsonDocument::fromJson(body).object();
        switch (kind) {
        case Kind::poll:
        case Kind::appleLogin:
        case Kind::appleLink:
        case Kind::googleLogin:
        case Kind::googleLink:
        case Kind::telegramLink:
            return m_api->decode<LoginOut>(body, label).accessToken.isEmpty() ? QStringLiteral("no token") : QString();
        case Kind::starsInvoice:
        case Kind::cryptoInvoice:
            return m_api->decode<InvoiceOut>(body, label).url.startsWith(QStringLiteral("https://127.0.0.1:")) ? QString()
                                                                                                              : QStringLiteral("link off loopback");
        case Kind::regions: return m_api->decode<QList<Region>>(body, label).size() == 7 ? QString() : QStringLiteral("regions");
        case Kind::entries: return m_api->decode<QList<Entry>>(body, label).isEmpty() ? QStringLiteral("entries") : QString();
        case Kind::connections:
            return m_api->decode<QList<Connection>>(body, label).isEmpty() ? QStringLiteral("connections") : QString();
        case Kind::wakeRegion: return shapeMismatch(object, QStringLiteral("status:s"));
        case Kind::registerPush: return shapeMismatch(object, QStringLiteral("ok:b"));
        case Kind::startSession:
            return shapeMismatch(object, QStringLiteral("nonce:s deep_link:s https_link:s expires_in_seconds:i"));
        case Kind::me:
            return shapeMismatch(object, QStringLiteral("telegram_id:i? marzban_username:s? created_at:s? has_telegram:b "
                                                        "has_apple:b apple_email:s? has_google:b? google_email:s?"));
        case Kind::subscription:
            return shapeMismatch(object, QStringLiteral("subscription_url:s status:s data_limit_bytes:i used_bytes:i "
                                                        "expire_unix:i? expires_in_seconds:i?"));
        case Kind::clientVersion:
            return shapeMismatch(object, QStringLiteral("latest_version:s min_supported_version:s update_url:s message:s?"));
        case Kind::tariffs: {
            QList<int> months;
            for (const QJsonValue &plan : object) {
                const QString mismatch = shapeMismatch(plan.toObject(), QStringLiteral("months:i rub:i stars:i usdt:d monthly_quota_gb:i"));
                if (!mismatch.isEmpty())
                    return mismatch;
                months.append(plan.toObject().value("months").toInt());
            }
            std::sort(months.begin(), months.end());
            return months == QList<int>{1, 3, 6, 12} ? QString() : QStringLiteral("plans");
        }
        }
        return QStringLiteral("no check");
    }

    // The status of one region or route as the client decodes the catalogue.
    template<class Record>
    QString statusIn(const Endpoint &endpoint, const QString &id)
    {
        for (const Record &r : m_api->decode<QList<Record>>(send(*m_api, endpoint).body, endpoint.path())) {
            if (r.id == id)
                return rawValue(r.status);
        }
        return {};
    }

private Q_SLOTS:
    void initTestCase()
    {
        devservice::DevServiceOptions options;
        options.confirmAfter = kConfirmAfter;
        options.sessionLifetime = 60s;
        options.wakeStoppedFor = 2s;
        options.wakeAfter = 30s;
        m_run = std::make_unique<DevServiceRun>(options);
        QVERIFY2(m_run->started, qPrintable(m_run->error));
        QStringList urls;
        for (const QUrl &url : m_run->service->baseURLs())
            urls.append(url.toString());
        // The form KOVRA_API_BASE_URLS takes.
        const QList<QUrl> baseURLs = APIClient::baseURLsFor(urls.join(u',').toUtf8());
        QCOMPARE(baseURLs, m_run->service->baseURLs());
        m_api = std::make_unique<APIClient>(sessions(), baseURLs, m_tokens, AppGroupStore(m_home.paths()),
                                            APIClient::Options{100ms});

        // The first sign-in creates the account.
        const QString nonce = startSession();
        for (int i = 0; i < kConfirmAfter; ++i)
            QCOMPARE(send(*m_api, Endpoint::poll(nonce)).statusCode, 202);
        const LoginOut login = m_api->decode<LoginOut>(send(*m_api, Endpoint::poll(nonce)).body, QStringLiteral("poll"));
        QVERIFY(login.isNew);
        m_tokens->token = login.accessToken;
    }

    void cleanup() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    // Every endpoint of the enumeration gets a 2xx reply in the shape the client reads,
    // and a 401 for a token the service did not issue exactly when it needs the token.
    void endpoints_data()
    {
        QTest::addColumn<int>("kind");
        for (int k = 0; k <= int(Kind::tariffs); ++k)
            QTest::newRow(qPrintable(endpointFor(Kind(k), QStringLiteral("<nonce>")).path())) << k;
    }

    void endpoints()
    {
        QFETCH(int, kind);
        // A poll after the ones that wait confirms the sign-in.
        QString nonce;
        if (Kind(kind) == Kind::poll) {
            nonce = startSession();
            for (int i = 0; i < kConfirmAfter; ++i)
                send(*m_api, Endpoint::poll(nonce));
        }
        const Endpoint endpoint = endpointFor(Kind(kind), nonce);
        const APIClient::Answer answer = send(*m_api, endpoint);
        QVERIFY2(answer.statusCode >= 200 && answer.statusCode < 300, qPrintable(QString::number(answer.statusCode)));
        QString mismatch;
        try {
            mismatch = replyMismatch(Kind(kind), answer.body);
        } catch (const APIError &e) {
            mismatch = e.description();
        }
        QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch + u' ' + QString::fromUtf8(answer.body)));

        APIClient foreign(sessions(), m_api->baseURLs(), std::make_shared<FixedTokenProvider>(QStringLiteral("forged-token")),
                          AppGroupStore(m_home.paths()), APIClient::Options{100ms});
        QCOMPARE(send(foreign, endpoint).statusCode == 401, endpoint.requiresAuth());
    }

    // Polls of a sign-in: the waits, the token, then gone; expiry and unknown nonces.
    void poll_data()
    {
        QTest::addColumn<bool>("known");
        QTest::addColumn<QList<int>>("advanceMs"); // before each poll
        QTest::addColumn<QList<int>>("statuses");
        QTest::newRow("confirmed after the waits") << true << QList<int>{0, 0, 0, 0} << QList<int>{202, 202, 200, 410};
        QTest::newRow("expired before the first poll") << true << QList<int>{60'000} << QList<int>{410};
        QTest::newRow("expires between polls") << true << QList<int>{59'999, 1} << QList<int>{202, 410};
        QTest::newRow("unknown nonce") << false << QList<int>{0} << QList<int>{410};
    }

    void poll()
    {
        QFETCH(bool, known);
        QFETCH(QList<int>, advanceMs);
        QFETCH(QList<int>, statuses);
        const QString nonce = known ? startSession() : QStringLiteral("never-issued");
        QList<int> seen;
        for (int ms : advanceMs) {
            m_run->clock->advance(std::chrono::milliseconds(ms));
            const APIClient::Answer answer = send(*m_api, Endpoint::poll(nonce));
            seen.append(answer.statusCode);
            if (answer.statusCode == 200)
                QVERIFY(!m_api->decode<LoginOut>(answer.body, QStringLiteral("poll")).isNew);
        }
        QCOMPARE(seen, statuses);
    }

    // A woken region reports stopped, then starting, then online; its route follows.
    void wake()
    {
        QCOMPARE(send(*m_api, Endpoint::wakeRegion(QStringLiteral("nl"))).statusCode, 409);
        QCOMPARE(send(*m_api, Endpoint::wakeRegion(QStringLiteral("atlantis"))).statusCode, 404);
        QCOMPARE(statusIn<Region>(Endpoint::regions(), QStringLiteral("us-aws")), QStringLiteral("stopped"));
        QCOMPARE(send(*m_api, Endpoint::wakeRegion(QStringLiteral("us-aws"))).body, QByteArray(R"({"status":"starting"})"));
        const QList<std::pair<int, QString>> timeline{
            {0, "stopped"}, {1999, "stopped"}, {1, "starting"}, {27'999, "starting"}, {1, "online"}};
        for (const auto &[ms, status] : timeline) {
            m_run->clock->advance(std::chrono::milliseconds(ms));
            QCOMPARE(statusIn<Region>(Endpoint::regions(), QStringLiteral("us-aws")), status);
            QCOMPARE(statusIn<Connection>(Endpoint::connections(), QStringLiteral("us-aws")), status);
        }
        QCOMPARE(send(*m_api, Endpoint::wakeRegion(QStringLiteral("us-aws"))).body, QByteArray(R"({"status":"online"})"));
    }
};

QTEST_GUILESS_MAIN(DevServiceClientTest)
#include "itst_dev_service_client.moc"
