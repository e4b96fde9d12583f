#include "core/APIError.h"

#include "platform/Json.h"

#include <QTest>

#include <stdexcept>

using namespace kovra;

Q_DECLARE_METATYPE(kovra::APIError)

namespace {

struct Region {
    QString id, name;
    static Region decode(const JsonDecodingContainer &c) { return {c.decode<QString>("id"), c.decode<QString>("name")}; }
};
struct RegionList {
    std::vector<Region> regions;
    static RegionList decode(const JsonDecodingContainer &c) { return {c.decode<std::vector<Region>>("regions")}; }
};

// Decodes `json` as {"regions": [...]} when wrapped, else as a top-level array.
std::exception_ptr decodingFailure(const QByteArray &json, bool wrapped)
{
    const JsonDecoder decoder{KeyDecoding::convertFromSnakeCase, DateDecoding::iso8601};
    try {
        if (wrapped)
            decoder.decode<RegionList>(json);
        else
            decoder.decode<std::vector<Region>>(json);
    } catch (...) {
        return std::current_exception();
    }
    return nullptr;
}

const QString kCorrupted =
    QStringLiteral("decode dataCorrupted at <root>: The given data was not valid JSON. Unexpected end of data.");

} // namespace

class APIErrorTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void texts_data()
    {
        QTest::addColumn<APIError>("error");
        QTest::addColumn<APIError::Kind>("kind");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("message");
        using K = APIError::Kind;
        QTest::newRow("network, other exception")
            << APIError::network(std::make_exception_ptr(std::runtime_error("socket closed"))) << K::network << 0
            << "network: socket closed" << "Нет связи с сервером.";
        // A decoding error shows its technical text to the user too.
        QTest::newRow("decoding") << APIError::decoding(decodingFailure("{", false)) << K::decoding << 0 << kCorrupted
                                  << kCorrupted;
        QTest::newRow("server -1") << APIError::server(-1) << K::server << -1 << "server -1" << "Ошибка сервера (-1).";
    }
    void texts()
    {
        QFETCH(APIError, error);
        QFETCH(APIError::Kind, kind);
        QFETCH(int, status);
        QFETCH(QString, description);
        QFETCH(QString, message);
        QCOMPARE(error.kind(), kind);
        QCOMPARE(error.statusCode(), status);
        // Through the generic error helpers, as loggers and screens read them.
        const auto thrown = std::make_exception_ptr(error);
        QCOMPARE(descriptionOf(thrown), description);
        QCOMPARE(localizedDescriptionOf(thrown), message);
    }

    void decodingErrorText_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("wrapped");
        QTest::addColumn<QString>("expected");
        QTest::newRow("not JSON") << QByteArray("[{") << false << kCorrupted;
        QTest::newRow("key missing in first element") << QByteArray("[{\"id\":\"a\"}]") << false
            << "decode keyNotFound name at <[0]>: No value associated with key \"name\".";
        QTest::newRow("fourth region") << QByteArray("{\"regions\":[{\"id\":\"a\",\"name\":\"b\"},{\"id\":\"c\",\"name\":\"d\"},"
                                                     "{\"id\":\"e\",\"name\":\"f\"},7]}")
                                       << true
            << "decode typeMismatch Dictionary at <regions.[3]>: Expected to decode Dictionary but found a number instead.";
    }
    void decodingErrorText()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, wrapped);
        QFETCH(QString, expected);
        const std::exception_ptr failure = decodingFailure(json, wrapped);
        QVERIFY(failure);
        QCOMPARE(describeDecodingError(failure), expected);
        QCOMPARE(APIError::decoding(failure).description(), expected);
    }

    void otherErrorsAreNotDecodingErrors()
    {
        QCOMPARE(describeDecodingError(std::make_exception_ptr(std::runtime_error("boom"))),
                 QStringLiteral("decode failed: boom"));
    }
};

QTEST_GUILESS_MAIN(APIErrorTest)
#include "tst_api_error.moc"
