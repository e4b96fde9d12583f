#include "platform/Json.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <type_traits>

namespace kovra {

namespace {

// 2001-01-01T00:00:00Z in milliseconds since the Unix epoch: the origin of the
// default date form.
constexpr qint64 referenceDateMSecs = 978307200000LL;

QString capitalized(QStringView word)
{
    const qsizetype head = word.size() > 1 && word.at(0).isHighSurrogate() ? 2 : 1;
    return word.left(head).toString().toUpper() + word.mid(head).toString().toLower();
}

QString foundText(const JsonValue &v)
{
    switch (v.type()) {
    case JsonValue::Type::Null: return QStringLiteral("null");
    case JsonValue::Type::Bool: return QStringLiteral("a bool");
    case JsonValue::Type::Number: return QStringLiteral("a number");
    case JsonValue::Type::String: return QStringLiteral("a string");
    case JsonValue::Type::Array: return QStringLiteral("an array");
    case JsonValue::Type::Object: return QStringLiteral("a dictionary");
    }
    return {};
}

[[noreturn]] void throwDoesNotFit(const JsonValue &v, JsonType type, const json_detail::PathNode *at)
{
    throw JsonDecodingError::dataCorrupted(json_detail::codingPath(at),
        QStringLiteral("Parsed JSON number <%1> does not fit in %2.")
            .arg(QString::fromLatin1(v.numberLiteral()), jsonTypeName(type)));
}

const QByteArray &numberOf(const JsonValue &v, JsonType type, const json_detail::PathNode *at)
{
    if (v.type() != JsonValue::Type::Number)
        json_detail::throwWrongType(v, type, at);
    return v.numberLiteral();
}

std::optional<double> parseDouble(const QByteArray &literal)
{
    double d = 0;
    const char *end = literal.constData() + literal.size();
    const auto r = std::from_chars(literal.constData(), end, d);
    if (r.ec != std::errc() || r.ptr != end)
        return std::nullopt;
    return d;
}

// Integers are read from the literal text, so every value of the type is exact;
// a literal with a fraction or exponent must denote a whole number in range.
template<class I>
I decodeInteger(const JsonValue &v, JsonType type, const json_detail::PathNode *at)
{
    const QByteArray &literal = numberOf(v, type, at);
    const bool plain = !literal.contains('.') && !literal.contains('e') && !literal.contains('E');
    if (plain) {
        I out{};
        const char *end = literal.constData() + literal.size();
        const auto r = std::from_chars(literal.constData(), end, out);
        if (r.ec == std::errc() && r.ptr == end)
            return out;
        if (std::is_unsigned_v<I> && literal == "-0")
            return 0;
    } else if (const auto d = parseDouble(literal)) {
        constexpr int bits = std::numeric_limits<I>::digits;
        const double upper = std::ldexp(1.0, bits); // exclusive
        const double lower = std::is_signed_v<I> ? -upper : 0.0;
        if (std::trunc(*d) == *d && *d >= lower && *d < upper)
            return static_cast<I>(*d);
    }
    throwDoesNotFit(v, type, at);
}

std::optional<QDateTime> parseIso8601(const QString &s)
{
    const auto field = [&s](qsizetype pos, qsizetype len, int &out) {
        if (pos + len > s.size())
            return false;
        out = 0;
        for (qsizetype i = pos; i < pos + len; ++i) {
            const char16_t c = s.at(i).unicode();
            if (c < u'0' || c > u'9')
                return false;
            out = out * 10 + (c - u'0');
        }
        return true;
    };
    const auto at = [&s](qsizetype pos, char16_t c) { return pos < s.size() && s.at(pos) == c; };

    int y, mo, d, h, mi, sec;
    if (!field(0, 4, y) || !at(4, u'-') || !field(5, 2, mo) || !at(7, u'-') || !field(8, 2, d) || !at(10, u'T')
        || !field(11, 2, h) || !at(13, u':') || !field(14, 2, mi) || !at(16, u':') || !field(17, 2, sec))
        return std::nullopt;

    int offsetSeconds = 0;
    if (s.size() == 20 && at(19, u'Z')) {
        offsetSeconds = 0;
    } else if (at(19, u'+') || at(19, u'-')) {
        int oh, om;
        const bool colon = s.size() == 25 && at(22, u':') && field(20, 2, oh) && field(23, 2, om);
        const bool compact = s.size() == 24 && field(20, 2, oh) && field(22, 2, om);
        if (!(colon || compact) || oh > 23 || om > 59)
            return std::nullopt;
        offsetSeconds = (oh * 3600 + om * 60) * (at(19, u'-') ? -1 : 1);
    } else {
        return std::nullopt;
    }

    const QDate date(y, mo, d);
    const QTime time(h, mi, sec);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return QDateTime(date, time, Qt::UTC).addSecs(-offsetSeconds);
}

template<class I>
JsonValue encodeInteger(I v)
{
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return JsonValue::number(QByteArray(buf, r.ptr - buf));
}

} // namespace

QString JsonDecoder::recordKey(const QString &key) const
{
    // A key without "_" converts to itself.
    if (keyDecoding != KeyDecoding::convertFromSnakeCase || !key.contains(u'_'))
        return key;
    return m_keys ? m_keys->converted(key) : convertFromSnakeCase(key);
}

QString convertFromSnakeCase(const QString &key)
{
    const qsizetype n = key.size();
    qsizetype first = 0;
    while (first < n && key.at(first) == u'_')
        ++first;
    if (first == n)
        return key;
    qsizetype last = n - 1;
    while (last > first && key.at(last) == u'_')
        --last;

    const auto words = QStringView(key).mid(first, last - first + 1).split(u'_', Qt::SkipEmptyParts);
    if (words.size() == 1)
        return key;
    QString out = key.left(first) + words.first().toString().toLower();
    for (qsizetype i = 1; i < words.size(); ++i)
        out += capitalized(words.at(i));
    return out + key.mid(last + 1);
}

namespace json_detail {

const QString &KeyCache::converted(const QString &key)
{
    auto it = m_converted.constFind(key);
    if (it == m_converted.constEnd())
        it = m_converted.insert(key, convertFromSnakeCase(key));
    return *it;
}

JsonCodingPath codingPath(const PathNode *at)
{
    JsonCodingPath path;
    for (const PathNode *p = at; p; p = p->parent)
        path.prepend(p->index >= 0 ? JsonCodingKey::index(int(p->index)) : JsonCodingKey::key(p->key.toString()));
    return path;
}

void throwWrongType(const JsonValue &value, JsonType expected, const PathNode *at)
{
    const QString name = jsonTypeName(expected);
    if (value.isNull())
        throw JsonDecodingError::valueNotFound(
            expected, codingPath(at), QStringLiteral("Expected %1 value but found null instead.").arg(name));
    throw JsonDecodingError::typeMismatch(expected, codingPath(at),
        QStringLiteral("Expected to decode %1 but found %2 instead.").arg(name, foundText(value)));
}

void decodeScalar(const JsonValue &v, const JsonDecoder &, const PathNode *at, bool &out)
{
    if (v.type() != JsonValue::Type::Bool)
        throwWrongType(v, JsonType::Bool, at);
    out = v.toBool();
}

void decodeScalar(const JsonValue &v, const JsonDecoder &, const PathNode *at, int &out)
{
    out = decodeInteger<int>(v, JsonType::Int, at);
}

void decodeScalar(const JsonValue &v, const JsonDecoder &, const PathNode *at, long &out)
{
    out = decodeInteger<long>(v, JsonType::Int64, at);
}

void decodeScalar(const JsonValue &v, const JsonDecoder &, const PathNode *at, long long &out)
{
    out = decodeInteger<long long>(v, JsonType::Int64, at);
}

void decodeScalar(const JsonValue &v, const JsonDecoder &, const PathNode *at, unsigned long &out)
{
    out = decodeInteger<unsigned long>(v, JsonType::UInt64, at);
}

void decodeScalar(const JsonValue &v, const JsonDecoder &, const PathNode *at, unsigned long long &out)
{
    out = decodeInteger<unsigned long long>(v, JsonType::UInt64, at);
}

void decodeScalar(const JsonValue &v, const JsonDecoder &, const PathNode *at, double &out)
{
    const auto d = parseDouble(numberOf(v, JsonType::Double, at));
    if (!d)
        throwDoesNotFit(v, JsonType::Double, at);
    out = *d;
}

void decodeScalar(const JsonValue &v, const JsonDecoder &, const PathNode *at, QString &out)
{
    if (v.type() != JsonValue::Type::String)
        throwWrongType(v, JsonType::String, at);
    out = v.string();
}

void decodeScalar(const JsonValue &v, const JsonDecoder &d, const PathNode *at, QDateTime &out)
{
    if (d.dateDecoding == DateDecoding::iso8601) {
        if (v.type() != JsonValue::Type::String)
            throwWrongType(v, JsonType::Date, at);
        const auto parsed = parseIso8601(v.string());
        if (!parsed)
            throw JsonDecodingError::dataCorrupted(
                codingPath(at), QStringLiteral("Expected date string to be ISO8601-formatted."));
        out = *parsed;
        return;
    }
    const auto seconds = parseDouble(numberOf(v, JsonType::Date, at));
    // About 300 000 years either way: far beyond any real date, well inside QDateTime.
    if (!seconds || !(std::abs(*seconds) < 1e13))
        throwDoesNotFit(v, JsonType::Date, at);
    out = QDateTime::fromMSecsSinceEpoch(std::llround(*seconds * 1000.0) + referenceDateMSecs, Qt::UTC);
}

void decodeScalar(const JsonValue &v, const JsonDecoder &, const PathNode *at, QByteArray &out)
{
    if (v.type() != JsonValue::Type::String)
        throwWrongType(v, JsonType::Data, at);
    auto decoded = QByteArray::fromBase64Encoding(v.string().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        throw JsonDecodingError::dataCorrupted(codingPath(at), QStringLiteral("Encountered Data is not valid Base64."));
    out = std::move(*decoded);
}

void decodeScalar(const JsonValue &v, const JsonDecoder &, const PathNode *, JsonValue &out)
{
    out = v;
}

JsonValue encodeScalar(bool v, const PathNode *) { return JsonValue(v); }
JsonValue encodeScalar(int v, const PathNode *) { return encodeInteger(v); }
JsonValue encodeScalar(long v, const PathNode *) { return encodeInteger(v); }
JsonValue encodeScalar(long long v, const PathNode *) { return encodeInteger(v); }
JsonValue encodeScalar(unsigned long v, const PathNode *) { return encodeInteger(v); }
JsonValue encodeScalar(unsigned long long v, const PathNode *) { return encodeInteger(v); }
JsonValue encodeScalar(const QString &v, const PathNode *) { return JsonValue(v); }
JsonValue encodeScalar(const QByteArray &v, const PathNode *) { return JsonValue(QString::fromLatin1(v.toBase64())); }
JsonValue encodeScalar(const JsonValue &v, const PathNode *) { return v; }

JsonValue encodeScalar(double v, const PathNode *at)
{
    if (!std::isfinite(v))
        throw JsonEncodingError(codingPath(at), QStringLiteral("Unable to encode the number %1 in JSON.").arg(v));
    // Shortest text that reads back as the same double.
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return JsonValue::number(QByteArray(buf, r.ptr - buf));
}

JsonValue encodeScalar(const QDateTime &v, const PathNode *at)
{
    if (!v.isValid())
        throw JsonEncodingError(codingPath(at), QStringLiteral("Unable to encode an invalid date in JSON."));
    return encodeScalar(double(v.toMSecsSinceEpoch() - referenceDateMSecs) / 1000.0, at);
}

} // namespace json_detail

JsonDecodingContainer::JsonDecodingContainer(
    const JsonValue &object, const JsonDecoder &decoder, const json_detail::PathNode *at)
    : m_decoder(&decoder), m_at(at)
{
    if (object.type() != JsonValue::Type::Object)
        json_detail::throwWrongType(object, JsonType::Dictionary, at);
    m_members.reserve(object.object().size());
    for (const auto &[key, value] : object.object())
        m_members.emplace_back(decoder.recordKey(key), &value);
}

QStringList JsonDecodingContainer::allKeys() const
{
    QStringList keys;
    keys.reserve(qsizetype(m_members.size()));
    for (const auto &member : m_members)
        keys.append(member.first);
    return keys;
}

const JsonValue *JsonDecodingContainer::find(QAnyStringView key) const
{
    // The first of duplicate keys wins.
    for (const auto &[name, value] : m_members) {
        if (QAnyStringView::equal(name, key))
            return value;
    }
    return nullptr;
}

const JsonValue &JsonDecodingContainer::required(QAnyStringView key) const
{
    if (const JsonValue *v = find(key))
        return *v;
    throw JsonDecodingError::keyNotFound(key.toString(), codingPath());
}

JsonDecodingError JsonDecodingContainer::dataCorruptedError(QString debugDescription) const
{
    return JsonDecodingError::dataCorrupted(codingPath(), std::move(debugDescription));
}

JsonDecodingError JsonDecodingContainer::dataCorruptedError(QAnyStringView key, QString debugDescription) const
{
    return JsonDecodingError::dataCorrupted(
        codingPath() << JsonCodingKey::key(key.toString()), std::move(debugDescription));
}

void JsonEncodingContainer::set(QAnyStringView key, JsonValue value)
{
    for (auto &[name, existing] : *m_members) {
        if (QAnyStringView::equal(name, key)) {
            existing = std::move(value);
            return;
        }
    }
    m_members->emplace_back(key.toString(), std::move(value));
}

} // namespace kovra
