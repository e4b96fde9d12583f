#pragma once

#include "catalog/Connection.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace kovra {

// Recognising the tunnel's outbound in the catalogue. A keyword matches when it occurs
// anywhere in the lower-cased tag or name (plain substring, no other normalisation);
// keywords are used as stored (already lower case) and empty ones never match.

// The first route, in list order, with a keyword (in its order) that occurs in `tag`.
std::optional<Connection> firstConnection(const QString &tag, const QList<Connection> &connections);

// Whether any non-empty keyword occurs in `name`; false for no keywords.
bool nameMatchesKeywords(const QString &name, const QStringList &keywords);

} // namespace kovra
