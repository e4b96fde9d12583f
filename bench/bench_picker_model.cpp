// The connection picker's list model over a catalogue of 1,000 routes and 100
// on-demand servers. Prints the median time to bring the model up to date after a
// refresh that changes one route's status, beside the median time to fill a plain
// QStandardItemModel with the same rows (the cost of rebuilding the list by a reset)
// in the same run, with the model changes each update signals; then the model changes
// per progress tick with one server being created (target: one row updated).

#include "ui/main/ConnectionPickerSheet.h"

#include "support/ManualClock.h"
#include "ui/main/PickerFakes.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStandardItemModel>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace kovra;
using namespace kovra::ui;
using namespace std::chrono_literals;

namespace {

constexpr int kRoutes = 1000;
constexpr int kServers = 100;
constexpr int kRounds = 200;

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

PickerCatalogState catalogue()
{
    PickerCatalogState s;
    s.connections << test::route(QStringLiteral("auto"), ConnectionKind::automatic);
    for (int i = 1; i < kRoutes; ++i) {
        Connection c = test::route(QStringLiteral("route-%1").arg(i), i % 3 ? ConnectionKind::relay : ConnectionKind::direct);
        c.flags = QStringLiteral("🇷🇺 → 🇳🇱");
        c.label = QStringLiteral("РФ-%1 → Амстердам").arg(i);
        s.connections << c;
    }
    for (int i = 0; i < kServers; ++i)
        s.regions << test::server(QStringLiteral("server-%1").arg(i),
                                  i % 4 ? RegionStatus::stopped : RegionStatus::online,
                                  QStringLiteral("Сервер %1").arg(i));
    s.currentConnectionID = QStringLiteral("auto");
    return s;
}

// Counts what a model signals.
struct ChangeCount {
    int rows = 0;       // rows whose data changed
    int structural = 0; // insertions, removals, moves, resets

    explicit ChangeCount(QAbstractItemModel *model)
    {
        QObject::connect(model, &QAbstractItemModel::dataChanged, model,
                         [this](const QModelIndex &from, const QModelIndex &to) { rows += to.row() - from.row() + 1; });
        for (const auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
            QObject::connect(model, signal, model, [this] { ++structural; });
        QObject::connect(model, &QAbstractItemModel::rowsMoved, model, [this] { ++structural; });
        QObject::connect(model, &QAbstractItemModel::modelReset, model, [this] { ++structural; });
    }
};

// The same rows as plain items with the same texts.
void fill(QStandardItemModel &model, const QList<PickerItem> &items)
{
    model.clear();
    for (const PickerItem &item : items) {
        auto *row = new QStandardItem(item.row.label);
        row->setData(int(item.kind), PickerListModel::KindRole);
        row->setData(item.key, PickerListModel::KeyRole);
        row->setData(item.text, PickerListModel::TextRole);
        row->setData(item.row.flags, PickerListModel::FlagsRole);
        row->setData(item.row.subtitle, PickerListModel::SubtitleRole);
        row->setData(int(item.row.subtitleColor), PickerListModel::SubtitleColorRole);
        row->setData(item.row.isSelected, PickerListModel::SelectedRole);
        row->setData(item.row.isDimmed, PickerListModel::DimmedRole);
        row->setData(item.row.accessibilityLabelText, PickerListModel::AccessibilityLabelRole);
        model.appendRow(row);
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    auto clock = std::make_shared<test::ManualClock>();
    test::FakePickerCatalog catalog;
    catalog.current = catalogue();
    ConnectionPickerSheet picker(&catalog, nullptr, ConnectionPickerOptions{500ms, clock});
    PickerListModel *model = picker.items();

    ChangeCount refreshChanges(model);
    std::vector<double> update;
    for (int round = 0; round < kRounds; ++round) {
        const RegionStatus status = round % 2 ? RegionStatus::online : RegionStatus::degraded;
        QElapsedTimer timer;
        timer.start();
        catalog.change([status](PickerCatalogState &s) { s.connections[kRoutes / 2].status = status; });
        update.push_back(double(timer.nsecsElapsed()) / 1000.0);
    }

    QStandardItemModel plain;
    std::vector<double> filling;
    for (int round = 0; round < kRounds; ++round) {
        QElapsedTimer timer;
        timer.start();
        fill(plain, model->items());
        filling.push_back(double(timer.nsecsElapsed()) / 1000.0);
    }

    std::printf("picker model: %lld rows\n", qlonglong(model->rowCount()));
    std::printf("one status changed by a refresh: median %.1f us to update the list model (%.2f rows changed, "
                "%d structural changes in %d updates)\n",
                median(update), double(refreshChanges.rows) / kRounds, refreshChanges.structural, kRounds);
    std::printf("baseline, the same rows into a QStandardItemModel: median %.1f us\n", median(filling));

    const QDateTime now = clock->now();
    catalog.change([now](PickerCatalogState &s) {
        s.waking = {QStringLiteral("server-1")};
        s.wakeStartedAt = {{QStringLiteral("server-1"), now}};
    });
    picker.appear();
    ChangeCount tickChanges(model);
    constexpr int kTicks = 20;
    clock->advance(500ms * kTicks);
    std::printf("progress ticks with one server being created: %.2f rows changed per tick, %d structural "
                "changes (target: 1 row, 0)\n",
                double(tickChanges.rows) / kTicks, tickChanges.structural);
    return 0;
}
