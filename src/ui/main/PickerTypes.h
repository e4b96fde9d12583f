#pragma once

#include <QObject>
#include <QtQml/qqmlregistration.h>

// The enumerations of the connection picker. QML reads them as
// `PickerListState.List`, `PickerItemKind.ServerRow`, `PickerColor.Accent`; the order
// of the values is part of the contract.
namespace kovra::ui {

// What the picker's list shows as a whole.
namespace PickerListState {
Q_NAMESPACE
QML_ELEMENT
enum Value {
    Loading,   // nothing to list yet and a catalogue refresh runs: placeholder rows
    Empty,     // nothing to list and nothing loading: the empty state with its retry
    List,      // the sections
    StaleList, // the sections and a hint that the list is the saved one
};
Q_ENUM_NS(Value)
} // namespace PickerListState

// One line of the picker's list.
namespace PickerItemKind {
Q_NAMESPACE
QML_ELEMENT
enum Value {
    SectionHeader,
    SectionFooter,
    ServerRow,       // a route, or an on-demand server that can be chosen
    StartingRow,     // an on-demand server being created, with its progress
    AsleepRow,       // an on-demand server that does not exist yet, with its wake button
    StaleHint,
    LoadingSkeleton,
    EmptyState,
};
Q_ENUM_NS(Value)
} // namespace PickerItemKind

// The colour of a row's status line, drawn with the Brand token of that name.
namespace PickerColor {
Q_NAMESPACE
QML_ELEMENT
enum Value { Accent, Warning, Success, Secondary };
Q_ENUM_NS(Value)
} // namespace PickerColor

} // namespace kovra::ui
