#pragma once

#include <QByteArray>
#include <QString>

#include <utility>
#include <variant>
#include <vector>

namespace kovra {

// One JSON value as parsed or about to be written. Numbers keep their literal
// text, so integers beyond 2^53 survive exactly; object members keep their order.
class JsonValue {
public:
    enum class Type { Null, Bool, Number, String, Array, Object };
    using Array = std::vector<JsonValue>;
    using Member = std::pair<QString, JsonValue>;
    using Object = std::vector<Member>;

    // The deepest nesting of arrays and objects the parser accepts; deeper input
    // is refused as invalid rather than risking the stack.
    static constexpr int maxDepth = 256;

    JsonValue() = default;
    explicit JsonValue(bool b) : m_value(b) {}
    explicit JsonValue(QString s) : m_value(std::move(s)) {}
    explicit JsonValue(Array a) : m_value(std::move(a)) {}
    explicit JsonValue(Object o) : m_value(std::move(o)) {}
    // A number from its JSON literal text (not checked here).
    static JsonValue number(QByteArray literal);

    // Strict UTF-8 JSON text (RFC 8259; any value at the top level, nothing but
    // whitespace after it). Throws JsonDecodingError (dataCorrupted, empty path).
    static JsonValue parse(const QByteArray &utf8);

    Type type() const { return Type(m_value.index()); }
    bool isNull() const { return type() == Type::Null; }

    // Accessors for the matching type; calling one for another type is a
    // programming error (std::bad_variant_access).
    bool toBool() const { return std::get<bool>(m_value); }
    const QByteArray &numberLiteral() const { return std::get<NumberText>(m_value).literal; }
    const QString &string() const { return std::get<QString>(m_value); }
    const Array &array() const { return std::get<Array>(m_value); }
    const Object &object() const { return std::get<Object>(m_value); }
    Array &array() { return std::get<Array>(m_value); }
    Object &object() { return std::get<Object>(m_value); }

    // The first member with this exact key, or null when this is no object or
    // has no such member.
    const JsonValue *find(QStringView key) const;

    // Compact UTF-8 text; object members in their stored order.
    QByteArray toJson() const;

    bool operator==(const JsonValue &other) const = default;

private:
    struct NumberText {
        QByteArray literal;
        bool operator==(const NumberText &) const = default;
    };
    std::variant<std::monostate, bool, NumberText, QString, Array, Object> m_value;
};

} // namespace kovra
