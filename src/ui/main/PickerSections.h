#pragma once

#include "catalog/Connection.h"
#include "catalog/Region.h"
#include "ui/main/PickerTypes.h"

#include <QList>
#include <QSet>
#include <QString>

namespace kovra::ui {

// The picker's four lists, derived from the two catalogues: the routes by kind in
// catalogue order, and the on-demand regions (`isEphemeral`) by availability, then
// by name compared code unit by code unit (never by locale), equal names keeping
// their catalogue order.
struct PickerSections {
    QList<Connection> autoConnections;
    QList<Connection> directConnections;
    QList<Connection> relayConnections;
    QList<Region> onDemandRegions;

    static PickerSections of(const QList<Connection> &connections, const QList<Region> &regions,
                             const QSet<QString> &waking);

    // The sum of the four lengths.
    qsizetype count() const;

    // The rank an on-demand region sorts by: 0 online, 1 starting or waking, 2 any other.
    static int availability(const Region &region, const QSet<QString> &waking);
};

// The list state: Loading or Empty for an empty catalogue (by the loading flags; an
// error plays no part), List or StaleList for a non-empty one (by whether either
// catalogue's last refresh failed; loading plays no part).
PickerListState::Value pickerListState(qsizetype count, bool connectionsLoading, bool regionsLoading,
                                       bool connectionsFailed, bool regionsFailed);

} // namespace kovra::ui
