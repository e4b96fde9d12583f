#pragma once

// Decoding JSON into records and encoding records as JSON.
//
// A record opts in with two members:
//
//     struct LoginOut {
//         QString accessToken;
//         std::optional<QString> marzbanUsername;
//         bool isNew = false;
//
//         static LoginOut decode(const JsonDecodingContainer &c)
//         {
//             return {c.decode<QString>("accessToken"),
//                     c.decodeIfPresent<QString>("marzbanUsername"),
//                     c.decode<bool>("isNew")};
//         }
//         void encode(JsonEncodingContainer &c) const
//         {
//             c.encode("accessToken", accessToken);
//             c.encodeIfPresent("marzbanUsername", marzbanUsername);
//             c.encode("isNew", isNew);
//         }
//     };
//
//     auto login = JsonDecoder{KeyDecoding::convertFromSnakeCase, DateDecoding::iso8601}
//                      .decode<LoginOut>(body);
//     QByteArray bytes = JsonEncoder().encode(std::vector<Region>{...});
//
// Values: bool, int ("Int", 32-bit), long / long long ("Int64"), unsigned long /
// unsigned long long ("UInt64"), double, QString, QDateTime (a date), QByteArray
// (base64 text), JsonValue (the raw value), records, std::vector / QList of values,
// and std::map / QMap from QString to values (a JSON object; its member names are
// taken as they are, never key-converted, since they are data, not field names).

#include "platform/JsonError.h"
#include "platform/JsonValue.h"

#include <QAnyStringView>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMap>
#include <QStringList>

#include <concepts>
#include <map>
#include <optional>
#include <vector>

namespace kovra {

enum class KeyDecoding {
    useDefaultKeys,       // JSON keys must equal the field names
    convertFromSnakeCase, // JSON keys are converted by convertFromSnakeCase() before matching
};

enum class DateDecoding {
    secondsSince2001, // a number of seconds since 2001-01-01T00:00:00Z (also what the encoder writes)
    iso8601,          // "2024-01-02T03:04:05Z" or with an offset "+03:00"; no fractions
};

// "region_id" -> "regionId", "invoice_URL" -> "invoiceUrl", "_a_b_" -> "_aB_": leading
// and trailing underscores kept, the rest split on "_" (empty pieces dropped), the
// first piece lower-cased, each later one with its first letter upper-cased and the
// rest lower-cased. A key with no inner "_" is returned unchanged.
QString convertFromSnakeCase(const QString &key);

class JsonDecoder;
class JsonDecodingContainer;
class JsonEncodingContainer;

template<class T>
concept JsonDecodableRecord = requires(const JsonDecodingContainer &c) {
    { T::decode(c) } -> std::same_as<T>;
};
template<class T>
concept JsonEncodableRecord = requires(const T &value, JsonEncodingContainer &c) { value.encode(c); };

namespace json_detail {

// One step of the path to the value being coded, kept on the stack and turned
// into a JsonCodingPath only when an error needs it. nullptr is the root.
struct PathNode {
    const PathNode *parent;
    QAnyStringView key;
    qsizetype index; // an array position when >= 0, else `key`
};
JsonCodingPath codingPath(const PathNode *at);
[[noreturn]] void throwWrongType(const JsonValue &value, JsonType expected, const PathNode *at);

void decodeScalar(const JsonValue &v, const JsonDecoder &d, const PathNode *at, bool &out);
void decodeScalar(const JsonValue &v, const JsonDecoder &d, const PathNode *at, int &out);
void decodeScalar(const JsonValue &v, const JsonDecoder &d, const PathNode *at, long &out);
void decodeScalar(const JsonValue &v, const JsonDecoder &d, const PathNode *at, long long &out);
void decodeScalar(const JsonValue &v, const JsonDecoder &d, const PathNode *at, unsigned long &out);
void decodeScalar(const JsonValue &v, const JsonDecoder &d, const PathNode *at, unsigned long long &out);
void decodeScalar(const JsonValue &v, const JsonDecoder &d, const PathNode *at, double &out);
void decodeScalar(const JsonValue &v, const JsonDecoder &d, const PathNode *at, QString &out);
void decodeScalar(const JsonValue &v, const JsonDecoder &d, const PathNode *at, QDateTime &out);
void decodeScalar(const JsonValue &v, const JsonDecoder &d, const PathNode *at, QByteArray &out);
void decodeScalar(const JsonValue &v, const JsonDecoder &d, const PathNode *at, JsonValue &out);

JsonValue encodeScalar(bool v, const PathNode *at);
JsonValue encodeScalar(int v, const PathNode *at);
JsonValue encodeScalar(long v, const PathNode *at);
JsonValue encodeScalar(long long v, const PathNode *at);
JsonValue encodeScalar(unsigned long v, const PathNode *at);
JsonValue encodeScalar(unsigned long long v, const PathNode *at);
JsonValue encodeScalar(double v, const PathNode *at);
JsonValue encodeScalar(const QString &v, const PathNode *at);
JsonValue encodeScalar(const QDateTime &v, const PathNode *at);
JsonValue encodeScalar(const QByteArray &v, const PathNode *at);
JsonValue encodeScalar(const JsonValue &v, const PathNode *at);

template<class T> struct Sequence : std::false_type {};
template<class E> struct Sequence<std::vector<E>> : std::true_type { using Element = E; };
template<class E> struct Sequence<QList<E>> : std::true_type { using Element = E; };

template<class T> struct StringMap : std::false_type {};
template<class E> struct StringMap<std::map<QString, E>> : std::true_type {
    using Element = E;
    static void insert(std::map<QString, E> &m, const QString &k, E &&v) { m.emplace(k, std::move(v)); }
    template<class F> static void forEach(const std::map<QString, E> &m, F f)
    {
        for (const auto &[k, v] : m)
            f(k, v);
    }
};
template<class E> struct StringMap<QMap<QString, E>> : std::true_type {
    using Element = E;
    static void insert(QMap<QString, E> &m, const QString &k, E &&v) { m.insert(k, std::move(v)); }
    template<class F> static void forEach(const QMap<QString, E> &m, F f)
    {
        for (auto it = m.cbegin(); it != m.cend(); ++it)
            f(it.key(), it.value());
    }
};

template<class T> T decodeValue(const JsonValue &v, const JsonDecoder &d, const PathNode *at);
template<class T> JsonValue encodeValue(const T &value, const PathNode *at);

} // namespace json_detail

namespace json_detail {
// The keys converted during one decode: each distinct key is converted once.
class KeyCache {
public:
    const QString &converted(const QString &key);

private:
    QHash<QString, QString> m_converted;
};
} // namespace json_detail

// Options of a decoding and its entry point.
class JsonDecoder {
public:
    KeyDecoding keyDecoding = KeyDecoding::useDefaultKeys;
    DateDecoding dateDecoding = DateDecoding::secondsSince2001;

    JsonDecoder() = default;
    explicit JsonDecoder(KeyDecoding keys, DateDecoding dates = DateDecoding::secondsSince2001)
        : keyDecoding(keys), dateDecoding(dates)
    {
    }

    // Parses `json` and decodes the top-level value as T. Throws JsonDecodingError.
    template<class T>
    T decode(const QByteArray &json) const
    {
        return decode<T>(JsonValue::parse(json));
    }
    template<class T>
    T decode(const JsonValue &root) const
    {
        json_detail::KeyCache keys;
        JsonDecoder pass = *this;
        pass.m_keys = &keys;
        return json_detail::decodeValue<T>(root, pass, nullptr);
    }

    // An object key as records see it (converted when the decoder converts keys).
    QString recordKey(const QString &key) const;

private:
    json_detail::KeyCache *m_keys = nullptr; // during decode() only
};

// The JSON object a record is decoded from. Valid only during the record's decode().
class JsonDecodingContainer {
public:
    // Throws typeMismatch / valueNotFound (Dictionary) when `object` is no object.
    JsonDecodingContainer(const JsonValue &object, const JsonDecoder &decoder, const json_detail::PathNode *at);

    JsonCodingPath codingPath() const { return json_detail::codingPath(m_at); }
    const JsonDecoder &decoder() const { return *m_decoder; }

    // Whether the key is present at all (also when its value is null).
    bool contains(QAnyStringView key) const { return find(key) != nullptr; }
    // The keys as matched (after key conversion), in document order.
    QStringList allKeys() const;

    // The value under `key`; keyNotFound when absent, valueNotFound when null,
    // typeMismatch or dataCorrupted when it is not a usable T.
    template<class T>
    T decode(QAnyStringView key) const
    {
        const json_detail::PathNode node{m_at, key, -1};
        return json_detail::decodeValue<T>(required(key), *m_decoder, &node);
    }

    // None when the key is absent or null; otherwise as decode().
    template<class T>
    std::optional<T> decodeIfPresent(QAnyStringView key) const
    {
        const JsonValue *v = find(key);
        if (!v || v->isNull())
            return std::nullopt;
        const json_detail::PathNode node{m_at, key, -1};
        return json_detail::decodeValue<T>(*v, *m_decoder, &node);
    }

    // Errors a record throws for values it cannot use, at this object or at `key`.
    JsonDecodingError dataCorruptedError(QString debugDescription) const;
    JsonDecodingError dataCorruptedError(QAnyStringView key, QString debugDescription) const;

private:
    const JsonValue *find(QAnyStringView key) const;
    const JsonValue &required(QAnyStringView key) const;

    std::vector<std::pair<QString, const JsonValue *>> m_members; // matched key, value
    const JsonDecoder *m_decoder;
    const json_detail::PathNode *m_at;
};

// The JSON object a record encodes into: keys in the order first written (a key
// written again keeps its place and takes the new value). Dates are written as
// seconds since 2001-01-01T00:00:00Z.
class JsonEncodingContainer {
public:
    JsonEncodingContainer(JsonValue::Object &members, const json_detail::PathNode *at) : m_members(&members), m_at(at) {}

    template<class T>
    void encode(QAnyStringView key, const T &value)
    {
        const json_detail::PathNode node{m_at, key, -1};
        set(key, json_detail::encodeValue(value, &node));
    }
    // Leaves the key out when there is no value.
    template<class T>
    void encodeIfPresent(QAnyStringView key, const std::optional<T> &value)
    {
        if (value)
            encode(key, *value);
    }

private:
    void set(QAnyStringView key, JsonValue value);
    JsonValue::Object *m_members;
    const json_detail::PathNode *m_at;
};

// Compact JSON text of a value; throws JsonEncodingError for a non-finite number
// or an invalid date.
class JsonEncoder {
public:
    template<class T>
    QByteArray encode(const T &value) const
    {
        return json_detail::encodeValue(value, nullptr).toJson();
    }
};

namespace json_detail {

template<class T>
T decodeValue(const JsonValue &v, const JsonDecoder &d, const PathNode *at)
{
    if constexpr (JsonDecodableRecord<T>) {
        return T::decode(JsonDecodingContainer(v, d, at));
    } else if constexpr (Sequence<T>::value) {
        if (v.type() != JsonValue::Type::Array)
            throwWrongType(v, JsonType::Array, at);
        T out;
        out.reserve(v.array().size());
        qsizetype i = 0;
        for (const JsonValue &element : v.array()) {
            const PathNode node{at, {}, i++};
            out.push_back(decodeValue<typename Sequence<T>::Element>(element, d, &node));
        }
        return out;
    } else if constexpr (StringMap<T>::value) {
        if (v.type() != JsonValue::Type::Object)
            throwWrongType(v, JsonType::Dictionary, at);
        T out;
        for (const auto &[key, value] : v.object()) {
            if (out.find(key) != out.end())
                continue; // the first of duplicate keys wins, as for records
            const PathNode node{at, key, -1};
            StringMap<T>::insert(out, key, decodeValue<typename StringMap<T>::Element>(value, d, &node));
        }
        return out;
    } else {
        T out{};
        decodeScalar(v, d, at, out);
        return out;
    }
}

template<class T>
JsonValue encodeValue(const T &value, const PathNode *at)
{
    if constexpr (JsonEncodableRecord<T>) {
        JsonValue::Object members;
        JsonEncodingContainer c(members, at);
        value.encode(c);
        return JsonValue(std::move(members));
    } else if constexpr (Sequence<T>::value) {
        JsonValue::Array out;
        out.reserve(value.size());
        qsizetype i = 0;
        for (const auto &element : value) {
            const PathNode node{at, {}, i++};
            out.push_back(encodeValue(element, &node));
        }
        return JsonValue(std::move(out));
    } else if constexpr (StringMap<T>::value) {
        JsonValue::Object out;
        StringMap<T>::forEach(value, [&](const QString &key, const auto &element) {
            const PathNode node{at, key, -1};
            out.emplace_back(key, encodeValue(element, &node));
        });
        return JsonValue(std::move(out));
    } else {
        return encodeScalar(value, at);
    }
}

} // namespace json_detail

} // namespace kovra
