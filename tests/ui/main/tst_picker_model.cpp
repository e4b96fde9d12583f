#include "ui/main/ConnectionPickerSheet.h"

#include "PickerFakes.h"
#include "support/Await.h"
#include "support/ManualClock.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

using namespace kovra;
using namespace kovra::ui;
using namespace kovra::test;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(kovra::RegionStatus)
Q_DECLARE_METATYPE(kovra::ConnectionKind)

namespace {

using Kind = ConnectionKind;
using Status = RegionStatus;

template <typename T>
QStringList keysOf(const QList<T> &list, QString T::*key)
{
    QStringList keys;
    for (const T &item : list)
        keys << item.*key;
    return keys;
}
QStringList keysOf(const PickerListModel &model) { return keysOf(model.items(), &PickerItem::key); }

int rowOf(const PickerListModel &model, const QString &key)
{
    return int(keysOf(model).indexOf(key));
}

// Items from keys such as "a b* c": one server row per key, `*` changing its data.
QList<PickerItem> itemsOf(const QString &keys)
{
    QList<PickerItem> items;
    for (QString key : keys.split(u' ', Qt::SkipEmptyParts)) {
        PickerItem item;
        item.kind = PickerItemKind::ServerRow;
        item.row.subtitle = key.endsWith(u'*') ? u"changed"_s : u"same"_s;
        key.remove(u'*');
        item.key = key;
        item.row.label = key;
        items << item;
    }
    return items;
}

struct Picker {
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    FakePickerCatalog catalog;
    int applied = 0;
    std::unique_ptr<ConnectionPickerSheet> sheet;
    std::unique_ptr<QSignalSpy> dismissals;

    explicit Picker(PickerCatalogState state)
    {
        catalog.current = std::move(state);
        sheet = std::make_unique<ConnectionPickerSheet>(&catalog, [this] { ++applied; },
                                                        ConnectionPickerOptions{500ms, clock});
        dismissals = std::make_unique<QSignalSpy>(sheet.get(), &ConnectionPickerSheet::dismissRequested);
    }
    PickerListModel &model() { return *sheet->items(); }
};

} // namespace

class PickerModelTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void listState_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("connectionsLoading");
        QTest::addColumn<bool>("regionsLoading");
        QTest::addColumn<bool>("connectionsFailed");
        QTest::addColumn<bool>("regionsFailed");
        QTest::addColumn<PickerListState::Value>("state");
        QTest::newRow("nothing, routes loading") << 0 << true << false << false << false << PickerListState::Loading;
        QTest::newRow("nothing, failed but loading") << 0 << true << false << true << true << PickerListState::Loading;
        QTest::newRow("nothing, failed, idle") << 0 << false << false << true << true << PickerListState::Empty;
        QTest::newRow("rows while loading") << 3 << true << true << false << false << PickerListState::List;
        QTest::newRow("rows, regions failed") << 3 << false << false << false << true << PickerListState::StaleList;
        QTest::newRow("rows, routes failed, loading") << 1 << true << false << true << false
                                                      << PickerListState::StaleList;
    }
    void listState()
    {
        QFETCH(int, count);
        QFETCH(bool, connectionsLoading);
        QFETCH(bool, regionsLoading);
        QFETCH(bool, connectionsFailed);
        QFETCH(bool, regionsFailed);
        QTEST(pickerListState(count, connectionsLoading, regionsLoading, connectionsFailed, regionsFailed), "state");
    }

    // What the list shows, in order, through the sheet's model.
    void listed_data()
    {
        QTest::addColumn<QList<Connection>>("connections");
        QTest::addColumn<QList<Region>>("regions");
        QTest::addColumn<bool>("loading");
        QTest::addColumn<bool>("failed");
        QTest::addColumn<QStringList>("keys");
        const Connection automatic = route(u"auto"_s, Kind::automatic);
        QTest::newRow("every section, then the stale hint")
            << QList{route(u"ru-1__nl"_s, Kind::relay), automatic, route(u"nl"_s, Kind::direct)}
            << QList{server(u"us"_s)} << false << true
            << u"conn:auto header:direct conn:nl footer:direct header:relay conn:ru-1__nl footer:relay "
               "header:ondemand region:us footer:ondemand stale"_s.split(u' ');
        QTest::newRow("kinds keep catalogue order")
            << QList{route(u"r2"_s, Kind::relay), route(u"d1"_s, Kind::direct), route(u"r1"_s, Kind::relay),
                     route(u"d2"_s, Kind::direct)}
            << QList<Region>() << true << false
            << u"header:direct conn:d1 conn:d2 footer:direct header:relay conn:r2 conn:r1 footer:relay"_s.split(u' ');
        const Region fixed = server(u"nl"_s, Status::online, {}, false);
        QTest::newRow("only on-demand regions are listed")
            << QList{automatic} << QList{fixed} << false << false << QStringList{u"conn:auto"_s};
        QTest::newRow("loading") << QList<Connection>() << QList{fixed} << true << true << QStringList{u"loading"_s};
        QTest::newRow("empty") << QList<Connection>() << QList<Region>() << false << true << QStringList{u"empty"_s};
    }
    void listed()
    {
        QFETCH(QList<Connection>, connections);
        QFETCH(QList<Region>, regions);
        QFETCH(bool, loading);
        QFETCH(bool, failed);
        PickerCatalogState state;
        state.connections = connections;
        state.regions = regions;
        state.regionsLoading = loading;
        state.regionsFailed = failed;
        Picker picker(state);
        QTEST(keysOf(picker.model()), "keys");
        QCOMPARE(picker.sheet->isBusy(), loading);
    }

    // The on-demand section's texts: its footer promises the wait the starting row
    // shows ("~2 минуты").
    void onDemandSectionTexts_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("text");
        QTest::newRow("header") << u"header:ondemand"_s << u"По запросу"_s;
        QTest::newRow("footer")
            << u"footer:ondemand"_s
            << u"Сервер поднимается примерно за 1–2 минуты после «Создать» и подключается автоматически."_s;
    }
    void onDemandSectionTexts()
    {
        QFETCH(QString, key);
        PickerCatalogState state;
        state.regions = {server(u"us"_s)};
        Picker picker(state);
        const int row = rowOf(picker.model(), key);
        QVERIFY(row >= 0);
        QTEST(picker.model().items().at(row).text, "text");
    }

    void onDemandOrder_data()
    {
        QTest::addColumn<QList<Region>>("regions");
        QTest::addColumn<QStringList>("waking");
        QTest::addColumn<QStringList>("order");
        QTest::newRow("online B before starting A")
            << QList{server(u"A"_s, Status::starting), server(u"B"_s, Status::online)} << QStringList()
            << QStringList{u"B"_s, u"A"_s};
        QTest::newRow("a waking stopped region ranks with the starting ones")
            << QList{server(u"Zed"_s, Status::starting), server(u"Gamma"_s, Status::offline),
                     server(u"Alpha"_s), server(u"Beta"_s, Status::online)}
            << QStringList{u"Alpha"_s} << QStringList{u"Beta"_s, u"Alpha"_s, u"Zed"_s, u"Gamma"_s};
        QTest::newRow("waking and online ranks as online")
            << QList{server(u"A"_s, Status::starting), server(u"B"_s, Status::online)} << QStringList{u"B"_s}
            << QStringList{u"B"_s, u"A"_s};
        QTest::newRow("degraded and unknown rank with the rest")
            << QList{server(u"A"_s, Status::degraded), server(u"C"_s, Status::unknown), server(u"D"_s, Status::online),
                     server(u"B"_s)}
            << QStringList() << QStringList{u"D"_s, u"A"_s, u"B"_s, u"C"_s};
        // Code units: 'Z' < 'a' < 'É' < 'Ё' < 'Е'; Russian collation would put "Ель" first of the two.
        QTest::newRow("names by code unit, not by locale")
            << QList{server(u"Ель"_s), server(u"amsterdam"_s), server(u"Ёлки"_s), server(u"Éclair"_s),
                     server(u"Zürich"_s)}
            << QStringList() << QStringList{u"Zürich"_s, u"amsterdam"_s, u"Éclair"_s, u"Ёлки"_s, u"Ель"_s};
        QTest::newRow("equal names keep catalogue order")
            << QList{server(u"x2"_s, Status::stopped, u"Same"_s), server(u"x1"_s, Status::stopped, u"Same"_s),
                     server(u"x0"_s, Status::stopped, u"A"_s)}
            << QStringList() << QStringList{u"x0"_s, u"x2"_s, u"x1"_s};
    }
    void onDemandOrder()
    {
        QFETCH(QList<Region>, regions);
        QFETCH(QStringList, waking);
        const QSet<QString> wakingSet(waking.cbegin(), waking.cend());
        QTEST(keysOf(PickerSections::of({}, regions, wakingSet).onDemandRegions, &Region::id), "order");
    }

    void connectionRow_data()
    {
        QTest::addColumn<ConnectionKind>("kind");
        QTest::addColumn<RegionStatus>("status");
        QTest::addColumn<QString>("subtitle");
        QTest::addColumn<PickerColor::Value>("color");
        QTest::addColumn<bool>("dimmed");
        const QString hint = u"Подбираем самое быстрое рабочее подключение"_s;
        QTest::newRow("auto, offline") << Kind::automatic << Status::offline << hint << PickerColor::Accent << true;
        QTest::newRow("auto, degraded") << Kind::automatic << Status::degraded << hint << PickerColor::Accent << false;
        QTest::newRow("online") << Kind::direct << Status::online << u"Доступно"_s << PickerColor::Secondary << false;
        QTest::newRow("unknown") << Kind::relay << Status::unknown << u"Доступно"_s << PickerColor::Secondary << false;
        QTest::newRow("offline") << Kind::direct << Status::offline << u"Недоступно"_s << PickerColor::Warning << true;
        QTest::newRow("stopped") << Kind::relay << Status::stopped << u"Остановлен"_s << PickerColor::Warning << false;
        QTest::newRow("starting") << Kind::direct << Status::starting << u"Запускается…"_s << PickerColor::Secondary
                                  << false;
        QTest::newRow("degraded") << Kind::relay << Status::degraded << u"Работает с перебоями"_s
                                  << PickerColor::Warning << false;
    }
    void connectionRow()
    {
        QFETCH(ConnectionKind, kind);
        QFETCH(RegionStatus, status);
        Connection c = route(u"ru-1__nl"_s, kind, status);
        c.flags = u"🇷🇺 → 🇳🇱"_s;
        c.label = u"РФ-1 → Амстердам"_s;
        const PickerServerRow row = ConnectionRow::of(c, true);
        QFETCH(QString, subtitle);
        QFETCH(PickerColor::Value, color);
        QFETCH(bool, dimmed);
        QCOMPARE(std::tuple(row.subtitle, row.subtitleColor, row.isDimmed, row.isEmphasized, row.accessibilityLabelText),
                 std::tuple(subtitle, color, dimmed, kind == Kind::automatic, u"🇷🇺 РФ-1 → 🇳🇱 Амстердам"_s));
    }

    void ephemeralRow_data()
    {
        QTest::addColumn<RegionStatus>("status");
        QTest::addColumn<bool>("waking");
        QTest::addColumn<int>("form");
        QTest::addColumn<QString>("text");
        QTest::addColumn<PickerColor::Value>("color");
        QTest::addColumn<QString>("hint");
        const int selectable = int(EphemeralRow::Form::Selectable);
        const int starting = int(EphemeralRow::Form::Starting);
        const int asleep = int(EphemeralRow::Form::Asleep);
        const QString startingText = u"Запускаем сервер, ~2 минуты…"_s;
        const QString wakeHint = u"Создать сервер в облаке по запросу"_s;
        QTest::newRow("online, still waking") << Status::online << true << selectable << u"Доступно"_s
                                              << PickerColor::Success << QString();
        QTest::newRow("degraded") << Status::degraded << false << selectable << u"Работает с перебоями"_s
                                  << PickerColor::Warning << QString();
        QTest::newRow("unknown") << Status::unknown << false << selectable << u"Доступно"_s << PickerColor::Secondary
                                 << QString();
        QTest::newRow("starting") << Status::starting << false << starting << startingText << PickerColor::Secondary
                                  << startingText;
        QTest::newRow("stopped, waking") << Status::stopped << true << starting << startingText
                                         << PickerColor::Secondary << startingText;
        QTest::newRow("stopped") << Status::stopped << false << asleep << u"Сервера нет"_s << PickerColor::Secondary
                                 << wakeHint;
        QTest::newRow("offline") << Status::offline << false << asleep << u"Сервера нет"_s << PickerColor::Secondary
                                 << wakeHint;
    }
    void ephemeralRow()
    {
        QFETCH(RegionStatus, status);
        QFETCH(bool, waking);
        QFETCH(int, form);
        const EphemeralRow e = EphemeralRow::of(server(u"us-aws"_s, status, u"Вирджиния"_s), true, waking, std::nullopt, QDateTime::currentDateTimeUtc());
        QFETCH(QString, text);
        QFETCH(PickerColor::Value, color);
        QFETCH(QString, hint);
        const bool isSelectable = e.form == EphemeralRow::Form::Selectable;
        QCOMPARE(std::tuple(int(e.form), isSelectable ? e.row.subtitle : e.caption, e.row.subtitleColor, e.accessibilityHint,
                            e.row.isSelected, e.actionTitle, e.row.accessibilityLabelText),
                 std::tuple(form, text, color, hint, form == int(EphemeralRow::Form::Selectable),
                            form == int(EphemeralRow::Form::Asleep) ? u"Создать"_s : QString(), u"🇺🇸 Вирджиния"_s));
    }

    void startProgress_data()
    {
        QTest::addColumn<qint64>("elapsedMs"); // -1: no start time
        QTest::addColumn<bool>("determinate");
        QTest::addColumn<QString>("percent");
        QTest::newRow("no start time") << qint64(-1) << false << QString();
        QTest::newRow("just started") << qint64(0) << true << u"0%"_s;
        QTest::newRow("start in the future") << qint64(-5000) << true << u"0%"_s;
        // 6.3 / 90 × 100 is 6.99…, but 6.3 × 100 / 90 would be 7.
        QTest::newRow("fraction first, then the percentage") << qint64(6300) << true << u"6%"_s;
        QTest::newRow("45 s") << qint64(45000) << true << u"50%"_s;
        QTest::newRow("capped at 95 %") << qint64(200000) << true << u"95%"_s;
    }
    void startProgress()
    {
        QFETCH(qint64, elapsedMs);
        const QDateTime now(QDate(2025, 3, 5), QTime(12, 0), Qt::UTC);
        const std::optional<QDateTime> startedAt =
            elapsedMs == -1 ? std::nullopt : std::optional<QDateTime>(now.addMSecs(-elapsedMs));
        const StartProgress p = StartProgress::at(startedAt, now);
        QTEST(p.determinate, "determinate");
        QTEST(p.percentText(), "percent");
    }

    // Any change of the list reaches the exact new list through row operations.
    void modelUpdatesByRow_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::newRow("data of one row") << u"a b c d"_s << u"a b* c d"_s;
        QTest::newRow("runs inserted") << u"a d"_s << u"x a b c d y"_s;
        QTest::newRow("runs removed") << u"a b c d e"_s << u"a d"_s;
        QTest::newRow("moved up and down") << u"a b c d e"_s << u"d a b* e c"_s;
        QTest::newRow("reversed") << u"a b c d"_s << u"d c b a"_s;
        QTest::newRow("duplicate keys") << u"a a b"_s << u"b a b a*"_s;
    }
    void modelUpdatesByRow()
    {
        QFETCH(QString, from);
        QFETCH(QString, to);
        PickerListModel model;
        model.setItems(itemsOf(from));
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
        model.setItems(itemsOf(to));
        QVERIFY(model.items() == itemsOf(to));
        QCOMPARE(resets.size(), 0);
    }

    // A refresh that changes one route's status signals that row alone.
    void oneStatusChangeUpdatesOneRow()
    {
        PickerCatalogState state;
        for (int i = 0; i < 50; ++i)
            state.connections << route(u"r%1"_s.arg(i), i % 2 ? Kind::direct : Kind::relay);
        Picker picker(state);
        QSignalSpy changes(&picker.model(), &QAbstractItemModel::dataChanged);
        QSignalSpy inserts(&picker.model(), &QAbstractItemModel::rowsInserted);
        QSignalSpy removals(&picker.model(), &QAbstractItemModel::rowsRemoved);
        QSignalSpy moves(&picker.model(), &QAbstractItemModel::rowsMoved);
        picker.catalog.change([](PickerCatalogState &s) { s.connections[7].status = Status::degraded; });
        QCOMPARE(changes.size(), 1);
        QCOMPARE(changes.at(0).at(0).toModelIndex().row(), rowOf(picker.model(), u"conn:r7"_s));
        QCOMPARE(inserts.size() + removals.size() + moves.size(), 0);
    }

    void choosingARoute_data()
    {
        QTest::addColumn<RegionStatus>("status");
        QTest::addColumn<QString>("current");
        QTest::addColumn<bool>("accepts");
        QTest::addColumn<bool>("asked");
        QTest::addColumn<int>("applied");
        QTest::addColumn<int>("dismissed");
        QTest::newRow("offline: nothing at all") << Status::offline << u"auto"_s << true << false << 0 << 0;
        QTest::newRow("stopped: nothing at all") << Status::stopped << u"auto"_s << true << false << 0 << 0;
        QTest::newRow("starting: nothing at all") << Status::starting << u"auto"_s << true << false << 0 << 0;
        QTest::newRow("another route") << Status::online << u"auto"_s << true << true << 1 << 1;
        QTest::newRow("unknown can be chosen") << Status::unknown << u"auto"_s << true << true << 1 << 1;
        QTest::newRow("no route in use") << Status::degraded << QString() << true << true << 1 << 1;
        QTest::newRow("the route in use") << Status::online << u"nl"_s << true << true << 0 << 1;
        QTest::newRow("refused by the store") << Status::online << u"auto"_s << false << true << 0 << 0;
    }
    void choosingARoute()
    {
        QFETCH(RegionStatus, status);
        QFETCH(QString, current);
        QFETCH(bool, accepts);
        QFETCH(bool, asked);
        PickerCatalogState state;
        state.connections = {route(u"auto"_s, Kind::automatic), route(u"nl"_s, Kind::direct, status)};
        if (!current.isEmpty())
            state.currentConnectionID = current;
        Picker picker(state);
        picker.catalog.accepts = accepts;
        picker.catalog.gate = OneShot<void>();
        picker.sheet->activate(rowOf(picker.model(), u"conn:nl"_s));
        QCOMPARE(picker.sheet->selectionFeedback(), asked ? 1 : 0);
        QCOMPARE(picker.catalog.calls, asked ? QStringList{u"select conn:nl"_s} : QStringList());
        // Nothing follows until the store answers.
        QCOMPARE(picker.dismissals->size(), 0);
        picker.catalog.gate->resolve();
        QTRY_COMPARE(picker.catalog.answered, asked ? 1 : 0);
        QTEST(picker.applied, "applied");
        QTEST(int(picker.dismissals->size()), "dismissed");
    }

    // A server row chooses its region in the selectable form only, with the callback
    // only when the region changes; the other forms do not react to a tap.
    void onDemandRows()
    {
        PickerCatalogState state;
        state.regions = {server(u"on"_s, Status::online), server(u"sel"_s, Status::degraded),
                         server(u"boot"_s, Status::starting), server(u"off"_s)};
        state.selectedRegionID = u"sel"_s;
        Picker picker(state);
        for (const char *id : {"boot", "off", "sel", "on"})
            picker.sheet->activate(rowOf(picker.model(), u"region:"_s + QLatin1StringView(id)));
        QCOMPARE(picker.catalog.calls, (QStringList{u"select region:sel"_s, u"select region:on"_s}));
        QCOMPARE(picker.sheet->selectionFeedback(), 2);
        QCOMPARE(picker.applied, 1);
        QCOMPARE(picker.dismissals->size(), 2);
    }

    // The three refreshes start together; the whole ends when all three have.
    void refreshAllStartsAllThree()
    {
        Picker picker({});
        picker.catalog.gate = OneShot<void>();
        Pending<void> refresh(picker.sheet->refreshAll());
        QCOMPARE(picker.catalog.calls,
                 (QStringList{u"refresh connections"_s, u"refresh regions"_s, u"refresh entries"_s}));
        QVERIFY(!refresh.isDone());
        picker.catalog.gate->resolve();
        QVERIFY(refresh.waitDone());
    }

    // The progress ticks every 0.5 s while the sheet is shown and a server being
    // created is listed with its start time, and each tick updates that row alone.
    void progressTicksOneRow()
    {
        PickerCatalogState state;
        state.connections = {route(u"auto"_s, Kind::automatic)};
        state.regions = {server(u"a"_s, Status::online), server(u"b"_s), server(u"c"_s, Status::starting)};
        Picker picker(state);
        const QDateTime started = picker.clock->now().addSecs(-80);
        picker.catalog.change([&](PickerCatalogState &s) {
            s.waking = {u"b"_s};
            s.wakeStartedAt = {{u"b"_s, started}};
        });
        QCOMPARE(picker.clock->pendingTimers(), 0);
        picker.sheet->appear();
        const int row = rowOf(picker.model(), u"region:b"_s);
        QCOMPARE(picker.model().items().at(row).progress.percent, 88);
        QSignalSpy changes(&picker.model(), &QAbstractItemModel::dataChanged);
        picker.clock->advance(500ms);
        QCOMPARE(changes.size(), 1);
        QCOMPARE(changes.at(0).at(0).toModelIndex().row(), row);
        QCOMPARE(picker.model().items().at(row).progress.fraction, 80.5 / 90);
        // Capped at 95 %: nothing more to redraw.
        picker.clock->advance(10s);
        const qsizetype atCap = changes.size();
        picker.clock->advance(2s);
        QCOMPARE(changes.size(), atCap);
        QCOMPARE(picker.model().items().at(row).progress.percent, 95);
        // Off screen, or with no server being created, nothing ticks.
        picker.sheet->disappear();
        QCOMPARE(picker.clock->pendingTimers(), 0);
        picker.sheet->appear();
        picker.catalog.change([](PickerCatalogState &s) { s.waking.clear(); });
        QCOMPARE(picker.clock->pendingTimers(), 0);
    }
};

QTEST_GUILESS_MAIN(PickerModelTest)
#include "tst_picker_model.moc"
