#include "catalog/OutboundMatching.h"

namespace kovra {

namespace {
bool containsKeyword(const QString &lowerText, const QStringList &keywords)
{
    for (const QString &keyword : keywords) {
        if (!keyword.isEmpty() && lowerText.contains(keyword))
            return true;
    }
    return false;
}
} // namespace

std::optional<Connection> firstConnection(const QString &tag, const QList<Connection> &connections)
{
    const QString lowerTag = tag.toLower();
    for (const Connection &route : connections) {
        if (containsKeyword(lowerTag, route.matchKeywords))
            return route;
    }
    return std::nullopt;
}

bool nameMatchesKeywords(const QString &name, const QStringList &keywords)
{
    return containsKeyword(name.toLower(), keywords);
}

} // namespace kovra
