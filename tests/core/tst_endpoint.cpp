#include "core/Endpoint.h"

#include "platform/Json.h"

#include <QTest>

using namespace kovra;

namespace {

using Body = QMap<QString, QString>;

// The endpoints of the table, addressed by row.
const std::vector<Endpoint> &endpoints()
{
    static const std::vector<Endpoint> all{
        Endpoint::poll(QStringLiteral("9f86d081884c7d65")),
        Endpoint::wakeRegion(QStringLiteral("ru-1")),
        Endpoint::starsInvoice(QStringLiteral("month_3")),
        Endpoint::cryptoInvoice(QStringLiteral("year")),
        Endpoint::appleLogin(QStringLiteral("apple.id.token"), QStringLiteral("n-1")),
        Endpoint::appleLink(QStringLiteral("apple.id.token"), QStringLiteral("n-2")),
        Endpoint::googleLogin(QStringLiteral("google.id.token")),
        Endpoint::googleLink(QStringLiteral("google.id.token")),
        Endpoint::telegramLink(QStringLiteral("query_id=1&user=%7B%7D")),
        Endpoint::registerPush(QStringLiteral("push-token"), QStringLiteral("sandbox")),
        Endpoint::startSession(),
        Endpoint::me(),
        Endpoint::subscription(),
        Endpoint::regions(),
        Endpoint::entries(),
        Endpoint::connections(),
        Endpoint::clientVersion(),
        Endpoint::tariffs(),
    };
    return all;
}

} // namespace

class EndpointTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void requestShape_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<bool>("auth");
        QTest::addColumn<std::optional<Body>>("body");
        const auto row = [](const char *name, int i, const char *path, const char *method, bool auth,
                             std::optional<Body> body = std::nullopt) {
            QTest::newRow(name) << i << QString::fromLatin1(path) << QByteArray(method) << auth << body;
        };
        row("poll", 0, "/auth/poll/9f86d081884c7d65", "GET", false);
        row("wakeRegion", 1, "/regions/ru-1/wake", "POST", true);
        row("starsInvoice", 2, "/payment/stars/invoice", "POST", true, Body{{"plan_id", "month_3"}});
        row("cryptoInvoice", 3, "/payment/cryptobot/invoice", "POST", true, Body{{"plan_id", "year"}});
        row("appleLogin", 4, "/auth/apple", "POST", false, Body{{"id_token", "apple.id.token"}, {"nonce", "n-1"}});
        row("appleLink", 5, "/auth/apple/link", "POST", true, Body{{"id_token", "apple.id.token"}, {"nonce", "n-2"}});
        row("googleLogin", 6, "/auth/google", "POST", false, Body{{"id_token", "google.id.token"}});
        row("googleLink", 7, "/auth/google/link", "POST", true, Body{{"id_token", "google.id.token"}});
        row("telegramLink", 8, "/auth/telegram/link", "POST", true, Body{{"init_data", "query_id=1&user=%7B%7D"}});
        row("registerPush", 9, "/push/register", "POST", true,
            Body{{"token", "push-token"}, {"platform", "ios"}, {"environment", "sandbox"}});
        row("startSession", 10, "/auth/start_session", "POST", false);
        row("me", 11, "/me", "GET", true);
        row("subscription", 12, "/me/subscription", "GET", true);
        row("regions", 13, "/regions", "GET", true);
        row("entries", 14, "/entries", "GET", true);
        row("connections", 15, "/connections", "GET", true);
        row("clientVersion", 16, "/client/version", "GET", false);
        row("tariffs", 17, "/payment/tariffs", "GET", true);
        QCOMPARE(size_t(18), endpoints().size());
    }
    void requestShape()
    {
        QFETCH(int, row);
        QFETCH(QString, path);
        QFETCH(QByteArray, method);
        QFETCH(bool, auth);
        QFETCH(std::optional<Body>, body);
        const Endpoint &e = endpoints().at(size_t(row));
        QCOMPARE(e.path(), path);
        QCOMPARE(e.method(), method);
        QCOMPARE(e.requiresAuth(), auth);
        // Ordinary parameters need no escaping: the URL carries the path as written.
        QCOMPARE(e.url(QUrl(QStringLiteral("https://api.example"))).toString(QUrl::FullyEncoded),
            "https://api.example" + path);

        const std::optional<QByteArray> bytes = e.body();
        QCOMPARE(bytes.has_value(), body.has_value());
        if (bytes) {
            QCOMPARE(*bytes, JsonValue::parse(*bytes).toJson()); // compact
            QCOMPARE(JsonDecoder().decode<Body>(*bytes), *body);
        }
    }

    void emptyNonceKeepsTheTrailingSlash()
    {
        const Endpoint poll = Endpoint::poll(QString());
        QCOMPARE(poll.path(), QStringLiteral("/auth/poll/"));
        QCOMPARE(poll.url(QUrl(QStringLiteral("https://h"))).toString(QUrl::FullyEncoded),
            QStringLiteral("https://h/auth/poll/"));
    }

    void bodyEscapesParameters()
    {
        const auto bytes = Endpoint::starsInvoice(QStringLiteral("a\"b\\c\nd")).body();
        QCOMPARE(*bytes, QByteArray("{\"plan_id\":\"a\\\"b\\\\c\\nd\"}"));
    }

    void parametersStayOneSegment_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("expected"); // the URL, or the error's description
        QTest::newRow("plain") << "ru-1" << "https://h" << "https://h/regions/ru-1/wake";
        QTest::newRow("base with prefix") << "ru-1" << "https://h:8443/api" << "https://h:8443/api/regions/ru-1/wake";
        QTest::newRow("base with slash") << "ru-1" << "https://h/api/" << "https://h/api/regions/ru-1/wake";
        QTest::newRow("slash") << "a/b" << "https://h" << "https://h/regions/a%2Fb/wake";
        QTest::newRow("query and fragment")
            << "a?b#c d%" << "https://h" << "https://h/regions/a%3Fb%23c%20d%25/wake";
        QTest::newRow("non-ascii") << "мск" << "https://h" << "https://h/regions/%D0%BC%D1%81%D0%BA/wake";
        QTest::newRow("three dots") << "..." << "https://h" << "https://h/regions/.../wake";
        QTest::newRow("dot") << "." << "https://h" << "path parameter \".\" cannot be one segment of /regions/{id}/wake";
        QTest::newRow("dot dot") << ".." << "https://h/api"
                                 << "path parameter \"..\" cannot be one segment of /regions/{id}/wake";
        QTest::newRow("empty") << "" << "https://h" << "path parameter \"\" cannot be one segment of /regions/{id}/wake";
    }
    void parametersStayOneSegment()
    {
        QFETCH(QString, id);
        QFETCH(QString, base);
        QFETCH(QString, expected);
        const Endpoint wake = Endpoint::wakeRegion(id);
        QCOMPARE(wake.path(), "/regions/" + id + "/wake");
        try {
            QCOMPARE(wake.url(QUrl(base)).toString(QUrl::FullyEncoded), expected);
        } catch (const InvalidPathParameterError &e) {
            QCOMPARE(e.description(), expected);
        }
    }

    void dotDotNonceIsRefused()
    {
        QVERIFY_THROWS_EXCEPTION(InvalidPathParameterError, Endpoint::poll(QStringLiteral("..")).pathSegments());
        QCOMPARE(Endpoint::poll(QStringLiteral("ab")).pathSegments(), (QStringList{"auth", "poll", "ab"}));
    }
};

QTEST_GUILESS_MAIN(EndpointTest)
#include "tst_endpoint.moc"
