#include "core/Endpoint.h"

#include "platform/Json.h"

#include <QTest>

using namespace kovra;

using Body = QMap<QString, QString>;
Q_DECLARE_METATYPE(kovra::Endpoint)

class EndpointTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void requestShape_data()
    {
        QTest::addColumn<Endpoint>("endpoint");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<bool>("auth");
        QTest::addColumn<std::optional<Body>>("body");
        const auto row = [](const char *name, const Endpoint &e, const char *path, const char *method, bool auth,
                            std::optional<Body> body = std::nullopt) {
            QTest::newRow(name) << e << QString::fromLatin1(path) << QByteArray(method) << auth << body;
        };
        // The rows where a parameter or a fixed value shapes the request.
        row("poll", Endpoint::poll("9f86d081884c7d65"), "/auth/poll/9f86d081884c7d65", "GET", false);
        row("poll, empty nonce", Endpoint::poll(""), "/auth/poll/", "GET", false);
        row("wakeRegion", Endpoint::wakeRegion("ru-1"), "/regions/ru-1/wake", "POST", true);
        row("appleLink", Endpoint::appleLink("apple.id.token", "n-2"), "/auth/apple/link", "POST", true,
            Body{{"id_token", "apple.id.token"}, {"nonce", "n-2"}});
        row("registerPush", Endpoint::registerPush("push-token", "sandbox"), "/push/register", "POST", true,
            Body{{"token", "push-token"}, {"platform", "ios"}, {"environment", "sandbox"}});
        row("startSession", Endpoint::startSession(), "/auth/start_session", "POST", false);
    }
    void requestShape()
    {
        QFETCH(Endpoint, endpoint);
        QFETCH(QString, path);
        QFETCH(QByteArray, method);
        QFETCH(bool, auth);
        QFETCH(std::optional<Body>, body);
        QCOMPARE(endpoint.path(), path);
        QCOMPARE(endpoint.method(), method);
        QCOMPARE(endpoint.requiresAuth(), auth);
        // Ordinary parameters need no escaping: the URL carries the path as written.
        QCOMPARE(endpoint.url(QUrl("https://api.example")).toString(QUrl::FullyEncoded), "https://api.example" + path);

        const std::optional<QByteArray> bytes = endpoint.body();
        QCOMPARE(bytes.has_value(), body.has_value());
        if (bytes) {
            QCOMPARE(*bytes, JsonValue::parse(*bytes).toJson()); // compact
            QCOMPARE(JsonDecoder().decode<Body>(*bytes), *body);
        }
    }

    void parametersStayOneSegment_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("expected"); // the URL, or the error's description
        QTest::newRow("base with prefix") << "ru-1" << "https://h:8443/api" << "https://h:8443/api/regions/ru-1/wake";
        QTest::newRow("slash") << "a/b" << "https://h" << "https://h/regions/a%2Fb/wake";
        QTest::newRow("query and fragment")
            << "a?b#c d%" << "https://h" << "https://h/regions/a%3Fb%23c%20d%25/wake";
        QTest::newRow("non-ascii") << "мск" << "https://h" << "https://h/regions/%D0%BC%D1%81%D0%BA/wake";
        QTest::newRow("three dots") << "..." << "https://h" << "https://h/regions/.../wake";
        QTest::newRow("dot") << "." << "https://h" << "path parameter \".\" cannot be one segment of /regions/{id}/wake";
        QTest::newRow("dot dot") << ".." << "https://h/api"
                                 << "path parameter \"..\" cannot be one segment of /regions/{id}/wake";
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
};

QTEST_GUILESS_MAIN(EndpointTest)
#include "tst_endpoint.moc"
