#pragma once

#include "platform/Json.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>

namespace kovra {

// The provider's answer to the "status" message: its proxy engine, its tunnel
// interface and the outbound in use. JSON keys are the field names as written.
struct TunnelStatusReport {
    bool singboxRunning = false;
    std::optional<QString> ifaceName{};
    std::optional<int> ifaceIndex{};
    std::optional<QDateTime> lastTunOpenAt{};
    std::optional<QString> tunOpenError{};
    QStringList recentLogs{};
    std::optional<unsigned long long> autoDetectSkippedBinds{};
    std::optional<unsigned long long> autoDetectTotalCalls{};
    std::optional<QString> activeOutboundTag{};

    static TunnelStatusReport decode(const JsonDecodingContainer &c);
    void encode(JsonEncodingContainer &c) const;

    friend bool operator==(const TunnelStatusReport &, const TunnelStatusReport &) = default;
};

// The provider's answer to "selectRegion": whether it switched and to which member.
struct TunnelSelectRegionResponse {
    bool applied = false;
    std::optional<QString> selectedMember;

    static TunnelSelectRegionResponse decode(const JsonDecodingContainer &c);
    void encode(JsonEncodingContainer &c) const;

    friend bool operator==(const TunnelSelectRegionResponse &, const TunnelSelectRegionResponse &) = default;
};

} // namespace kovra
