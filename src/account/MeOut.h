#pragma once

#include "platform/Json.h"

#include <QDateTime>
#include <QString>

#include <optional>

namespace kovra {

// Who the signed-in user is at the service, and which sign-in methods the account has.
struct MeOut {
    std::optional<qint64> telegramId{};
    // The account's name at the subscription panel (shown as the id for support).
    std::optional<QString> marzbanUsername{};
    // Read leniently: a value that is no readable date gives none, never a failure.
    std::optional<QDateTime> createdAt{};
    bool hasTelegram = false;
    bool hasApple = false;
    std::optional<QString> appleEmail{};
    // Absent or null in the reply reads as false.
    bool hasGoogle = false;
    std::optional<QString> googleEmail{};

    static MeOut decode(const JsonDecodingContainer &c);
    void encode(JsonEncodingContainer &c) const;
    bool operator==(const MeOut &) const = default;
};

// A date-time as the service writes it: ISO 8601 with or without fractional seconds,
// a blank instead of the "T", and no zone meaning UTC ("2024-05-01 12:30:00" is 12:30
// UTC). A date alone, a malformed zone or anything else gives none.
std::optional<QDateTime> parseLenientISO8601Date(const QString &text);

} // namespace kovra
