#pragma once

#include "catalog/Connection.h"
#include "catalog/Entry.h"
#include "catalog/Region.h"

#include <QString>

namespace kovra {

// A route and its two ends. The selection works on regions and entries; these build
// one from the other where the catalogue lacks the counterpart.

// The direct route to `region` through the entry `entryID`: the region's id, name,
// flag, keywords (lower-cased) and status, not the default route. Stands for an
// on-demand region, which the route catalogue does not list.
Connection routeThrough(const Region &region, const QString &entryID);

// The exit region as the route describes it: its region id, label, flags, keywords
// (lower-cased) and status; automatic exactly for the region id "auto"; not primary,
// not on demand, no provider, no hint.
Region exitRegionOf(const Connection &route);

// The entry as the route describes it: its entry id, label and flags; `direct` for
// the id "direct", else `relay`; not the default, no note.
Entry entryOf(const Connection &route);

} // namespace kovra
