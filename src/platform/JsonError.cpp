#include "platform/JsonError.h"

#include <QStringList>

namespace kovra {

QString codingPathText(const JsonCodingPath &path)
{
    if (path.isEmpty())
        return QStringLiteral("root");
    QStringList pieces;
    pieces.reserve(path.size());
    for (const JsonCodingKey &key : path) {
        if (const auto i = key.intValue())
            pieces.append(u'[' + QString::number(*i) + u']');
        else
            pieces.append(key.stringValue());
    }
    return pieces.join(u'.');
}

QString jsonTypeName(JsonType type)
{
    switch (type) {
    case JsonType::String: return QStringLiteral("String");
    case JsonType::Bool: return QStringLiteral("Bool");
    case JsonType::Int: return QStringLiteral("Int");
    case JsonType::Int64: return QStringLiteral("Int64");
    case JsonType::UInt64: return QStringLiteral("UInt64");
    case JsonType::Double: return QStringLiteral("Double");
    case JsonType::Date: return QStringLiteral("Date");
    case JsonType::Data: return QStringLiteral("Data");
    case JsonType::Array: return QStringLiteral("Array");
    case JsonType::Dictionary: return QStringLiteral("Dictionary");
    }
    return {};
}

JsonDecodingError::JsonDecodingError(Kind kind, JsonType type, QString key, JsonCodingPath path, QString debug)
    : m_kind(kind), m_type(type), m_key(std::move(key)), m_path(std::move(path)), m_debug(std::move(debug))
{
}

JsonDecodingError JsonDecodingError::typeMismatch(JsonType type, JsonCodingPath path, QString debugDescription)
{
    return {Kind::typeMismatch, type, {}, std::move(path), std::move(debugDescription)};
}

JsonDecodingError JsonDecodingError::valueNotFound(JsonType type, JsonCodingPath path, QString debugDescription)
{
    return {Kind::valueNotFound, type, {}, std::move(path), std::move(debugDescription)};
}

JsonDecodingError JsonDecodingError::keyNotFound(QString key, JsonCodingPath path)
{
    QString debug = QStringLiteral("No value associated with key \"%1\".").arg(key);
    return {Kind::keyNotFound, JsonType::String, std::move(key), std::move(path), std::move(debug)};
}

JsonDecodingError JsonDecodingError::dataCorrupted(JsonCodingPath path, QString debugDescription)
{
    return {Kind::dataCorrupted, JsonType::String, {}, std::move(path), std::move(debugDescription)};
}

QString JsonDecodingError::description() const
{
    const QString tail = QStringLiteral(" at <") + codingPathText(m_path) + QStringLiteral(">: ") + m_debug;
    switch (m_kind) {
    case Kind::typeMismatch: return QStringLiteral("decode typeMismatch ") + jsonTypeName(m_type) + tail;
    case Kind::valueNotFound: return QStringLiteral("decode valueNotFound ") + jsonTypeName(m_type) + tail;
    case Kind::keyNotFound: return QStringLiteral("decode keyNotFound ") + m_key + tail;
    case Kind::dataCorrupted: return QStringLiteral("decode dataCorrupted") + tail;
    }
    return {};
}

QString JsonEncodingError::description() const
{
    return QStringLiteral("encode invalidValue at <") + codingPathText(m_path) + QStringLiteral(">: ") + m_debug;
}

} // namespace kovra
