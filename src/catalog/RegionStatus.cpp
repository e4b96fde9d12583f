#include "catalog/RegionStatus.h"

#include <array>

namespace kovra {
namespace {

constexpr std::array<std::pair<RegionStatus, const char16_t *>, 6> kStatuses{{
    {RegionStatus::online, u"online"},
    {RegionStatus::offline, u"offline"},
    {RegionStatus::unknown, u"unknown"},
    {RegionStatus::stopped, u"stopped"},
    {RegionStatus::starting, u"starting"},
    {RegionStatus::degraded, u"degraded"},
}};

} // namespace

QString rawValue(RegionStatus status)
{
    for (const auto &[s, raw] : kStatuses)
        if (s == status)
            return QString::fromUtf16(raw);
    return {};
}

std::optional<RegionStatus> regionStatusFromRawValue(QStringView raw)
{
    for (const auto &[s, text] : kStatuses)
        if (raw == QStringView(text))
            return s;
    return std::nullopt;
}

RegionStatus regionStatusOrUnknown(const std::optional<QString> &raw)
{
    if (!raw)
        return RegionStatus::unknown;
    return regionStatusFromRawValue(*raw).value_or(RegionStatus::unknown);
}

bool isSelectable(RegionStatus status)
{
    return status == RegionStatus::online || status == RegionStatus::unknown || status == RegionStatus::degraded;
}

} // namespace kovra
