#include "tunnel/TunnelReplies.h"

namespace kovra {

TunnelStatusReport TunnelStatusReport::decode(const JsonDecodingContainer &c)
{
    TunnelStatusReport r;
    r.singboxRunning = c.decode<bool>("singboxRunning");
    r.ifaceName = c.decodeIfPresent<QString>("ifaceName");
    r.ifaceIndex = c.decodeIfPresent<int>("ifaceIndex");
    r.lastTunOpenAt = c.decodeIfPresent<QDateTime>("lastTunOpenAt");
    r.tunOpenError = c.decodeIfPresent<QString>("tunOpenError");
    r.recentLogs = c.decode<QStringList>("recentLogs");
    r.autoDetectSkippedBinds = c.decodeIfPresent<unsigned long long>("autoDetectSkippedBinds");
    r.autoDetectTotalCalls = c.decodeIfPresent<unsigned long long>("autoDetectTotalCalls");
    r.activeOutboundTag = c.decodeIfPresent<QString>("activeOutboundTag");
    return r;
}

void TunnelStatusReport::encode(JsonEncodingContainer &c) const
{
    c.encode("singboxRunning", singboxRunning);
    c.encodeIfPresent("ifaceName", ifaceName);
    c.encodeIfPresent("ifaceIndex", ifaceIndex);
    c.encodeIfPresent("lastTunOpenAt", lastTunOpenAt);
    c.encodeIfPresent("tunOpenError", tunOpenError);
    c.encode("recentLogs", recentLogs);
    c.encodeIfPresent("autoDetectSkippedBinds", autoDetectSkippedBinds);
    c.encodeIfPresent("autoDetectTotalCalls", autoDetectTotalCalls);
    c.encodeIfPresent("activeOutboundTag", activeOutboundTag);
}

TunnelSelectRegionResponse TunnelSelectRegionResponse::decode(const JsonDecodingContainer &c)
{
    return {c.decode<bool>("applied"), c.decodeIfPresent<QString>("selectedMember")};
}

void TunnelSelectRegionResponse::encode(JsonEncodingContainer &c) const
{
    c.encode("applied", applied);
    c.encodeIfPresent("selectedMember", selectedMember);
}

} // namespace kovra
