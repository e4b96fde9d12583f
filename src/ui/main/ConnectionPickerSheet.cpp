#include "ui/main/ConnectionPickerSheet.h"

#include "catalog/RegionStatus.h"
#include "platform/Error.h"
#include "platform/L10n.h"
#include "platform/Log.h"
#include "platform/Property.h"
#include "ui/design/PreviewHost.h"
#include "ui/design/SheetHost.h"
#include "ui/main/MainModule.h"

#include <optional>

namespace kovra::ui {

namespace {

const Logger &log()
{
    static const Logger logger(QStringLiteral("ConnectionPicker"));
    return logger;
}

void logFailure(const char *what)
{
    log().error(QStringLiteral("%1 failed: %2").arg(QLatin1StringView(what), descriptionOf(std::current_exception())));
}

} // namespace

ConnectionPickerSheet::ConnectionPickerSheet(ConnectionStore *store, RegionStore *regionStore, EntryStore *entryStore,
                                             std::function<void()> onSelectionApplied, Options options,
                                             QObject *parent)
    : ConnectionPickerSheet(new StorePickerCatalog(store, regionStore, entryStore), std::move(onSelectionApplied),
                            std::move(options), parent)
{
    m_catalog->setParent(this);
}

ConnectionPickerSheet::ConnectionPickerSheet(PickerCatalog *catalog, std::function<void()> onSelectionApplied,
                                             Options options, QObject *parent)
    : QObject(parent), m_catalog(catalog), m_onSelectionApplied(std::move(onSelectionApplied)),
      m_options(std::move(options)), m_items(new PickerListModel(this))
{
    if (!m_options.clock)
        m_options.clock = Clock::system();
    if (catalog) {
        connect(catalog, &PickerCatalog::changed, this, &ConnectionPickerSheet::rebuild);
        connect(catalog, &QObject::destroyed, this, &ConnectionPickerSheet::rebuild, Qt::QueuedConnection);
    }
    rebuild();
}

ConnectionPickerSheet::~ConnectionPickerSheet() = default;

SheetHost *ConnectionPickerSheet::present(QWindow *parent, ConnectionStore *store, RegionStore *regionStore,
                                          EntryStore *entryStore, std::function<void()> onSelectionApplied,
                                          Options options, QQmlEngine *engine)
{
    registerMainModule();
    auto *picker =
        new ConnectionPickerSheet(store, regionStore, entryStore, std::move(onSelectionApplied), std::move(options));
    auto *host = new SheetHost(parent, {picker->title(), kMinimumSize, {}}, engine);
    picker->setParent(host);
    connect(picker, &ConnectionPickerSheet::dismissRequested, host, &SheetHost::dismiss);
    connect(host, &SheetHost::closed, picker, &ConnectionPickerSheet::disappear);
    const QString error =
        host->open(PreviewHost::moduleFile(QStringLiteral("Kovra.Main"), QStringLiteral("ConnectionPickerSheet")),
                   {{QStringLiteral("model"), QVariant::fromValue(picker)}});
    if (!error.isEmpty()) {
        log().error(QStringLiteral("picker did not load: %1").arg(error));
        return nullptr;
    }
    picker->appear();
    return host;
}

QString ConnectionPickerSheet::title() const
{
    return L10n::text("conn.title", u"Подключение");
}

QString ConnectionPickerSheet::refreshLabel() const
{
    return L10n::text("conn.refresh", u"Обновить");
}

QString ConnectionPickerSheet::retryLabel() const
{
    return L10n::text("common.retry", u"Повторить");
}

void ConnectionPickerSheet::rebuild()
{
    m_state = m_catalog ? m_catalog->state() : PickerCatalogState();
    m_sections = PickerSections::of(m_state.connections, m_state.regions, m_state.waking);
    const PickerListState::Value listState =
        pickerListState(m_sections.count(), m_state.connectionsLoading, m_state.regionsLoading,
                        m_state.connectionsFailed, m_state.regionsFailed);
    const PickerSelection selection{m_state.currentConnectionID, m_state.selectedRegionID, m_state.waking,
                                    m_state.wakeStartedAt};
    m_items->setItems(pickerItems(m_sections, listState, selection, m_options.clock->now(), m_items->items()));

    updateProperty(m_listState, listState, this, &ConnectionPickerSheet::listStateChanged);
    updateProperty(m_busy, m_state.connectionsLoading || m_state.regionsLoading, this,
                   &ConnectionPickerSheet::busyChanged);
    updateTicker();
}

void ConnectionPickerSheet::updateTicker()
{
    const bool wanted = m_appeared && m_items->hasTimedProgress();
    if (wanted == m_ticker.isActive())
        return;
    if (wanted)
        m_ticker.start(*m_options.clock, m_options.progressTick, [this] { tick(); });
    else
        m_ticker.stop();
}

void ConnectionPickerSheet::tick()
{
    m_items->updateProgress(m_options.clock->now());
}

void ConnectionPickerSheet::appear()
{
    if (m_appeared)
        return;
    m_appeared = true;
    // Rows are as old as the last store change: bring the progress to now first.
    tick();
    updateTicker();
    refresh();
}

void ConnectionPickerSheet::disappear()
{
    m_appeared = false;
    updateTicker();
}

QCoro::Task<void> ConnectionPickerSheet::refreshAll()
{
    const QPointer<PickerCatalog> catalog = m_catalog;
    if (!catalog)
        co_return;
    // Tasks start at once: all three requests are under way before the first await.
    QCoro::Task<void> connections = catalog->refreshConnections();
    QCoro::Task<void> regions = catalog->refreshRegions();
    QCoro::Task<void> entries = catalog->refreshEntries();
    try {
        co_await std::move(connections);
        co_await std::move(regions);
        co_await std::move(entries);
    } catch (...) {
        logFailure("catalogue refresh");
    }
}

QCoro::Task<void> ConnectionPickerSheet::runRefreshAll(QPointer<ConnectionPickerSheet> self)
{
    try {
        if (!self)
            co_return;
        co_await self->refreshAll();
    } catch (...) {
        logFailure("catalogue refresh");
    }
}

void ConnectionPickerSheet::refresh()
{
    runRefreshAll(QPointer<ConnectionPickerSheet>(this));
}

void ConnectionPickerSheet::raiseFeedback()
{
    ++m_selectionFeedback;
    Q_EMIT selectionFeedbackChanged();
}

void ConnectionPickerSheet::selectConnection(const Connection &connection)
{
    if (!isSelectable(connection.status))
        return;
    raiseFeedback();
    const bool changed = m_state.currentConnectionID != connection.id;
    applyChoice(QPointer<ConnectionPickerSheet>(this), m_catalog, connection, changed);
}

void ConnectionPickerSheet::selectRegion(const Region &region)
{
    raiseFeedback();
    const bool changed = region.id != m_state.selectedRegionID;
    applyChoice(QPointer<ConnectionPickerSheet>(this), m_catalog, region, changed);
}

void ConnectionPickerSheet::wake(const Region &region)
{
    startWake(m_catalog, region);
}

QCoro::Task<void> ConnectionPickerSheet::applyChoice(QPointer<ConnectionPickerSheet> self,
                                                     QPointer<PickerCatalog> catalog,
                                                     std::variant<Connection, Region> choice, bool changed)
{
    try {
        if (!catalog)
            co_return;
        bool accepted = false;
        if (const Connection *connection = std::get_if<Connection>(&choice)) {
            const bool answer = co_await catalog->selectConnection(*connection);
            accepted = answer;
        } else {
            const bool answer = co_await catalog->selectRegion(std::get<Region>(choice));
            accepted = answer;
        }
        if (accepted && self)
            self->finishSelection(changed);
    } catch (...) {
        logFailure("choice");
    }
}

QCoro::Task<void> ConnectionPickerSheet::startWake(QPointer<PickerCatalog> catalog, Region region)
{
    try {
        if (catalog)
            co_await catalog->wake(region);
    } catch (...) {
        logFailure("server wake");
    }
}

void ConnectionPickerSheet::finishSelection(bool changed)
{
    const QPointer<ConnectionPickerSheet> self(this);
    if (changed) {
        if (m_onSelectionApplied)
            m_onSelectionApplied();
        if (!self)
            return;
        Q_EMIT selectionApplied();
        if (!self)
            return;
    }
    Q_EMIT dismissRequested();
}

void ConnectionPickerSheet::activate(int row)
{
    const PickerItem *item = m_items->itemAt(row);
    if (!item || item->kind != PickerItemKind::ServerRow)
        return;
    // Copies: the choice may change the rows at once.
    if (const auto *connection = std::get_if<Connection>(&item->target)) {
        const Connection chosen = *connection;
        selectConnection(chosen);
    } else if (const auto *region = std::get_if<Region>(&item->target)) {
        const Region chosen = *region;
        selectRegion(chosen);
    }
}

void ConnectionPickerSheet::wakeRow(int row)
{
    const PickerItem *item = m_items->itemAt(row);
    if (!item || item->kind != PickerItemKind::AsleepRow)
        return;
    if (const auto *region = std::get_if<Region>(&item->target)) {
        const Region chosen = *region;
        wake(chosen);
    }
}

} // namespace kovra::ui
