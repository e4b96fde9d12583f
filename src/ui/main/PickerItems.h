#pragma once

#include "catalog/RegionStore.h"
#include "ui/main/PickerRows.h"
#include "ui/main/PickerSections.h"

#include <QList>
#include <QString>

#include <optional>
#include <variant>

namespace kovra::ui {

// One line of the picker's list, as its model hands it to the view.
struct PickerItem {
    PickerItemKind::Value kind = PickerItemKind::SectionHeader;
    // Identity across updates: "conn:<id>", "region:<id>", "header:direct", ...
    QString key;
    // The text of a header, footer, hint or empty state; the caption of a starting or
    // asleep row.
    QString text;
    PickerServerRow row;
    QString accessibilityHint;
    QString actionTitle;
    StartProgress progress;
    std::optional<QDateTime> startedAt;
    // The automatic route's accent background.
    bool accentBackground = false;
    // Where the line sits in its group of rows (headers and footers stand outside).
    bool firstInGroup = false;
    bool lastInGroup = false;
    // What a tap or the wake button acts on.
    std::variant<std::monostate, Connection, Region> target;

    bool operator==(const PickerItem &) const = default;
};

// The selection and wake state the rows show.
struct PickerSelection {
    std::optional<QString> currentConnectionID;
    QString selectedRegionID;
    QSet<QString> waking;
    RegionWakeStamps wakeStartedAt;
};

// What the list shows in order: for List and StaleList the automatic routes (no
// header), then each non-empty section of direct routes, relayed routes and
// on-demand servers between its header and footer, then in StaleList the hint;
// for Loading the placeholder rows; for Empty the empty state.
// `previous`, the list as built last time, lets a route row whose route and selection
// did not change be reused from the same position instead of being built again.
QList<PickerItem> pickerItems(const PickerSections &sections, PickerListState::Value state,
                              const PickerSelection &selection, const QDateTime &now,
                              const QList<PickerItem> &previous = {});

} // namespace kovra::ui
