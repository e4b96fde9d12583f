#pragma once

#include "platform/Json.h"

#include <QList>
#include <QString>

#include <optional>

namespace kovra {

enum class EntryKind { relay, direct };

// "relay" or "direct".
QString rawValue(EntryKind kind);

// One entry point of the tunnel: the server the device reaches first. "auto" lets the
// tunnel choose; the others are relays inside Russia.
struct Entry {
    QString id;   // "auto", "ru-1"; the value stored as the preferred entry
    QString name; // display name
    QString flag; // emoji before the name
    EntryKind kind = EntryKind::relay;
    bool isDefault = false; // picked first by defaultID()
    std::optional<QString> note;

    bool operator==(const Entry &) const = default;

    // Keys are the field names. "id" and "name" are required strings; a missing or
    // null "flag" is "🇷🇺", "kind" is `direct` only for exactly "direct", "isDefault"
    // defaults to false, "note" to none; a present value of the wrong type fails.
    static Entry decode(const JsonDecodingContainer &c);
    // "id", "name", "flag", "kind", "isDefault", and "note" only when present.
    void encode(JsonEncodingContainer &c) const;

    // The built-in list of three entries used when neither the service nor the cache
    // has one.
    static QList<Entry> fallback();

    // The entry to use when no valid selection exists: the first marked default, else
    // the first entry, else "auto".
    static QString defaultID(const QList<Entry> &entries);
};

size_t qHash(const Entry &entry, size_t seed = 0);

} // namespace kovra
