#include "ui/main/PickerSections.h"

#include <algorithm>

namespace kovra::ui {

PickerSections PickerSections::of(const QList<Connection> &connections, const QList<Region> &regions,
                                  const QSet<QString> &waking)
{
    PickerSections s;
    for (const Connection &c : connections) {
        switch (c.kind) {
        case ConnectionKind::automatic:
            s.autoConnections.append(c);
            break;
        case ConnectionKind::direct:
            s.directConnections.append(c);
            break;
        case ConnectionKind::relay:
            s.relayConnections.append(c);
            break;
        }
    }
    // Rank first, so that the sort compares each region's rank once.
    QList<std::pair<int, Region>> ranked;
    for (const Region &r : regions)
        if (r.isEphemeral)
            ranked.append({availability(r, waking), r});
    std::stable_sort(ranked.begin(), ranked.end(), [](const auto &a, const auto &b) {
        if (a.first != b.first)
            return a.first < b.first;
        // QString's operator< compares UTF-16 code units: no locale, no case folding.
        return a.second.name < b.second.name;
    });
    s.onDemandRegions.reserve(ranked.size());
    for (auto &entry : ranked)
        s.onDemandRegions.append(std::move(entry.second));
    return s;
}

qsizetype PickerSections::count() const
{
    return autoConnections.size() + directConnections.size() + relayConnections.size() + onDemandRegions.size();
}

int PickerSections::availability(const Region &region, const QSet<QString> &waking)
{
    if (region.status == RegionStatus::online)
        return 0;
    if (region.status == RegionStatus::starting || waking.contains(region.id))
        return 1;
    return 2;
}

PickerListState::Value pickerListState(qsizetype count, bool connectionsLoading, bool regionsLoading,
                                       bool connectionsFailed, bool regionsFailed)
{
    if (count == 0)
        return connectionsLoading || regionsLoading ? PickerListState::Loading : PickerListState::Empty;
    return connectionsFailed || regionsFailed ? PickerListState::StaleList : PickerListState::List;
}

} // namespace kovra::ui
