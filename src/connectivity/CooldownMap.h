#pragma once

#include <QDateTime>
#include <QHash>
#include <QString>

#include <optional>

namespace kovra {

// Pauses of connections the engine gave up on, keyed by connection id. Each further
// failure of an id multiplies its pause by `factor`, up to `cap`: with the defaults
// 20, 40, 80, 160, 240, 240, ... seconds. Failure counts survive the end of a pause;
// only emptying the map resets them.
struct CooldownMap {
    struct Entry {
        QDateTime untilTs;   // on cooldown until then
        qint64 failCount = 0; // failures recorded since the map was last emptied

        bool operator==(const Entry &) const = default;
    };
    using Entries = QHash<QString, Entry>;

    Entries entries;
    double base = 20;   // seconds, after the first failure
    double factor = 2;  // growth per further failure
    double cap = 240;   // seconds, the longest pause

    bool operator==(const CooldownMap &) const = default;

    // Records one more failure of `id` at `now` and returns the pause applied, in seconds:
    // min(cap, base * factor^n) for the n-th earlier failure.
    double recordFailure(const QString &id, const QDateTime &now);

    // Off cooldown: no entry, or `now` is not earlier than the entry's untilTs.
    static bool isOffCooldown(const Entries &entries, const QString &id, const QDateTime &now);
    bool isOffCooldown(const QString &id, const QDateTime &now) const { return isOffCooldown(entries, id, now); }

    // Sets the entry of `id`, or removes it when none.
    void setEntry(const QString &id, const std::optional<Entry> &entry);
    // Empties the entries; base, factor and cap stay.
    void clear() { entries.clear(); }
};

} // namespace kovra
