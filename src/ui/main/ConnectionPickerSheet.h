#pragma once

#include "catalog/Connection.h"
#include "catalog/Region.h"
#include "platform/Clock.h"
#include "ui/main/PickerCatalog.h"
#include "ui/main/PickerListModel.h"
#include "ui/main/PickerSections.h"

#include <QObject>
#include <QPointer>
#include <QSize>
#include <QtQml/qqmlregistration.h>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <functional>
#include <memory>
#include <variant>

class QQmlEngine;
class QWindow;

namespace kovra {

class ConnectionStore;
class EntryStore;
class RegionStore;

namespace ui {

class SheetHost;

struct ConnectionPickerOptions {
    // How often the progress of a server being created is redrawn.
    std::chrono::milliseconds progressTick{500};
    std::shared_ptr<Clock> clock = Clock::system();
};

// The connection picker: the route catalogue of the connection store and the
// on-demand servers of the region store as one list (`items`), the list state, the
// refresh of all three catalogues, and the choices made in it.
//
// A choice of a route or of an on-demand server that cannot be selected does
// nothing at all. Otherwise it raises `selectionFeedback` and hands the choice to the
// connection store; once the store accepts it, `onSelectionApplied` runs (and
// selectionApplied() is emitted) when the choice differs from the one in use, and
// dismissRequested() asks the presenter to close the sheet. A refusal leaves the
// sheet open. A wake asks the region store to create the server and keeps the sheet
// open; the row follows the store's waking state.
//
// While appeared and a server being created is listed with its start time, its row's
// progress is recomputed on the clock every `progressTick` (that row alone).
// The catalogue is held weakly (one that is gone reads as empty and idle).
// Lives on the GUI thread.
class ConnectionPickerSheet : public QObject {
    Q_OBJECT
    QML_NAMED_ELEMENT(ConnectionPickerModel)
    QML_UNCREATABLE("made by the presenter")
    Q_PROPERTY(kovra::ui::PickerListModel *items READ items CONSTANT)
    Q_PROPERTY(kovra::ui::PickerListState::Value listState READ listState NOTIFY listStateChanged)
    Q_PROPERTY(bool busy READ isBusy NOTIFY busyChanged)
    Q_PROPERTY(qint64 selectionFeedback READ selectionFeedback NOTIFY selectionFeedbackChanged)
    Q_PROPERTY(QString title READ title CONSTANT)
    Q_PROPERTY(QString refreshLabel READ refreshLabel CONSTANT)
    Q_PROPERTY(QString retryLabel READ retryLabel CONSTANT)
public:
    using Options = ConnectionPickerOptions;

    static constexpr QSize kMinimumSize{460, 520};

    ConnectionPickerSheet(ConnectionStore *store, RegionStore *regionStore, EntryStore *entryStore,
                          std::function<void()> onSelectionApplied = {}, Options options = {},
                          QObject *parent = nullptr);
    // Over another catalogue (not owned).
    explicit ConnectionPickerSheet(PickerCatalog *catalog, std::function<void()> onSelectionApplied = {},
                                   Options options = {}, QObject *parent = nullptr);
    ~ConnectionPickerSheet() override;

    // Presents the picker over `parent`: a sheet titled "conn.title", at least 460 by
    // 520, holding a new picker that the presentation owns, which refreshes the three
    // catalogues at once. Its dismiss request closes the sheet as the user's dismissal
    // does (SheetHost::dismissed). Returns the presentation (it deletes itself once
    // closed), or null when the QML did not load. `engine`: that of `parent` when null.
    static SheetHost *present(QWindow *parent, ConnectionStore *store, RegionStore *regionStore,
                              EntryStore *entryStore, std::function<void()> onSelectionApplied = {},
                              Options options = {}, QQmlEngine *engine = nullptr);

    // The derived lists (see PickerSections), as of the stores' last change.
    const QList<Connection> &autoConnections() const { return m_sections.autoConnections; }
    const QList<Connection> &directConnections() const { return m_sections.directConnections; }
    const QList<Connection> &relayConnections() const { return m_sections.relayConnections; }
    const QList<Region> &onDemandRegions() const { return m_sections.onDemandRegions; }

    PickerListModel *items() const { return m_items; }
    PickerListState::Value listState() const { return m_listState; }
    // A connection or region refresh runs.
    bool isBusy() const { return m_busy; }
    // Raised by one by each choice that goes ahead.
    qint64 selectionFeedback() const { return m_selectionFeedback; }

    QString title() const;
    QString refreshLabel() const;
    QString retryLabel() const;

    // Refreshes the three catalogues together and ends when all three have ended
    // (awaited connections, regions, entries). Never throws.
    QCoro::Task<void> refreshAll();

    void selectConnection(const Connection &connection);
    void selectRegion(const Region &region);
    void wake(const Region &region);

    // The sheet came on screen: refreshes the catalogues once and lets the progress tick.
    Q_INVOKABLE void appear();
    // The sheet left the screen: the progress stops.
    Q_INVOKABLE void disappear();
    // The refresh control and the empty state's retry: starts refreshAll(), returns at once.
    Q_INVOKABLE void refresh();
    // A tap on the row: the route, or the on-demand server in its selectable form.
    Q_INVOKABLE void activate(int row);
    // The wake button of an on-demand server's row.
    Q_INVOKABLE void wakeRow(int row);

Q_SIGNALS:
    void listStateChanged();
    void busyChanged();
    void selectionFeedbackChanged();
    // The choice was accepted: the presenter closes the sheet.
    void dismissRequested();
    // The accepted choice changed the route in use (after onSelectionApplied ran).
    void selectionApplied();

private:
    void rebuild();
    void updateTicker();
    void tick();
    void raiseFeedback();
    void finishSelection(bool changed);
    static QCoro::Task<void> applyChoice(QPointer<ConnectionPickerSheet> self, QPointer<PickerCatalog> catalog,
                                         std::variant<Connection, Region> choice, bool changed);
    static QCoro::Task<void> startWake(QPointer<PickerCatalog> catalog, Region region);
    static QCoro::Task<void> runRefreshAll(QPointer<ConnectionPickerSheet> self);

    QPointer<PickerCatalog> m_catalog;
    PickerCatalogState m_state;
    std::function<void()> m_onSelectionApplied;
    Options m_options;
    PickerListModel *m_items;
    PickerSections m_sections;
    PickerListState::Value m_listState = PickerListState::Empty;
    bool m_busy = false;
    qint64 m_selectionFeedback = 0;
    bool m_appeared = false;
    ClockTicker m_ticker;
};

} // namespace ui
} // namespace kovra
