#include "catalog/RouteParts.h"

#include "catalog/Keywords.h"

namespace kovra {

using namespace Qt::StringLiterals;

Connection routeThrough(const Region &region, const QString &entryID)
{
    Connection route;
    route.id = region.id;
    route.label = region.name;
    route.flags = region.flag;
    route.entry = entryID;
    route.regionID = region.id;
    route.matchKeywords = lowercased(region.matchKeywords);
    route.kind = ConnectionKind::direct;
    route.isDefault = false;
    route.status = region.status;
    return route;
}

Region exitRegionOf(const Connection &route)
{
    Region region;
    region.id = route.regionID;
    region.name = route.label;
    region.flag = route.flags;
    region.isPrimary = false;
    region.isAuto = route.regionID == u"auto"_s;
    region.matchKeywords = lowercased(route.matchKeywords);
    region.status = route.status;
    region.isEphemeral = false;
    return region;
}

Entry entryOf(const Connection &route)
{
    Entry entry;
    entry.id = route.entry;
    entry.name = route.label;
    entry.flag = route.flags;
    entry.kind = route.entry == u"direct"_s ? EntryKind::direct : EntryKind::relay;
    entry.isDefault = false;
    return entry;
}

} // namespace kovra
