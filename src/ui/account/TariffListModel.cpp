#include "TariffListModel.h"

#include "TariffChoice.h"

namespace kovra::ui {

TariffListModel::TariffListModel(QObject *parent) : QAbstractListModel(parent) {}

void TariffListModel::setEntries(QList<TariffEntry> entries, std::optional<QString> selectedID)
{
    beginResetModel();
    m_entries = std::move(entries);
    m_rows.clear();
    m_rows.reserve(m_entries.size());
    for (int row = 0; row < m_entries.size(); ++row)
        m_rows.insert(m_entries.at(row).planID, row); // plan ids are the map's keys: unique
    m_selectedID = std::move(selectedID);
    m_bestValueID = bestValuePlanID(m_entries);
    m_baseline = monthlyBaseline(m_entries);
    endResetModel();
}

void TariffListModel::setSelectedID(std::optional<QString> selectedID)
{
    if (selectedID == m_selectedID)
        return;
    const int left = rowOf(m_selectedID);
    m_selectedID = std::move(selectedID);
    const int entered = rowOf(m_selectedID);
    for (const int row : {left, entered}) {
        if (row >= 0)
            Q_EMIT dataChanged(index(row), index(row), {CardRole});
    }
}

int TariffListModel::rowOf(const std::optional<QString> &planID) const
{
    return planID ? m_rows.value(*planID, -1) : -1;
}

QVariantMap TariffListModel::card(int row) const
{
    const TariffEntry &entry = m_entries.at(row);
    const bool selected = m_selectedID == entry.planID;
    const bool bestValue = m_bestValueID == entry.planID;
    return TariffCardTexts::of(entry, entry.tariff.savingsPercent(m_baseline)).cardProperties(selected, bestValue);
}

int TariffListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_entries.size());
}

QVariant TariffListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_entries.size())
        return {};
    if (role == PlanIDRole)
        return m_entries.at(index.row()).planID;
    if (role == CardRole)
        return card(index.row());
    return {};
}

QHash<int, QByteArray> TariffListModel::roleNames() const
{
    return {{PlanIDRole, "planID"}, {CardRole, "card"}};
}

} // namespace kovra::ui
