#include "core/TunnelStopReason.h"

#include <array>

namespace kovra {
namespace {
using Source = TunnelStopReason::Source;

constexpr std::array<std::pair<Source, const char16_t *>, 5> kSources{{
    {Source::autoDisconnectTimer, u"autoDisconnectTimer"},
    {Source::userStop, u"userStop"},
    {Source::reload, u"reload"},
    {Source::serviceStop, u"serviceStop"},
    {Source::missingSubscriptionURL, u"missingSubscriptionURL"},
}};
} // namespace

QString TunnelStopReason::rawValue(Source source)
{
    for (const auto &[s, raw] : kSources)
        if (s == source)
            return QString::fromUtf16(raw);
    return {};
}

std::optional<TunnelStopReason::Source> TunnelStopReason::sourceFromRawValue(QStringView raw)
{
    for (const auto &[s, text] : kSources)
        if (raw == QStringView(text))
            return s;
    return std::nullopt;
}

TunnelStopReason TunnelStopReason::decode(const JsonDecodingContainer &c)
{
    TunnelStopReason r;
    r.providerReasonRawValue = c.decodeIfPresent<qint64>("providerReasonRawValue");
    if (const auto raw = c.decodeIfPresent<QString>("source")) {
        r.source = sourceFromRawValue(*raw);
        if (!r.source)
            throw c.dataCorruptedError("source", QStringLiteral("Cannot initialize Source from invalid String value %1").arg(*raw));
    }
    r.recordedAt = c.decode<QDateTime>("recordedAt");
    r.isPending = c.decode<bool>("isPending");
    return r;
}

void TunnelStopReason::encode(JsonEncodingContainer &c) const
{
    c.encodeIfPresent("providerReasonRawValue", providerReasonRawValue);
    if (source)
        c.encode("source", rawValue(*source));
    c.encode("recordedAt", recordedAt);
    c.encode("isPending", isPending);
}

} // namespace kovra
