#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QVariant>
#include <QVariantMap>

// How values of saved configurations and start options pass between QVariant (what
// callers of the tunnel layer hand in and get back) and JSON (the file and the wire).
namespace kovra::tunnelvalues {

// JSON as the tunnel layer hands it out: Booleans as numbers (qint64 0 or 1, the way a
// provider configuration reads back), whole numbers up to 2^53 as qint64, other numbers
// as double, arrays of strings as QStringList, other arrays as QVariantList.
QVariant fromJson(const QJsonValue &value);
QVariantMap mapFromJson(const QJsonObject &object);

// The JSON of a value; throws VPNError(ConfigurationInvalid) naming `where` for a type
// the provider cannot be given (bytes, dates, non-finite numbers, ...).
QJsonValue toJson(const QVariant &value, const QString &where);
QJsonObject mapToJson(const QVariantMap &map, const QString &where);

} // namespace kovra::tunnelvalues
