#pragma once

#include "platform/Error.h"

#include <QList>
#include <QString>

#include <optional>

namespace kovra {

// One step of a coding path: an object key or an array position.
class JsonCodingKey {
public:
    static JsonCodingKey key(QString name) { return JsonCodingKey(std::move(name), std::nullopt); }
    static JsonCodingKey index(int position) { return JsonCodingKey(QString::number(position), position); }

    const QString &stringValue() const { return m_string; }
    std::optional<int> intValue() const { return m_int; }
    bool operator==(const JsonCodingKey &) const = default;

private:
    JsonCodingKey(QString s, std::optional<int> i) : m_string(std::move(s)), m_int(i) {}
    QString m_string;
    std::optional<int> m_int;
};

using JsonCodingPath = QList<JsonCodingKey>;

// The path from the root to a value: array positions as "[3]", keys as their
// text, joined with "."; the empty path is "root" ("regions.[3].name").
QString codingPathText(const JsonCodingPath &path);

// The value types a decoder names in its errors.
enum class JsonType { String, Bool, Int, Int64, UInt64, Double, Date, Data, Array, Dictionary };
QString jsonTypeName(JsonType type);

// A JSON text that does not decode into the requested value.
class JsonDecodingError : public Error {
public:
    enum class Kind { typeMismatch, valueNotFound, keyNotFound, dataCorrupted };

    // A value of another JSON type than `type` needs ("Expected to decode ...").
    static JsonDecodingError typeMismatch(JsonType type, JsonCodingPath path, QString debugDescription);
    // null where a `type` value is required.
    static JsonDecodingError valueNotFound(JsonType type, JsonCodingPath path, QString debugDescription);
    // `key` is missing from the object at `path`.
    static JsonDecodingError keyNotFound(QString key, JsonCodingPath path);
    // The text is not JSON, or a value is of the right type but unusable.
    static JsonDecodingError dataCorrupted(JsonCodingPath path, QString debugDescription);

    Kind kind() const { return m_kind; }
    // The expected type (typeMismatch and valueNotFound only).
    JsonType type() const { return m_type; }
    // The missing key (keyNotFound only).
    const QString &key() const { return m_key; }
    const JsonCodingPath &codingPath() const { return m_path; }
    const QString &debugDescription() const { return m_debug; }

    // "decode typeMismatch Int at <regions.[3].id>: Expected to decode Int but
    // found a string instead." and likewise for the other kinds (see the .cpp).
    QString description() const override;

private:
    JsonDecodingError(Kind kind, JsonType type, QString key, JsonCodingPath path, QString debug);
    Kind m_kind;
    JsonType m_type;
    QString m_key;
    JsonCodingPath m_path;
    QString m_debug;
};

// A value that JSON cannot represent (a non-finite number, an invalid date).
class JsonEncodingError : public Error {
public:
    JsonEncodingError(JsonCodingPath path, QString debugDescription)
        : m_path(std::move(path)), m_debug(std::move(debugDescription)) {}
    const JsonCodingPath &codingPath() const { return m_path; }
    const QString &debugDescription() const { return m_debug; }
    // "encode invalidValue at <path>: <debug description>"
    QString description() const override;

private:
    JsonCodingPath m_path;
    QString m_debug;
};

} // namespace kovra
