#pragma once

#include "platform/Json.h"

#include <QDateTime>
#include <QString>
#include <QStringView>

#include <optional>

namespace kovra {

// Why the tunnel last stopped, shared with the tunnel provider as JSON under
// AppGroupKey::lastStopReason.
struct TunnelStopReason {
    enum class Source { autoDisconnectTimer, userStop, reload, serviceStop, missingSubscriptionURL };

    // The tunnel provider's own stop code, when the stop came from the provider.
    std::optional<qint64> providerReasonRawValue;
    // Who asked for the stop.
    std::optional<Source> source;
    QDateTime recordedAt;
    // A stop that has been asked for and not yet carried out.
    bool isPending = false;

    bool operator==(const TunnelStopReason &) const = default;

    // The raw strings are the case names ("userStop").
    static QString rawValue(Source source);
    static std::optional<Source> sourceFromRawValue(QStringView raw);

    // JSON: keys as the field names in this order, absent optionals left out,
    // recordedAt as seconds since 2001-01-01T00:00:00Z. Decoding requires
    // "recordedAt" and "isPending"; an unknown "source" fails the whole record.
    static TunnelStopReason decode(const JsonDecodingContainer &c);
    void encode(JsonEncodingContainer &c) const;
};

} // namespace kovra
