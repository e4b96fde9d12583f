#pragma once

#include "ui/main/PickerItems.h"

#include <QAbstractListModel>
#include <QtQml/qqmlregistration.h>

namespace kovra::ui {

// The picker's list as the view draws it: one row per PickerItem, each with its kind.
// setItems() brings the rows to a new list with row operations (removals, moves,
// insertions and per-row data changes, matched by key), never a reset, so that a
// refresh that changes one status updates one row.
class PickerListModel : public QAbstractListModel {
    Q_OBJECT
    QML_ANONYMOUS
public:
    enum Role {
        KindRole = Qt::UserRole + 1,
        KeyRole,
        TextRole,
        FlagsRole,
        LabelRole,
        SubtitleRole,
        SubtitleColorRole,
        ProviderRole,
        ProviderNameRole,
        SelectedRole,
        DimmedRole,
        EmphasizedRole,
        AccessibilityLabelRole,
        AccessibilityHintRole,
        ActionTitleRole,
        DeterminateRole,
        FractionRole,
        PercentTextRole,
        AccentBackgroundRole,
        FirstInGroupRole,
        LastInGroupRole,
    };

    explicit PickerListModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    const QList<PickerItem> &items() const { return m_items; }
    // The item of a row; nullptr out of range.
    const PickerItem *itemAt(int row) const;

    void setItems(QList<PickerItem> items);

    // Recomputes the progress of the starting rows that have a start time, at `now`,
    // and signals each row whose progress changed. Returns how many did.
    int updateProgress(const QDateTime &now);
    // Whether a starting row with a start time is listed (its progress moves with time).
    bool hasTimedProgress() const;

private:
    void updateRow(qsizetype row, PickerItem item);

    QList<PickerItem> m_items;
};

} // namespace kovra::ui
