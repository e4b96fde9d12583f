#pragma once

#include "catalog/Connection.h"
#include "connectivity/CooldownMap.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

namespace kovra {

// Which catalogue connections the engine may switch to on its own, in which order, and
// which one it returns to. The Netherlands set is the region ids "nl", "nl-hy2", "nl-awg".

// A relay through one of the two Russian entries ("ru-1", "ru-2").
bool isRuRelay(const Connection &connection);

// Lower is better: direct Hysteria2/AmneziaWG 0 (Netherlands) or 1; relays through
// "ru-1" 2 or 3; through "ru-2" 4 or 5; anything else 9.
int candidateTier(const Connection &connection);

// Selectable status, off cooldown at `now`, a direct Hysteria2/AmneziaWG route or a
// Russian relay, and not the connection in use (given by its entry and region ids,
// both empty when there is none).
bool isCandidate(const Connection &connection, const CooldownMap::Entries &cooldown, const QDateTime &now,
                 const QString &currentEntryID, const QString &currentRegionID);

// A connection with its position in the catalogue list.
struct PositionedConnection {
    qsizetype position;
    Connection connection;
};

// Strict order of two candidates: the one that matches `entryID` first, then the lower
// tier, then the lower catalogue position.
bool candidateOrder(const PositionedConnection &a, const PositionedConnection &b, const QString &entryID);

// The candidates among `connections`, best first (the first is the engine's next move).
QList<Connection> candidateList(const QList<Connection> &connections, const CooldownMap::Entries &cooldown,
                                const QDateTime &now, const QString &currentEntryID, const QString &currentRegionID);

// The first direct Hysteria2/AmneziaWG connection with id "nl-hy2", else the first with
// id "auto", else none.
std::optional<Connection> preferredConnection(const QList<Connection> &connections);

} // namespace kovra
