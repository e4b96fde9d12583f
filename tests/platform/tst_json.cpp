#include "platform/Json.h"

#include <QElapsedTimer>
#include <QTest>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>

#include "Mutator.h"

using namespace kovra;

namespace {

// A catalogue-like record that reaches every kind of decoded value; it refuses the id "bad".
struct Record {
    QString id;
    std::optional<QString> name;
    std::optional<int> port;
    std::optional<double> load;
    std::optional<QDateTime> createdAt;
    std::optional<QList<QString>> tags;
    std::optional<std::map<QString, quint64>> limits;
    std::optional<QByteArray> key;
    std::optional<std::vector<Record>> children;
    bool operator==(const Record &) const = default;

    static Record decode(const JsonDecodingContainer &c)
    {
        Record r{c.decode<QString>("id"), c.decodeIfPresent<QString>("name"), c.decodeIfPresent<int>("port"),
                 c.decodeIfPresent<double>("load"), c.decodeIfPresent<QDateTime>("createdAt"),
                 c.decodeIfPresent<QList<QString>>("tags"), c.decodeIfPresent<std::map<QString, quint64>>("limits"),
                 c.decodeIfPresent<QByteArray>("key"), c.decodeIfPresent<std::vector<Record>>("children")};
        if (r.id == u"bad")
            throw c.dataCorruptedError("id", QStringLiteral("Id is reserved."));
        return r;
    }
    void encode(JsonEncodingContainer &c) const
    {
        c.encode("id", id);
        c.encodeIfPresent("name", name);
        c.encodeIfPresent("port", port);
        c.encodeIfPresent("load", load);
        c.encodeIfPresent("createdAt", createdAt);
        c.encodeIfPresent("tags", tags);
        c.encodeIfPresent("limits", limits);
        c.encodeIfPresent("key", key);
        c.encodeIfPresent("children", children);
    }
};

// Decodes the input as the named type and renders it as text, so one table can cover
// parsing, key conversion, records and every scalar type. "JSON" parses and writes back
// compactly, "Key" converts a snake-case key, "Record" decodes a service reply (snake-case
// keys), "Record by field names" the same without key conversion; "Date" reads ISO 8601,
// "Date2001" seconds since 2001.
QString decodeAs(const QString &type, const QByteArray &json)
{
    const JsonDecoder decoder{type == u"Record" ? KeyDecoding::convertFromSnakeCase : KeyDecoding::useDefaultKeys,
        type == u"Date2001" ? DateDecoding::secondsSince2001 : DateDecoding::iso8601};
    if (type == u"JSON")
        return QString::fromUtf8(JsonValue::parse(json).toJson());
    if (type == u"Key")
        return convertFromSnakeCase(QString::fromUtf8(json));
    if (type.startsWith(u"Record")) {
        const Record r = decoder.decode<Record>(json);
        QString text = r.id + (r.createdAt ? u'@' + r.createdAt->toString(Qt::ISODate) : QString());
        for (const Record &child : r.children.value_or(std::vector<Record>{}))
            text += u' ' + child.id + u':' + QString::number(child.port.value_or(-1));
        for (const auto &[limit, value] : r.limits.value_or(std::map<QString, quint64>{}))
            text += u' ' + limit + u'=' + QString::number(value);
        return text;
    }
    if (type == u"Int")
        return QString::number(decoder.decode<int>(json));
    if (type == u"Int64")
        return QString::number(decoder.decode<qint64>(json));
    if (type == u"UInt64")
        return QString::number(decoder.decode<quint64>(json));
    if (type == u"Double")
        return QString::number(decoder.decode<double>(json), 'g', 17);
    if (type.startsWith(u"Date"))
        return decoder.decode<QDateTime>(json).toString(Qt::ISODateWithMs);
    return QString::fromLatin1(decoder.decode<QByteArray>(json));
}

// The text `f` returns, or the description of the coding error it throws.
QString outcome(const std::function<QString()> &f)
{
    try {
        return f();
    } catch (const JsonDecodingError &e) {
        return e.description();
    } catch (const JsonEncodingError &e) {
        return e.description();
    }
}

QByteArray nested(int depth)
{
    return QByteArray(depth, '[') + QByteArray(depth, ']');
}

const QList<QByteArray> kSeeds = {
    R"([{"id":"ru-1","name":"Москва","port":443,"load":0.25,"created_at":"2024-01-02T03:04:05Z",)"
    R"("tags":["fast","p2p"],"limits":{"month_3":9007199254740993},"key":"aGk=",)"
    R"("children":[{"id":"ru-1a","created_at":"2024-01-02T03:04:05+03:00"}]}])",
    R"({"id":"x","name":"a \"quoted\" \\ line\n\u00e9\ud83d\ude00","port":-0,"load":-1.5e-3})",
    R"([{"id":"a","tags":[]},{"id":"b","limits":{}},{"id":"c","children":[{"id":"d","children":[]}]}])",
    R"({"id":"big","port":2147483647,"load":1e308,"limits":{"a":-9223372036854775808,"b":0}})",
    R"([null,true,false,0,-1,1.0,"s",[],{},[[[[{"id":"deep"}]]]]])",
};

// JSON's punctuation and the pieces parsers get wrong, spliced in at random places.
const QList<QByteArray> kTokens = {
    "{", "}", "[", "]", ",", ":", "\"", "\\", "\\u", "\\ud800", "\\udc00", "\\u00", "null", "true", "false",
    "-", "0", "1e999", "-1e-999", "1.", ".5", "01", QByteArray("\0", 1), "\xc3", "\xe2\x82", "\xf4\x90\x80\x80", "\xc0\xaf",
    "\xed\xa0\x80", "\t", " ", "\r\n", "\"created_at\":\"2024-13-40T25:61:61Z\"", "\"id\":", "9223372036854775808",
};

// What one input comes to: "parsed", "refused", or what went wrong. Every input must parse or
// be refused with our typed error at the root; what parses must write back to text that parses
// to the same value, and decoding it into records must succeed or fail with our typed error.
QString fuzzOutcome(const QByteArray &input)
{
    try {
        const JsonValue value = JsonValue::parse(input);
        if (JsonValue::parse(value.toJson()) != value)
            return QStringLiteral("round trip changed the value");
        const JsonDecoder decoder{KeyDecoding::convertFromSnakeCase, DateDecoding::iso8601};
        try {
            if (value.type() == JsonValue::Type::Array)
                decoder.decode<std::vector<Record>>(value);
            else
                decoder.decode<Record>(value);
        } catch (const JsonDecodingError &) {
        }
        return QStringLiteral("parsed");
    } catch (const JsonDecodingError &e) {
        const bool typed = e.kind() == JsonDecodingError::Kind::dataCorrupted && e.codingPath().isEmpty();
        return typed ? QStringLiteral("refused") : QStringLiteral("parse error of the wrong kind: ") + e.description();
    } catch (const std::exception &e) {
        return QStringLiteral("untyped error: ") + QString::fromUtf8(e.what());
    }
}

} // namespace

class JsonTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // A row expects the rendering of an accepted input, or the error text of a refused one;
    // a refused row ending in "JSON. " pins only the error's kind and place.
    void decode_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("expected");
        const QString refused = QStringLiteral("decode dataCorrupted at <root>: The given data was not valid JSON. ");
        const auto notFit = [](const char *n, const char *t) {
            return QStringLiteral("decode dataCorrupted at <root>: Parsed JSON number <%1> does not fit in %2.")
                .arg(QLatin1String(n), QLatin1String(t));
        };
        const auto row = [](const char *name, const char *type, const QByteArray &input, const QString &expected) {
            QTest::newRow(name) << QString::fromLatin1(type) << input << expected;
        };
        row("big integer kept", "JSON", "123456789012345678901234567890", "123456789012345678901234567890");
        row("escapes", "JSON", "\"\\\"\\\\\\/\\b\\f\\n\\r\\t\\u00e9\\ud83d\\ude00\\u0001\"",
            QString::fromUtf8("\"\\\"\\\\/\\b\\f\\n\\r\\t\xc3\xa9\xf0\x9f\x98\x80\\u0001\""));
        row("depth at the cap", "JSON", nested(JsonValue::maxDepth), QString::fromLatin1(nested(JsonValue::maxDepth)));
        row("unexpected end", "JSON", "[1,", refused + "Unexpected end of data.");
        row("trailing garbage", "JSON", "{} x", refused + "Unexpected text after the value at offset 3.");
        row("lone high surrogate", "JSON", "\"\\ud800\"", refused);
        row("invalid utf-8", "JSON", "\"ab\xc3(\"", refused + "Invalid UTF-8 at offset 3.");
        row("depth over the cap", "JSON", nested(JsonValue::maxDepth + 1), refused + "Nesting deeper than 256 levels at offset 256.");
        row("hostile depth", "JSON", QByteArray(1'000'000, '['), refused);
        row("hostile object depth", "JSON", QByteArray(500'000, '{').replace("{", "{\"a\":"), refused);

        row("key with an upper-case word", "Key", "invoice_URL", "invoiceUrl");
        row("key with underscores at both ends", "Key", "_a_b_", "_aB_");

        // Member names of a map are data (plan ids), never converted.
        const QByteArray record = R"({"id":"ru-1","created_at":"2024-01-02T03:04:05Z","children":[{"id":"a","port":7}],)"
                                  R"("limits":{"month_3":18446744073709551615}})";
        row("record", "Record", record, "ru-1@2024-01-02T03:04:05Z a:7 month_3=18446744073709551615");
        row("record by field names", "Record by field names", record, "ru-1 a:7 month_3=18446744073709551615");
        row("wrong type in element", "Record", R"({"id":"x","children":[{"id":5}]})",
            "decode typeMismatch String at <children.[0].id>: Expected to decode String but found a number instead.");
        row("optional of wrong type", "Record", R"({"id":"x","children":[{"id":"a","port":"1"}]})",
            "decode typeMismatch Int at <children.[0].port>: Expected to decode Int but found a string instead.");
        row("map member keeps its key", "Record", R"({"id":"x","limits":{"month_3":"a"}})",
            "decode typeMismatch UInt64 at <limits.month_3>: Expected to decode UInt64 but found a string instead.");
        row("record refuses a value", "Record", R"({"id":"bad"})", "decode dataCorrupted at <id>: Id is reserved.");

        row("Int over", "Int", "2147483648", notFit("2147483648", "Int"));
        row("Int fraction", "Int", "1.5", notFit("1.5", "Int"));
        row("Int64 over", "Int64", "9223372036854775808", notFit("9223372036854775808", "Int64"));
        row("Int64 2^63 by exponent", "Int64", "9.3e18", notFit("9.3e18", "Int64"));
        row("UInt64 negative", "UInt64", "-1", notFit("-1", "UInt64"));
        row("UInt64 2^53+1 exact", "UInt64", "9007199254740993", "9007199254740993");
        row("Double huge", "Double", "1e400", notFit("1e400", "Double"));
        row("Data not base64", "Data", "\"a*\"", "decode dataCorrupted at <root>: Encountered Data is not valid Base64.");
        row("iso offset", "Date", "\"2024-01-02T03:04:05+03:00\"", "2024-01-02T00:04:05.000Z");
        row("iso fraction", "Date", "\"2024-01-02T03:04:05.123Z\"",
            "decode dataCorrupted at <root>: Expected date string to be ISO8601-formatted.");
        row("seconds unix epoch", "Date2001", "-978307200", "1970-01-01T00:00:00.000Z");
        row("seconds far out", "Date2001", "1e300", notFit("1e300", "Date"));
    }
    void decode()
    {
        QFETCH(QString, type);
        QFETCH(QByteArray, input);
        QFETCH(QString, expected);
        const QString got = outcome([&] { return decodeAs(type, input); });
        if (expected.endsWith(u"JSON. "))
            QVERIFY2(got.startsWith(expected), qPrintable(got));
        else
            QCOMPARE(got, expected);
    }

    void encodesRecordsCompactlyInFieldOrder()
    {
        const Record record{"a", std::nullopt, std::nullopt, 0.1, QDateTime(QDate(2001, 1, 1), QTime(0, 0, 1, 500), Qt::UTC),
                            std::nullopt, std::map<QString, quint64>{{"m", 18446744073709551615ULL}}, "hi", std::nullopt};
        QCOMPARE(JsonEncoder().encode(record),
                 QByteArray(R"({"id":"a","load":0.1,"createdAt":1.5,"limits":{"m":18446744073709551615},"key":"aGk="})"));

        Record other = record;
        other.name = QStringLiteral("a \"quoted\"\nline \x01 Кира");
        other.children = std::vector<Record>{record};
        const QByteArray bytes = JsonEncoder().encode(std::vector<Record>{record, other});
        QVERIFY(JsonDecoder().decode<std::vector<Record>>(bytes) == (std::vector<Record>{record, other}));
    }

    void doublesReadBackExactly()
    {
        for (const double value : {1.0 / 3.0, std::numeric_limits<double>::denorm_min(), -0.0}) {
            const double back = JsonDecoder().decode<double>(JsonEncoder().encode(value));
            QVERIFY2(std::memcmp(&back, &value, sizeof value) == 0, qPrintable(QString::number(value)));
        }
    }

    void unencodableValuesFailWithTheirPath()
    {
        std::vector<Record> records(2);
        records[1].load = std::nan("");
        QCOMPARE(outcome([&] { return QString::fromUtf8(JsonEncoder().encode(records)); }),
                 "encode invalidValue at <[1].load>: Unable to encode the number nan in JSON.");
        QCOMPARE(outcome([&] { return QString::fromUtf8(JsonEncoder().encode(QDateTime())); }),
                 "encode invalidValue at <root>: Unable to encode an invalid date in JSON.");
    }

    // The seeds parse; a few thousand mutations of them, the same ones every run, parse or
    // are refused, and both ways are explored.
    void mutatedInputsParseOrAreRefused()
    {
        for (const QByteArray &seed : kSeeds)
            QCOMPARE(fuzzOutcome(seed), QStringLiteral("parsed"));
        test::Mutator mutator(0x6b6f7672, kSeeds, kTokens);
        QElapsedTimer elapsed;
        elapsed.start();
        QMap<QString, int> outcomes;
        int tried = 0;
        for (; tried < 4000 && elapsed.elapsed() < 30'000; ++tried) {
            const QByteArray input = mutator.mutate(tried);
            const QString outcome = fuzzOutcome(input);
            QVERIFY2(outcome == u"parsed" || outcome == u"refused",
                     qPrintable(outcome + " for input " + QString::fromLatin1(input.toPercentEncoding())));
            ++outcomes[outcome];
        }
        QVERIFY2(tried >= 1000, qPrintable(QString::number(tried)));
        QVERIFY2(outcomes.value("parsed") > tried / 20 && outcomes.value("refused") > tried / 20, qPrintable(QDebug::toString(outcomes)));
    }
};

QTEST_GUILESS_MAIN(JsonTest)
#include "tst_json.moc"
