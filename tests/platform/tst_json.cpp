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
// table can cover every scalar type.
QString decodeAs(const QString &type, const QByteArray &json, const JsonDecoder &decoder = {})
{
    const auto precise = [](double d) { return QString::number(d, 'g', 17); };
    if (type == u"Int")
        return QString::number(decoder.decode<int>(json));
    if (type == u"Int64")
        return QString::number(decoder.decode<qint64>(json));
    if (type == u"long")
        return QString::number(decoder.decode<long>(json));
    if (type == u"UInt64")
        return QString::number(decoder.decode<quint64>(json));
    if (type == u"Double")
        return precise(decoder.decode<double>(json));
    if (type == u"Bool")
        return decoder.decode<bool>(json) ? QStringLiteral("true") : QStringLiteral("false");
    if (type == u"String")
        return decoder.decode<QString>(json);
    if (type == u"Date")
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
    void parse_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("compact"); // empty: must be refused
        QTest::newRow("object") << QByteArray(" {\"a\" : 1 ,\n\"b\":[true,false,null],\t\"c\":\"x\"}\r\n")
                                << QByteArray("{\"a\":1,\"b\":[true,false,null],\"c\":\"x\"}");
        QTest::newRow("empty containers") << QByteArray("[{},[]]") << QByteArray("[{},[]]");
        QTest::newRow("scalar string") << QByteArray("\"s\"") << QByteArray("\"s\"");
        QTest::newRow("number literal kept") << QByteArray("-0.50e+10") << QByteArray("-0.50e+10");
        QTest::newRow("big integer kept") << QByteArray("123456789012345678901234567890")
                                          << QByteArray("123456789012345678901234567890");
        QTest::newRow("escapes") << QByteArray("\"\\\"\\\\\\/\\b\\f\\n\\r\\t\\u00e9\\ud83d\\ude00\\u0001\"")
                                 << QByteArray("\"\\\"\\\\/\\b\\f\\n\\r\\t\xc3\xa9\xf0\x9f\x98\x80\\u0001\"");
        QTest::newRow("raw utf-8") << QByteArray("\"\xd0\x9a\xe2\x82\xac\xf4\x8f\xbf\xbf\"")
                                   << QByteArray("\"\xd0\x9a\xe2\x82\xac\xf4\x8f\xbf\xbf\"");
        QTest::newRow("duplicate keys kept") << QByteArray("{\"a\":1,\"a\":2}") << QByteArray("{\"a\":1,\"a\":2}");
        QTest::newRow("depth at the cap") << nested(JsonValue::maxDepth) << nested(JsonValue::maxDepth);

        const QByteArray refused;
        QTest::newRow("empty") << QByteArray() << refused;
        QTest::newRow("blank") << QByteArray("  ") << refused;
        QTest::newRow("unclosed object") << QByteArray("{") << refused;
        QTest::newRow("trailing comma array") << QByteArray("[1,]") << refused;
        QTest::newRow("trailing comma object") << QByteArray("{\"a\":1,}") << refused;
        QTest::newRow("missing colon") << QByteArray("{\"a\" 1}") << refused;
        QTest::newRow("number key") << QByteArray("{1:2}") << refused;
        QTest::newRow("missing comma") << QByteArray("[1 2]") << refused;
        QTest::newRow("leading zero") << QByteArray("01") << refused;
        QTest::newRow("bare fraction") << QByteArray("1.") << refused;
        QTest::newRow("leading dot") << QByteArray(".5") << refused;
        QTest::newRow("plus sign") << QByteArray("+1") << refused;
        QTest::newRow("lone minus") << QByteArray("-") << refused;
        QTest::newRow("empty exponent") << QByteArray("1e") << refused;
        QTest::newRow("NaN") << QByteArray("NaN") << refused;
        QTest::newRow("Infinity") << QByteArray("-Infinity") << refused;
        QTest::newRow("short literal") << QByteArray("tru") << refused;
        QTest::newRow("single quotes") << QByteArray("'a'") << refused;
        QTest::newRow("trailing garbage") << QByteArray("[1] x") << refused;
        QTest::newRow("two values") << QByteArray("{} {}") << refused;
        QTest::newRow("trailing nul") << QByteArray("1\0", 2) << refused;
        QTest::newRow("unterminated string") << QByteArray("\"a") << refused;
        QTest::newRow("unknown escape") << QByteArray("\"\\x\"") << refused;
        QTest::newRow("bad hex escape") << QByteArray("\"\\u12G4\"") << refused;
        QTest::newRow("short hex escape") << QByteArray("\"\\u12\"") << refused;
        QTest::newRow("lone high surrogate") << QByteArray("\"\\ud800\"") << refused;
        QTest::newRow("lone low surrogate") << QByteArray("\"\\udc00\"") << refused;
        QTest::newRow("high surrogate then letter") << QByteArray("\"\\ud800\\u0041\"") << refused;
        QTest::newRow("raw control character") << QByteArray("\"a\tb\"") << refused;
        QTest::newRow("invalid utf-8 byte") << QByteArray("\"\xff\"") << refused;
        QTest::newRow("overlong utf-8") << QByteArray("\"\xc0\xaf\"") << refused;
        QTest::newRow("overlong 3-byte utf-8") << QByteArray("\"\xe0\x80\xaf\"") << refused;
        QTest::newRow("utf-8 surrogate") << QByteArray("\"\xed\xa0\x80\"") << refused;
        QTest::newRow("truncated utf-8") << QByteArray("\"\xe2\x82\"") << refused;
        QTest::newRow("utf-8 above U+10FFFF") << QByteArray("\"\xf4\x90\x80\x80\"") << refused;
        QTest::newRow("byte order mark") << QByteArray("\xef\xbb\xbf{}") << refused;
        QTest::newRow("depth over the cap") << nested(JsonValue::maxDepth + 1) << refused;
        QTest::newRow("hostile depth") << QByteArray(1'000'000, '[') << refused;
        QTest::newRow("hostile object depth") << QByteArray(500'000, '{').replace("{", "{\"a\":") << refused;
    }
    void parse()
    {
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, compact);
        if (!compact.isEmpty()) {
            QCOMPARE(JsonValue::parse(input).toJson(), compact);
            return;
        }
        try {
            JsonValue::parse(input);
            QFAIL("accepted");
        } catch (const JsonDecodingError &e) {
            QCOMPARE(e.kind(), JsonDecodingError::Kind::dataCorrupted);
            QVERIFY(e.codingPath().isEmpty());
            QVERIFY2(e.debugDescription().startsWith(u"The given data was not valid JSON. "),
                qPrintable(e.debugDescription()));
        }
    }

    void parseErrorNamesThePlace_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("detail");
        QTest::newRow("end") << QByteArray("[1,") << "Unexpected end of data.";
        QTest::newRow("character") << QByteArray("[1,]") << "Unexpected character ']' at offset 3.";
        QTest::newRow("byte") << QByteArray("[\x01]") << "Unexpected byte 0x01 at offset 1.";
        QTest::newRow("garbage") << QByteArray("{} x") << "Unexpected text after the value at offset 3.";
        QTest::newRow("escape") << QByteArray("[\"ab\\q\"]") << "Invalid escape sequence at offset 4.";
        QTest::newRow("surrogate") << QByteArray("\"a\\udc00\"") << "Unpaired surrogate escape at offset 2.";
        QTest::newRow("utf-8") << QByteArray("\"ab\xc3(\"") << "Invalid UTF-8 at offset 3.";
        QTest::newRow("depth") << nested(300) << "Nesting deeper than 256 levels at offset 256.";
    }
    void parseErrorNamesThePlace()
    {
        QFETCH(QByteArray, input);
        QFETCH(QString, detail);
        QCOMPARE(errorText([&] { JsonValue::parse(input); }),
            "decode dataCorrupted at <root>: The given data was not valid JSON. " + detail);
    }

    void snakeCase_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("converted");
        QTest::newRow("two words") << "region_id" << "regionId";
        QTest::newRow("three words") << "data_limit_bytes" << "dataLimitBytes";
        QTest::newRow("upper-case word") << "invoice_URL" << "invoiceUrl";
        QTest::newRow("all capitals") << "ALL_CAPS_KEY" << "allCapsKey";
        QTest::newRow("underscores kept at both ends") << "_a_b_" << "_aB_";
        QTest::newRow("leading underscore only") << "_private" << "_private";
        QTest::newRow("trailing underscore only") << "trailing_" << "trailing_";
        QTest::newRow("doubled underscore") << "a__b" << "aB";
        QTest::newRow("digit word") << "x_1" << "x1";
        QTest::newRow("already camel case") << "regionId" << "regionId";
        QTest::newRow("one capitalised word") << "URL" << "URL";
        QTest::newRow("only underscores") << "__" << "__";
        QTest::newRow("empty") << "" << "";
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
        QTest::newRow("Int max") << "Int" << QByteArray("2147483647") << "2147483647";
        QTest::newRow("Int min") << "Int" << QByteArray("-2147483648") << "-2147483648";
        QTest::newRow("Int over") << "Int" << QByteArray("2147483648") << notFit("2147483648", "Int");
        QTest::newRow("Int fraction") << "Int" << QByteArray("1.5") << notFit("1.5", "Int");
        QTest::newRow("Int whole fraction") << "Int" << QByteArray("1.0") << "1";
        QTest::newRow("Int exponent") << "Int" << QByteArray("1e2") << "100";
        QTest::newRow("Int exponent over") << "Int" << QByteArray("3e9") << notFit("3e9", "Int");
        QTest::newRow("Int negative zero") << "Int" << QByteArray("-0") << "0";
        QTest::newRow("Int huge") << "Int" << QByteArray("1e400") << notFit("1e400", "Int");
        QTest::newRow("Int64 max") << "Int64" << QByteArray("9223372036854775807") << "9223372036854775807";
        QTest::newRow("Int64 min") << "Int64" << QByteArray("-9223372036854775808") << "-9223372036854775808";
        QTest::newRow("Int64 over")
            << "Int64" << QByteArray("9223372036854775808") << notFit("9223372036854775808", "Int64");
        QTest::newRow("Int64 under")
            << "Int64" << QByteArray("-9223372036854775809") << notFit("-9223372036854775809", "Int64");
        QTest::newRow("Int64 2^53+1 exact") << "Int64" << QByteArray("9007199254740993") << "9007199254740993";
        QTest::newRow("Int64 2^63 by exponent") << "Int64" << QByteArray("9.3e18") << notFit("9.3e18", "Int64");
        QTest::newRow("long is Int64") << "long" << QByteArray("0.5") << notFit("0.5", "Int64");
        QTest::newRow("UInt64 max") << "UInt64" << QByteArray("18446744073709551615") << "18446744073709551615";
        QTest::newRow("UInt64 over")
            << "UInt64" << QByteArray("18446744073709551616") << notFit("18446744073709551616", "UInt64");
        QTest::newRow("UInt64 negative") << "UInt64" << QByteArray("-1") << notFit("-1", "UInt64");
        QTest::newRow("UInt64 negative zero") << "UInt64" << QByteArray("-0") << "0";
        QTest::newRow("UInt64 2^53+1 exact") << "UInt64" << QByteArray("9007199254740993") << "9007199254740993";
        QTest::newRow("UInt64 exponent") << "UInt64" << QByteArray("1e19") << "10000000000000000000";
        QTest::newRow("Double") << "Double" << QByteArray("0.1") << "0.10000000000000001";
        QTest::newRow("Double huge") << "Double" << QByteArray("1e400") << notFit("1e400", "Double");
        QTest::newRow("Double from string") << "Double" << QByteArray("\"1\"")
            << "decode typeMismatch Double at <root>: Expected to decode Double but found a string instead.";
        QTest::newRow("Bool") << "Bool" << QByteArray("false") << "false";
        QTest::newRow("Bool from number") << "Bool" << QByteArray("1")
            << "decode typeMismatch Bool at <root>: Expected to decode Bool but found a number instead.";
        QTest::newRow("Bool from string") << "Bool" << QByteArray("\"true\"")
            << "decode typeMismatch Bool at <root>: Expected to decode Bool but found a string instead.";
        QTest::newRow("String from number") << "String" << QByteArray("1")
            << "decode typeMismatch String at <root>: Expected to decode String but found a number instead.";
        QTest::newRow("String from array") << "String" << QByteArray("[]")
            << "decode typeMismatch String at <root>: Expected to decode String but found an array instead.";
        QTest::newRow("String from null") << "String" << QByteArray("null")
            << "decode valueNotFound String at <root>: Expected String value but found null instead.";
        QTest::newRow("Int from bool") << "Int" << QByteArray("true")
            << "decode typeMismatch Int at <root>: Expected to decode Int but found a bool instead.";
        QTest::newRow("Data") << "Data" << QByteArray("\"aGk=\"") << "hi";
        QTest::newRow("Data not base64") << "Data" << QByteArray("\"a*\"")
            << "decode dataCorrupted at <root>: Encountered Data is not valid Base64.";
    }
    void scalars()
    {
        QFETCH(QString, type);
        QFETCH(QByteArray, json);
        QFETCH(QString, expected);
        QCOMPARE(outcome([&] { return decodeAs(type, json); }), expected);
    }

    void dates_data()
    {
        QTest::addColumn<bool>("iso");
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("expected"); // UTC time, or the error text
        const QString notIso =
            QStringLiteral("decode dataCorrupted at <root>: Expected date string to be ISO8601-formatted.");
        QTest::newRow("iso Z") << true << QByteArray("\"2024-01-02T03:04:05Z\"") << "2024-01-02T03:04:05.000Z";
        QTest::newRow("iso offset") << true << QByteArray("\"2024-01-02T03:04:05+03:00\"") << "2024-01-02T00:04:05.000Z";
        QTest::newRow("iso compact offset") << true << QByteArray("\"2024-01-02T03:04:05-0130\"") << "2024-01-02T04:34:05.000Z";
        QTest::newRow("iso fraction") << true << QByteArray("\"2024-01-02T03:04:05.123Z\"") << notIso;
        QTest::newRow("iso no zone") << true << QByteArray("\"2024-01-02T03:04:05\"") << notIso;
        QTest::newRow("iso space") << true << QByteArray("\"2024-01-02 03:04:05Z\"") << notIso;
        QTest::newRow("iso no such day") << true << QByteArray("\"2024-02-30T00:00:00Z\"") << notIso;
        QTest::newRow("iso hour 24") << true << QByteArray("\"2024-01-02T24:00:00Z\"") << notIso;
        QTest::newRow("iso trailing text") << true << QByteArray("\"2024-01-02T03:04:05Zx\"") << notIso;
        QTest::newRow("iso number") << true << QByteArray("0")
            << "decode typeMismatch Date at <root>: Expected to decode Date but found a number instead.";
        QTest::newRow("seconds origin") << false << QByteArray("0") << "2001-01-01T00:00:00.000Z";
        QTest::newRow("seconds unix epoch") << false << QByteArray("-978307200") << "1970-01-01T00:00:00.000Z";
        QTest::newRow("seconds fraction") << false << QByteArray("1.5") << "2001-01-01T00:00:01.500Z";
        QTest::newRow("seconds string") << false << QByteArray("\"2024-01-02T03:04:05Z\"")
            << "decode typeMismatch Date at <root>: Expected to decode Date but found a string instead.";
        QTest::newRow("seconds far out") << false << QByteArray("1e300")
            << "decode dataCorrupted at <root>: Parsed JSON number <1e300> does not fit in Date.";
    }
    void dates()
    {
        QFETCH(bool, iso);
        QFETCH(QByteArray, json);
        QFETCH(QString, expected);
        const JsonDecoder decoder{KeyDecoding::useDefaultKeys,
            iso ? DateDecoding::iso8601 : DateDecoding::secondsSince2001};
        QCOMPARE(outcome([&] { return decodeAs(QStringLiteral("Date"), json, decoder); }), expected);
    }

    void recordErrors_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("expected");
        QTest::newRow("key missing at root") << QByteArray("{\"items\":[]}")
            << "decode keyNotFound regionId at <root>: No value associated with key \"regionId\".";
        QTest::newRow("key missing in element") << QByteArray("{\"region_id\":\"x\",\"items\":[{\"name\":\"a\"},{}]}")
            << "decode keyNotFound name at <items.[1]>: No value associated with key \"name\".";
        QTest::newRow("wrong type in element") << QByteArray("{\"region_id\":\"x\",\"items\":[{\"name\":5}]}")
            << "decode typeMismatch String at <items.[0].name>: Expected to decode String but found a number instead.";
        QTest::newRow("null required") << QByteArray("{\"region_id\":\"x\",\"items\":[{\"name\":null}]}")
            << "decode valueNotFound String at <items.[0].name>: Expected String value but found null instead.";
        QTest::newRow("optional of wrong type") << QByteArray("{\"region_id\":\"x\",\"items\":[{\"name\":\"a\",\"count\":\"1\"}]}")
            << "decode typeMismatch Int64 at <items.[0].count>: Expected to decode Int64 but found a string instead.";
        QTest::newRow("optional with fraction") << QByteArray("{\"region_id\":\"x\",\"items\":[{\"name\":\"a\",\"count\":1.5}]}")
            << "decode dataCorrupted at <items.[0].count>: Parsed JSON number <1.5> does not fit in Int64.";
        QTest::newRow("array expected") << QByteArray("{\"region_id\":\"x\",\"items\":{}}")
            << "decode typeMismatch Array at <items>: Expected to decode Array but found a dictionary instead.";
        QTest::newRow("object expected") << QByteArray("{\"region_id\":\"x\",\"items\":[1]}")
            << "decode typeMismatch Dictionary at <items.[0]>: Expected to decode Dictionary but found a number instead.";
        QTest::newRow("null element") << QByteArray("{\"region_id\":\"x\",\"items\":[null]}")
            << "decode valueNotFound Dictionary at <items.[0]>: Expected Dictionary value but found null instead.";
        QTest::newRow("map member keeps its key") << QByteArray("{\"region_id\":\"x\",\"items\":[],\"by_plan\":{\"month_3\":{\"name\":1}}}")
            << "decode typeMismatch String at <byPlan.month_3.name>: Expected to decode String but found a number instead.";
        QTest::newRow("record refuses a value") << QByteArray("{\"region_id\":\"bad\",\"items\":[]}")
            << "decode dataCorrupted at <regionId>: Region id is reserved.";
        QTest::newRow("top level not an object") << QByteArray("[]")
            << "decode typeMismatch Dictionary at <root>: Expected to decode Dictionary but found an array instead.";
        QTest::newRow("camel case key needs no conversion") << QByteArray("{\"regionId\":\"x\",\"items\":[{\"name\":\"a\"}]}")
            << "(no error)";
    }
    void recordErrors()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, expected);
        QCOMPARE(errorText([&] { apiDecoder.decode<Catalog>(json); }), expected);
    }

    void errorCarriesKindAndPath()
    {
        try {
            apiDecoder.decode<std::vector<Catalog>>("[{\"region_id\":\"x\",\"items\":[]},{\"items\":[{\"name\":\"a\"},{}]}]");
            QFAIL("decoded");
        } catch (const JsonDecodingError &e) {
            QCOMPARE(e.kind(), JsonDecodingError::Kind::keyNotFound);
            QCOMPARE(e.key(), QStringLiteral("regionId"));
            QCOMPARE(e.codingPath(), JsonCodingPath{JsonCodingKey::index(1)});
            QCOMPARE(e.codingPath().first().intValue(), std::optional<int>(1));
        }
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

    void presenceOfKeys()
    {
        const JsonValue object = JsonValue::parse("{\"a\":null,\"b_c\":1,\"a\":2}");
        const JsonDecoder decoder{KeyDecoding::convertFromSnakeCase};
        const JsonDecodingContainer c(object, decoder, nullptr);
        QVERIFY(c.contains("a"));
        QVERIFY(c.contains("bC"));
        QVERIFY(!c.contains("b_c"));
        QVERIFY(!c.contains("x"));
        QVERIFY(!c.decodeIfPresent<int>("a")); // the first "a" wins, and it is null
        QVERIFY(!c.decodeIfPresent<int>("x"));
        QCOMPARE(c.decode<int>("bC"), 1);
        QCOMPARE(c.allKeys(), (QStringList{"a", "bC", "a"}));
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

    void encodesMapsAndNestedRecords()
    {
        const QMap<QString, Item> plans{{"b", {"two", 2}}, {"a", {"one", std::nullopt}}};
        const QByteArray bytes = JsonEncoder().encode(plans);
        QCOMPARE(bytes, QByteArray("{\"a\":{\"name\":\"one\"},\"b\":{\"name\":\"two\",\"count\":2}}"));
        QCOMPARE((JsonDecoder().decode<QMap<QString, Item>>(bytes)), plans);
    }

    void doublesReadBackExactly_data()
    {
        QTest::addColumn<double>("value");
        QTest::newRow("tenth") << 0.1;
        QTest::newRow("third") << 1.0 / 3.0;
        QTest::newRow("whole") << 746000000.0;
        QTest::newRow("large") << 1e21;
        QTest::newRow("max") << std::numeric_limits<double>::max();
        QTest::newRow("smallest subnormal") << std::numeric_limits<double>::denorm_min();
        QTest::newRow("negative zero") << -0.0;
        QTest::newRow("date-like") << 757382400.123;
    }
    void doublesReadBackExactly()
    {
        QFETCH(double, value);
        const double back = JsonDecoder().decode<double>(JsonEncoder().encode(value));
        QVERIFY(std::memcmp(&back, &value, sizeof value) == 0);
    }

    void datesRoundTripToTheMillisecond()
    {
        const QDateTime at = QDateTime::fromMSecsSinceEpoch(1'717'000'000'123LL, Qt::UTC);
        QCOMPARE(JsonDecoder().decode<QDateTime>(JsonEncoder().encode(at)), at);
        const QDateTime early = QDateTime::fromMSecsSinceEpoch(-1'000'000'000'007LL, Qt::UTC);
        QCOMPARE(JsonDecoder().decode<QDateTime>(JsonEncoder().encode(early)), early);
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
