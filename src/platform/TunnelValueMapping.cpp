#include "platform/TunnelValueMapping.h"

#include "platform/VPNError.h"

#include <QJsonArray>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace kovra::tunnelvalues {
namespace {
// Every whole number up to this magnitude is exact in a double.
constexpr double kMaxExactInteger = 9007199254740992.0;
} // namespace

QVariant fromJson(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::Bool:
        return QVariant::fromValue(qint64(value.toBool() ? 1 : 0));
    case QJsonValue::Double: {
        const double d = value.toDouble();
        if (std::trunc(d) == d && std::fabs(d) <= kMaxExactInteger)
            return QVariant::fromValue(qint64(d));
        return d;
    }
    case QJsonValue::String:
        return value.toString();
    case QJsonValue::Array: {
        const QJsonArray array = value.toArray();
        if (std::all_of(array.begin(), array.end(), [](const QJsonValue &v) { return v.isString(); })) {
            QStringList list;
            for (const auto &v : array)
                list.append(v.toString());
            return list;
        }
        QVariantList list;
        for (const auto &v : array)
            list.append(fromJson(v));
        return list;
    }
    case QJsonValue::Object: {
        QVariantMap map;
        const QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it)
            map.insert(it.key(), fromJson(it.value()));
        return map;
    }
    default:
        return {};
    }
}

QVariantMap mapFromJson(const QJsonObject &object)
{
    return fromJson(object).toMap();
}

QJsonValue toJson(const QVariant &value, const QString &where)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
        return double(value.toLongLong());
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        return double(value.toULongLong());
    case QMetaType::Float:
    case QMetaType::Double:
        if (std::isfinite(value.toDouble()))
            return value.toDouble();
        break;
    case QMetaType::QString:
        return value.toString();
    case QMetaType::QStringList:
        return QJsonArray::fromStringList(value.toStringList());
    case QMetaType::QVariantList: {
        QJsonArray array;
        for (const auto &v : value.toList())
            array.append(toJson(v, where));
        return array;
    }
    case QMetaType::QVariantMap: {
        QJsonObject object;
        const QVariantMap map = value.toMap();
        for (auto it = map.begin(); it != map.end(); ++it)
            object.insert(it.key(), toJson(it.value(), where + QLatin1Char('.') + it.key()));
        return object;
    }
    default:
        break;
    }
    throw VPNError(VPNError::ConfigurationInvalid,
                   QStringLiteral("unsupported value of type %1 at %2").arg(QString::fromLatin1(value.typeName()), where));
}

QJsonObject mapToJson(const QVariantMap &map, const QString &where)
{
    return toJson(map, where).toObject();
}

} // namespace kovra::tunnelvalues
