#include "core/Endpoint.h"

#include <QTest>

using namespace kovra;

class EndpointTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // A path parameter is escaped into one segment; one that cannot be one is refused.
    void parametersStayOneSegment()
    {
        const auto url = [](const QString &id) { return Endpoint::wakeRegion(id).url(QUrl("https://h")).toString(QUrl::FullyEncoded); };
        QCOMPARE(url("a/b"), "https://h/regions/a%2Fb/wake");
        QCOMPARE(url("a?b#c d%"), "https://h/regions/a%3Fb%23c%20d%25/wake");
        QCOMPARE(url("..."), "https://h/regions/.../wake");
        QVERIFY_THROWS_EXCEPTION(InvalidPathParameterError, url("."));
    }
};

QTEST_GUILESS_MAIN(EndpointTest)
#include "tst_endpoint.moc"
