#include "platform/Json.h"

#include <QElapsedTimer>
#include <QTest>

#include <random>

using namespace kovra;

namespace {

// A catalogue-like record that reaches every kind of decoded value.
struct Record {
    QString id;
    std::optional<QString> name;
    std::optional<int> port;
    std::optional<double> load;
    std::optional<QDateTime> createdAt;
    std::optional<QList<QString>> tags;
    std::optional<std::map<QString, qint64>> limits;
    std::optional<QByteArray> key;
    std::optional<std::vector<Record>> children;

    static Record decode(const JsonDecodingContainer &c)
    {
        return {c.decode<QString>("id"),
                c.decodeIfPresent<QString>("name"),
                c.decodeIfPresent<int>("port"),
                c.decodeIfPresent<double>("load"),
                c.decodeIfPresent<QDateTime>("createdAt"),
                c.decodeIfPresent<QList<QString>>("tags"),
                c.decodeIfPresent<std::map<QString, qint64>>("limits"),
                c.decodeIfPresent<QByteArray>("key"),
                c.decodeIfPresent<std::vector<Record>>("children")};
    }
};

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

class Mutator {
public:
    explicit Mutator(quint32 seed) : m_random(seed) {}

    QByteArray mutate(QByteArray input)
    {
        const int steps = 1 + pick(3);
        for (int i = 0; i < steps; ++i)
            input = step(input);
        return input.left(64 * 1024);
    }

private:
    int pick(int n) { return n <= 0 ? 0 : int(m_random() % quint32(n)); }
    qsizetype at(const QByteArray &b) { return pick(int(b.size()) + 1); }

    QByteArray step(QByteArray b)
    {
        switch (pick(7)) {
        case 0: // flip a bit
            if (!b.isEmpty()) {
                const qsizetype i = pick(int(b.size()));
                b[i] = char(b[i] ^ (1 << pick(8)));
            }
            return b;
        case 1: // a random byte
            return b.insert(at(b), char(pick(256)));
        case 2: // a token
            return b.insert(at(b), kTokens.at(pick(int(kTokens.size()))));
        case 3: { // cut a range out
            const qsizetype from = at(b);
            return b.remove(from, pick(int(b.size() - from) + 1));
        }
        case 4: { // repeat a range
            const qsizetype from = at(b);
            const QByteArray range = b.mid(from, pick(64));
            return b.insert(at(b), range);
        }
        case 5: // truncate
            return b.left(at(b));
        default: { // splice in part of another seed
            const QByteArray &other = kSeeds.at(pick(int(kSeeds.size())));
            const qsizetype from = at(other);
            return b.insert(at(b), other.mid(from, pick(int(other.size() - from) + 1)));
        }
        }
    }

    std::mt19937 m_random;
};

enum class Outcome { Parsed, Refused, Escaped };

// Parses and decodes one input. Every input must either parse or be refused with our
// typed error; what parses must write back to text that parses to the same value, and
// decoding it into records must succeed or fail with our typed error.
Outcome check(const QByteArray &input, QString *why)
{
    const JsonDecoder decoder{KeyDecoding::convertFromSnakeCase, DateDecoding::iso8601};
    try {
        const JsonValue value = JsonValue::parse(input);
        if (JsonValue::parse(value.toJson()) != value) {
            *why = QStringLiteral("round trip changed the value");
            return Outcome::Escaped;
        }
        try {
            if (value.type() == JsonValue::Type::Array)
                decoder.decode<std::vector<Record>>(value);
            else
                decoder.decode<Record>(value);
        } catch (const JsonDecodingError &) {
        }
        return Outcome::Parsed;
    } catch (const JsonDecodingError &e) {
        if (e.kind() != JsonDecodingError::Kind::dataCorrupted || !e.codingPath().isEmpty()) {
            *why = QStringLiteral("parse error of the wrong kind: ") + e.description();
            return Outcome::Escaped;
        }
        return Outcome::Refused;
    } catch (const std::exception &e) {
        *why = QStringLiteral("untyped error: ") + QString::fromUtf8(e.what());
        return Outcome::Escaped;
    }
}

} // namespace

class JsonFuzzTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void seedsParse()
    {
        QString why;
        for (const QByteArray &seed : kSeeds)
            QVERIFY2(check(seed, &why) == Outcome::Parsed, seed.constData());
    }

    // A few thousand mutations of the seeds, the same ones every run.
    void mutatedInputsParseOrAreRefused()
    {
        Mutator mutator(0x6b6f7672);
        QElapsedTimer elapsed;
        elapsed.start();
        int parsed = 0, refused = 0, tried = 0;
        for (; tried < 4000 && elapsed.elapsed() < 30'000; ++tried) {
            const QByteArray input = mutator.mutate(kSeeds.at(tried % kSeeds.size()));
            QString why;
            switch (check(input, &why)) {
            case Outcome::Parsed:
                ++parsed;
                break;
            case Outcome::Refused:
                ++refused;
                break;
            case Outcome::Escaped:
                QFAIL(qPrintable(why + QStringLiteral(" for input ") + QString::fromLatin1(input.toPercentEncoding())));
            }
        }
        QVERIFY2(tried >= 1000, qPrintable(QString::number(tried)));
        // Both ways are explored.
        QVERIFY2(parsed > tried / 20 && refused > tried / 20, qPrintable(QStringLiteral("%1/%2").arg(parsed).arg(refused)));
    }
};

QTEST_GUILESS_MAIN(JsonFuzzTest)
#include "tst_json_fuzz.moc"
