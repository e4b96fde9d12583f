#include "connectivity/CandidateRules.h"

#include <algorithm>

namespace kovra {
namespace {

bool inNetherlandsSet(const QString &regionID)
{
    return regionID == u"nl" || regionID == u"nl-hy2" || regionID == u"nl-awg";
}

bool isDirectHy2OrAwg(const Connection &c)
{
    return c.kind == ConnectionKind::direct && c.isHy2OrAwg();
}

} // namespace

bool isRuRelay(const Connection &c)
{
    return c.kind == ConnectionKind::relay && (c.entry == u"ru-1" || c.entry == u"ru-2");
}

int candidateTier(const Connection &c)
{
    const int netherlands = inNetherlandsSet(c.regionID) ? 0 : 1;
    if (isDirectHy2OrAwg(c))
        return netherlands;
    if (isRuRelay(c))
        return (c.entry == u"ru-1" ? 2 : 4) + netherlands;
    return 9;
}

bool isCandidate(const Connection &c, const CooldownMap::Entries &cooldown, const QDateTime &now,
                 const QString &currentEntryID, const QString &currentRegionID)
{
    return isSelectable(c.status) && CooldownMap::isOffCooldown(cooldown, c.id, now)
        && (isDirectHy2OrAwg(c) || isRuRelay(c)) && (c.entry != currentEntryID || c.regionID != currentRegionID);
}

bool candidateOrder(const PositionedConnection &a, const PositionedConnection &b, const QString &entryID)
{
    const bool aMatches = a.connection.matches(entryID);
    const bool bMatches = b.connection.matches(entryID);
    if (aMatches != bMatches)
        return aMatches;
    const int aTier = candidateTier(a.connection);
    const int bTier = candidateTier(b.connection);
    if (aTier != bTier)
        return aTier < bTier;
    return a.position < b.position;
}

QList<Connection> candidateList(const QList<Connection> &connections, const CooldownMap::Entries &cooldown,
                                const QDateTime &now, const QString &currentEntryID, const QString &currentRegionID)
{
    QList<PositionedConnection> eligible;
    for (qsizetype i = 0; i < connections.size(); ++i) {
        if (isCandidate(connections.at(i), cooldown, now, currentEntryID, currentRegionID))
            eligible.append({i, connections.at(i)});
    }
    std::sort(eligible.begin(), eligible.end(), [&currentEntryID](const auto &a, const auto &b) {
        return candidateOrder(a, b, currentEntryID);
    });
    QList<Connection> out;
    out.reserve(eligible.size());
    for (PositionedConnection &p : eligible)
        out.append(std::move(p.connection));
    return out;
}

std::optional<Connection> preferredConnection(const QList<Connection> &connections)
{
    for (const Connection &c : connections)
        if (c.id == u"nl-hy2" && isDirectHy2OrAwg(c))
            return c;
    for (const Connection &c : connections)
        if (c.id == u"auto")
            return c;
    return std::nullopt;
}

} // namespace kovra
