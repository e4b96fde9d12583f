#include "platform/Json.h"

#include <QTest>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>

using namespace kovra;

namespace {

struct Item {
    QString name;
    std::optional<qint64> count;
    bool operator==(const Item &) const = default;

    static Item decode(const JsonDecodingContainer &c)
    {
        return {c.decode<QString>("name"), c.decodeIfPresent<qint64>("count")};
    }
    void encode(JsonEncodingContainer &c) const
    {
        c.encode("name", name);
        c.encodeIfPresent("count", count);
    }
};

struct Catalog {
    QString regionId;
    std::vector<Item> items;
    std::map<QString, Item> byPlan;
    bool operator==(const Catalog &) const = default;

    static Catalog decode(const JsonDecodingContainer &c)
    {
        Catalog out{c.decode<QString>("regionId"), c.decode<std::vector<Item>>("items"),
            c.decodeIfPresent<std::map<QString, Item>>("byPlan").value_or(std::map<QString, Item>{})};
        if (out.regionId == u"bad")
            throw c.dataCorruptedError("regionId", QStringLiteral("Region id is reserved."));
        return out;
    }
};

struct Stamp {
    QDateTime at;
    double value = 0;
    QList<quint64> ids;
    QByteArray blob;
    std::optional<QString> note;
    bool operator==(const Stamp &) const = default;

    static Stamp decode(const JsonDecodingContainer &c)
    {
        return {c.decode<QDateTime>("at"), c.decode<double>("value"), c.decode<QList<quint64>>("ids"),
            c.decode<QByteArray>("blob"), c.decodeIfPresent<QString>("note")};
    }
    void encode(JsonEncodingContainer &c) const
    {
        c.encode("at", at);
        c.encode("value", value);
        c.encode("ids", ids);
        c.encode("blob", blob);
        c.encodeIfPresent("note", note);
    }
};

const JsonDecoder apiDecoder{KeyDecoding::convertFromSnakeCase, DateDecoding::iso8601};

// Decodes a top-level value as the named type and renders it as text, so one
// table can cover every scalar type. "Date" reads ISO 8601, "Date2001" seconds since 2001.
QString decodeAs(const QString &type, const QByteArray &json)
{
    const JsonDecoder decoder{KeyDecoding::useDefaultKeys,
        type == u"Date2001" ? DateDecoding::secondsSince2001 : DateDecoding::iso8601};
    const auto precise = [](double d) { return QString::number(d, 'g', 17); };
    if (type == u"Int")
        return QString::number(decoder.decode<int>(json));
    if (type == u"Int64")
        return QString::number(decoder.decode<qint64>(json));
    if (type == u"UInt64")
        return QString::number(decoder.decode<quint64>(json));
    if (type == u"Double")
        return precise(decoder.decode<double>(json));
    if (type == u"Bool")
        return decoder.decode<bool>(json) ? QStringLiteral("true") : QStringLiteral("false");
    if (type == u"String")
        return decoder.decode<QString>(json);
    if (type.startsWith(u"Date"))
        return decoder.decode<QDateTime>(json).toString(Qt::ISODateWithMs);
    if (type == u"Data")
        return QString::fromLatin1(decoder.decode<QByteArray>(json));
    qFatal("unknown type");
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

QString errorText(const std::function<void()> &f)
{
    return outcome([&] {
        f();
        return QStringLiteral("(no error)");
    });
}

QByteArray nested(int depth)
{
    return QByteArray(depth, '[') + QByteArray(depth, ']');
}

} // namespace

class JsonTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // A row expects the compact form of an accepted input, or the error text of a refused one;
    // a refused row with no detail pins only the error's kind and place.
    void parse_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("expected");
        const auto refused = [](const char *detail = "") {
            return QStringLiteral("decode dataCorrupted at <root>: The given data was not valid JSON. ") + QLatin1String(detail);
        };
        QTest::newRow("object") << QByteArray(" {\"a\" : 1 ,\n\"b\":[true,false,null],\t\"c\":\"x\"}\r\n")
                                << "{\"a\":1,\"b\":[true,false,null],\"c\":\"x\"}";
        QTest::newRow("big integer kept") << QByteArray("123456789012345678901234567890") << "123456789012345678901234567890";
        QTest::newRow("escapes") << QByteArray("\"\\\"\\\\\\/\\b\\f\\n\\r\\t\\u00e9\\ud83d\\ude00\\u0001\"")
                                 << QString::fromUtf8("\"\\\"\\\\/\\b\\f\\n\\r\\t\xc3\xa9\xf0\x9f\x98\x80\\u0001\"");
        QTest::newRow("depth at the cap") << nested(JsonValue::maxDepth) << QString::fromLatin1(nested(JsonValue::maxDepth));

        QTest::newRow("unexpected end") << QByteArray("[1,") << refused("Unexpected end of data.");
        QTest::newRow("trailing comma") << QByteArray("[1,]") << refused("Unexpected character ']' at offset 3.");
        QTest::newRow("trailing garbage") << QByteArray("{} x") << refused("Unexpected text after the value at offset 3.");
        QTest::newRow("lone high surrogate") << QByteArray("\"\\ud800\"") << refused();
        QTest::newRow("invalid utf-8") << QByteArray("\"ab\xc3(\"") << refused("Invalid UTF-8 at offset 3.");
        QTest::newRow("depth over the cap") << nested(JsonValue::maxDepth + 1)
                                            << refused("Nesting deeper than 256 levels at offset 256.");
        QTest::newRow("hostile depth") << QByteArray(1'000'000, '[') << refused();
        QTest::newRow("hostile object depth") << QByteArray(500'000, '{').replace("{", "{\"a\":") << refused();
    }
    void parse()
    {
        QFETCH(QByteArray, input);
        QFETCH(QString, expected);
        const QString got = outcome([&] { return QString::fromUtf8(JsonValue::parse(input).toJson()); });
        if (expected.endsWith(u"JSON. "))
            QVERIFY2(got.startsWith(expected), qPrintable(got));
        else
            QCOMPARE(got, expected);
    }

    void snakeCase_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("converted");
        QTest::newRow("upper-case word") << "invoice_URL" << "invoiceUrl";
        QTest::newRow("underscores kept at both ends") << "_a_b_" << "_aB_";
        QTest::newRow("leading underscore only") << "_private" << "_private";
        QTest::newRow("doubled underscore") << "a__b" << "aB";
        QTest::newRow("one capitalised word") << "URL" << "URL";
        QTest::newRow("non-ascii") << "émoji_éclair" << "émojiÉclair";
    }
    void snakeCase()
    {
        QFETCH(QString, key);
        QFETCH(QString, converted);
        QCOMPARE(convertFromSnakeCase(key), converted);
    }

    void scalars_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("expected"); // the value, or the error text
        const auto notFit = [](const char *n, const char *t) {
            return QStringLiteral("decode dataCorrupted at <root>: Parsed JSON number <%1> does not fit in %2.")
                .arg(QLatin1String(n), QLatin1String(t));
        };
        QTest::newRow("Int over") << "Int" << QByteArray("2147483648") << notFit("2147483648", "Int");
        QTest::newRow("Int fraction") << "Int" << QByteArray("1.5") << notFit("1.5", "Int");
        QTest::newRow("Int whole fraction") << "Int" << QByteArray("1.0") << "1";
        QTest::newRow("Int64 over")
            << "Int64" << QByteArray("9223372036854775808") << notFit("9223372036854775808", "Int64");
        QTest::newRow("Int64 2^63 by exponent") << "Int64" << QByteArray("9.3e18") << notFit("9.3e18", "Int64");
        QTest::newRow("UInt64 negative") << "UInt64" << QByteArray("-1") << notFit("-1", "UInt64");
        QTest::newRow("UInt64 2^53+1 exact") << "UInt64" << QByteArray("9007199254740993") << "9007199254740993";
        QTest::newRow("Double huge") << "Double" << QByteArray("1e400") << notFit("1e400", "Double");
        QTest::newRow("String from null") << "String" << QByteArray("null")
            << "decode valueNotFound String at <root>: Expected String value but found null instead.";
        QTest::newRow("Data not base64") << "Data" << QByteArray("\"a*\"")
            << "decode dataCorrupted at <root>: Encountered Data is not valid Base64.";
        const QString notIso =
            QStringLiteral("decode dataCorrupted at <root>: Expected date string to be ISO8601-formatted.");
        QTest::newRow("iso Z") << "Date" << QByteArray("\"2024-01-02T03:04:05Z\"") << "2024-01-02T03:04:05.000Z";
        QTest::newRow("iso offset") << "Date" << QByteArray("\"2024-01-02T03:04:05+03:00\"") << "2024-01-02T00:04:05.000Z";
        QTest::newRow("iso fraction") << "Date" << QByteArray("\"2024-01-02T03:04:05.123Z\"") << notIso;
        QTest::newRow("iso number") << "Date" << QByteArray("0")
            << "decode typeMismatch Date at <root>: Expected to decode Date but found a number instead.";
        QTest::newRow("seconds unix epoch") << "Date2001" << QByteArray("-978307200") << "1970-01-01T00:00:00.000Z";
        QTest::newRow("seconds far out") << "Date2001" << QByteArray("1e300")
            << "decode dataCorrupted at <root>: Parsed JSON number <1e300> does not fit in Date.";
    }
    void scalars()
    {
        QFETCH(QString, type);
        QFETCH(QByteArray, json);
        QFETCH(QString, expected);
        QCOMPARE(outcome([&] { return decodeAs(type, json); }), expected);
    }

    void recordErrors_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("expected");
        QTest::newRow("key missing at root") << QByteArray("{\"items\":[]}")
            << "decode keyNotFound regionId at <root>: No value associated with key \"regionId\".";
        QTest::newRow("wrong type in element") << QByteArray("{\"region_id\":\"x\",\"items\":[{\"name\":5}]}")
            << "decode typeMismatch String at <items.[0].name>: Expected to decode String but found a number instead.";
        QTest::newRow("optional of wrong type") << QByteArray("{\"region_id\":\"x\",\"items\":[{\"name\":\"a\",\"count\":\"1\"}]}")
            << "decode typeMismatch Int64 at <items.[0].count>: Expected to decode Int64 but found a string instead.";
        QTest::newRow("map member keeps its key") << QByteArray("{\"region_id\":\"x\",\"items\":[],\"by_plan\":{\"month_3\":{\"name\":1}}}")
            << "decode typeMismatch String at <byPlan.month_3.name>: Expected to decode String but found a number instead.";
        QTest::newRow("record refuses a value") << QByteArray("{\"region_id\":\"bad\",\"items\":[]}")
            << "decode dataCorrupted at <regionId>: Region id is reserved.";
    }
    void recordErrors()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, expected);
        QCOMPARE(errorText([&] { apiDecoder.decode<Catalog>(json); }), expected);
    }

    void snakeCaseKeysMatchOnlyWhenConverting()
    {
        const QByteArray json = "{\"region_id\":\"ru-1\",\"items\":[{\"name\":\"a\",\"count\":9007199254740993}],"
                                "\"by_plan\":{\"month_3\":{\"name\":\"b\"}}}";
        const Catalog catalog = apiDecoder.decode<Catalog>(json);
        QCOMPARE(catalog.regionId, QStringLiteral("ru-1"));
        QCOMPARE(catalog.items, (std::vector<Item>{{"a", 9007199254740993LL}}));
        // Member names of a map are data (plan ids), never converted.
        QCOMPARE(catalog.byPlan.count(QStringLiteral("month_3")), size_t(1));

        QCOMPARE(errorText([&] { JsonDecoder().decode<Catalog>(json); }),
            "decode keyNotFound regionId at <root>: No value associated with key \"regionId\".");
    }

    void encodesRecordsCompactlyInFieldOrder()
    {
        const Stamp stamp{QDateTime(QDate(2001, 1, 1), QTime(0, 0, 1, 500), Qt::UTC), 0.1, {1, 18446744073709551615ULL},
            "hi", std::nullopt};
        QCOMPARE(JsonEncoder().encode(stamp),
            QByteArray("{\"at\":1.5,\"value\":0.1,\"ids\":[1,18446744073709551615],\"blob\":\"aGk=\"}"));

        Stamp withNote = stamp;
        withNote.note = QStringLiteral("a \"quoted\"\nline \x01 Кира");
        const QByteArray bytes = JsonEncoder().encode(std::vector<Stamp>{stamp, withNote});
        QCOMPARE(JsonDecoder().decode<std::vector<Stamp>>(bytes), (std::vector<Stamp>{stamp, withNote}));
    }

    void doublesReadBackExactly_data()
    {
        QTest::addColumn<double>("value");
        QTest::newRow("third") << 1.0 / 3.0;
        QTest::newRow("smallest subnormal") << std::numeric_limits<double>::denorm_min();
        QTest::newRow("negative zero") << -0.0;
    }
    void doublesReadBackExactly()
    {
        QFETCH(double, value);
        const double back = JsonDecoder().decode<double>(JsonEncoder().encode(value));
        QVERIFY(std::memcmp(&back, &value, sizeof value) == 0);
    }

    void unencodableValuesFailWithTheirPath()
    {
        const std::vector<Stamp> stamps{{QDateTime::currentDateTimeUtc(), 1, {}, {}, {}},
            {QDateTime::currentDateTimeUtc(), std::nan(""), {}, {}, {}}};
        QCOMPARE(errorText([&] { JsonEncoder().encode(stamps); }),
            "encode invalidValue at <[1].value>: Unable to encode the number nan in JSON.");
        QCOMPARE(errorText([&] { JsonEncoder().encode(QDateTime()); }),
            "encode invalidValue at <root>: Unable to encode an invalid date in JSON.");
    }
};

QTEST_GUILESS_MAIN(JsonTest)
#include "tst_json.moc"
