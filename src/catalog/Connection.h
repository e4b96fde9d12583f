#pragma once

#include "catalog/RegionStatus.h"
#include "platform/Json.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace kovra {

// `automatic` is the route "auto" (the keyword itself cannot name a case).
enum class ConnectionKind { automatic, direct, relay };

// "auto", "direct" or "relay".
QString rawValue(ConnectionKind kind);

// One route the user can pick: an entry point combined with an exit region, or the
// automatic choice.
struct Connection {
    QString id;    // formed by compose(): "auto", "ee-hy2", "ru-1__nl"
    QString label; // display title; hops separated by " → "
    QString flags; // emoji part of the title in the same hop layout; may be empty
    QString entry; // "auto", "direct" or an entry id ("ru-1")
    QString regionID; // exit region id; JSON key "regionId"
    // Lower case; substrings by which a tunnel outbound is recognised as this route.
    QStringList matchKeywords;
    ConnectionKind kind = ConnectionKind::relay;
    bool isDefault = false; // the route used when the selection matches nothing
    RegionStatus status = RegionStatus::unknown;

    bool operator==(const Connection &) const = default;

    // "id" and "label" are required strings; a missing or null value gives: flags "",
    // entry "auto", regionId "auto", no keywords, kind `relay` (also for any text other
    // than exactly "auto"/"direct"/"relay"), isDefault false, status `unknown` (also for
    // unknown text). A present value of the wrong type fails. Keywords are lower-cased.
    static Connection decode(const JsonDecodingContainer &c);
    // All nine keys, in field order.
    void encode(JsonEncodingContainer &c) const;

    // The id of the route through `entry` to `region`: "auto" for the automatic entry,
    // the region id for "direct", else entry + "__" + region.
    static QString compose(const QString &entry, const QString &region);

    // One display line from a route's flags and label. Both are split on " → "; with
    // equal counts each hop keeps its flag only when that is "⚡" or starts with a
    // country flag ("🇷🇺 РФ-1 → 🇳🇱 Амстердам"), else shows the label's hop alone;
    // with unequal counts the flags are put before the whole label.
    static QString mergedTitle(const QString &flags, const QString &label);

    // Whether the id or region id ends with "-hy2"/"-awg" (in any case), or a keyword
    // contains "hy2", "hysteria2", "awg" or "amneziawg".
    bool isHy2OrAwg() const;
    // Whether this route serves the entry: the same entry id, or for "auto" a direct
    // Hysteria2/AmneziaWG route.
    bool matches(const QString &entryID) const;

    // The built-in list of ten routes used when neither the service nor the cache has one.
    static QList<Connection> fallback();
};

size_t qHash(const Connection &connection, size_t seed = 0);

} // namespace kovra
