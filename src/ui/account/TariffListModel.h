#pragma once

#include "TariffCardTexts.h"

#include <QAbstractListModel>
#include <QHash>
#include <QList>
#include <QtQml/qqmlregistration.h>

#include <optional>

namespace kovra::ui {

// The tariff screen's plans as list rows, one per entry in list order. Each row
// gives its `planID` and `card`, the properties of one TariffCard
// (TariffCardTexts::cardProperties) with the saving against the one-month plan and
// the selected and best-value flags. A new list resets the model; a new selection
// changes only the rows it leaves and enters. Card texts are made when a row is
// read, so a long list costs only the rows on screen.
class TariffListModel : public QAbstractListModel {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Part of the tariff screen's model")
public:
    enum Role { PlanIDRole = Qt::UserRole + 1, CardRole };

    explicit TariffListModel(QObject *parent = nullptr);

    const QList<TariffEntry> &entries() const { return m_entries; }
    void setEntries(QList<TariffEntry> entries, std::optional<QString> selectedID);
    void setSelectedID(std::optional<QString> selectedID);

    // The card of one entry as the screen draws it.
    QVariantMap card(int row) const;
    // The row of that plan; -1 for none.
    int rowOf(const std::optional<QString> &planID) const;

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

private:
    QList<TariffEntry> m_entries;
    QHash<QString, int> m_rows;
    std::optional<QString> m_selectedID;
    std::optional<QString> m_bestValueID;
    std::optional<Tariff> m_baseline;
};

} // namespace kovra::ui
