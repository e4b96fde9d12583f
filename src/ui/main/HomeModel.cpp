#include "ui/main/HomeModel.h"

#include "account/MeStore.h"
#include "account/SubscriptionStore.h"
#include "ui/main/ConnectCoordinator.h"
#include "catalog/ConnectionStore.h"
#include "catalog/EntryStore.h"
#include "catalog/RegionStore.h"
#include "connectivity/ConnectivityEngine.h"
#include "platform/Async.h"
#include "platform/DesktopUrlOpener.h"
#include "platform/L10n.h"
#include "platform/Log.h"
#include "platform/Property.h"
#include "tunnel/SystemExtensionActivator.h"
#include "tunnel/TunnelController.h"
#include "ui/account/AccountScreens.h"
#include "ui/account/SubscriptionStripModel.h"
#include "ui/design/BrandFonts.h"
#include "ui/diagnostics/DiagnosticsSheet.h"
#include "ui/main/ConnectionPickerSheet.h"
#include "ui/main/HomeNotice.h"
#include "ui/main/StatusLook.h"

namespace kovra::ui {

namespace {

const Logger &log()
{
    static const Logger logger(QStringLiteral("Home"));
    return logger;
}

bool isTransition(VPNStatus status)
{
    return status == VPNStatus::Connecting || status == VPNStatus::Reasserting || status == VPNStatus::Disconnecting;
}

template<typename T>
QCoro::Task<void> driveToEnd(QCoro::Task<T> work, OneShot<void> end)
{
    try {
        co_await work;
    } catch (...) {
        log().error(QStringLiteral("appearance step failed: %1").arg(descriptionOf(std::current_exception())));
    }
    end.resolve();
}

// Ends when `work` has ended or when `token` fires, whichever comes first; cancelled
// work runs on by itself.
template<typename T>
QCoro::Task<void> untilEndOrCancelled(QCoro::Task<T> work, CancellationToken token)
{
    OneShot<void> end;
    driveToEnd(std::move(work), end);
    QObject guard;
    token.onCancel(&guard, [end]() mutable { end.cancel(); });
    co_await end.waitForEnd();
}

template<typename Store>
QCoro::Task<void> refreshOf(QPointer<Store> store)
{
    // Each store keeps its last data and records its own failure; none throws.
    if (store)
        co_await store->refresh();
}

} // namespace

HomeModel::HomeModel(ConnectCoordinator *coordinator, ConnectivityEngine *connectivity,
                           TunnelController *tunnel, HomeStores stores, const AccountScreens *accountScreens,
                           Options options, QObject *parent)
    : QObject(parent),
      m_coordinator(coordinator),
      m_connectivity(connectivity),
      m_tunnel(tunnel),
      m_subscriptions(stores.subscriptions),
      m_me(stores.me),
      m_connections(stores.connections),
      m_regions(stores.regions),
      m_entries(stores.entries),
      m_accountScreens(accountScreens),
      m_options(std::move(options)),
      m_diagnosticsSheet([this](QWindow *parent) { return presentDiagnostics(parent); },
                         [this] { setShowDiagnostics(false); }),
      m_pickerSheet([this](QWindow *parent) { return presentPicker(parent); },
                    [this] { setShowConnectionPicker(false); })
{
    if (!m_options.linkOpener)
        m_options.linkOpener = std::make_shared<DesktopUrlOpener>();
    if (!m_options.clock)
        m_options.clock = Clock::system();
    m_notice = new HomeNotice(coordinator ? coordinator->hero() : nullptr,
                              tunnel ? tunnel->systemExtensionActivator() : nullptr, m_options.linkOpener, this);
    if (accountScreens)
        m_subscriptionCard = accountScreens->subscriptionStrip(this);

    if (coordinator) {
        for (auto signal : {&ConnectCoordinator::statusTextChanged, &ConnectCoordinator::statusDotStateChanged,
                            &ConnectCoordinator::buttonVisualChanged, &ConnectCoordinator::isToggleEnabledChanged})
            connect(coordinator, signal, this, &HomeModel::updateHero);
        connect(coordinator, &ConnectCoordinator::canChangeConnectionChanged, this, &HomeModel::updateRow);
    }
    if (connectivity)
        connect(connectivity, &ConnectivityEngine::verdictChanged, this, &HomeModel::updateHero);
    if (stores.connections)
        connect(stores.connections, &ConnectionStore::currentConnectionChanged, this, &HomeModel::updateRow);
    if (tunnel)
        connect(tunnel, &TunnelController::statusChanged, this, &HomeModel::tunnelStatusChanged);
    updateHero();
    updateRow();
}

HomeModel::~HomeModel()
{
    if (m_appearance)
        m_appearance->cancel();
}

QString HomeModel::title() const
{
    return L10n::text("home.title", u"Kovra S");
}

QString HomeModel::diagnosticsLabel() const
{
    return L10n::text("home.diagnostics", u"Диагностика");
}

QString HomeModel::settingsLabel() const
{
    return L10n::text("home.settings", u"Настройки");
}

QString HomeModel::backLabel() const
{
    return L10n::text("home.back", u"Назад");
}

QString HomeModel::connectionHeading() const
{
    return L10n::text("conn.title", u"Подключение");
}

qreal HomeModel::noticeSlotMinHeight() const
{
    return 32.0 * BrandFonts::instance().body.pixelSize() / kDesignBodyPixelSize;
}

QString HomeModel::autoLabel() const
{
    return L10n::text("home.connection.auto", u"Авто");
}

QString HomeModel::connectionTooltip() const
{
    return m_row.canChange ? L10n::text("home.region.open_hint", u"Открыть выбор подключения")
                           : L10n::text("home.region.locked_hint", u"Подключение нельзя менять во время перехода VPN");
}

QString HomeModel::connectionAccessibilityLabel() const
{
    return L10n::text("home.region.label", u"Подключение");
}

QString HomeModel::connectionAccessibilityValue() const
{
    return m_row.hasConnection ? m_row.label : autoLabel();
}

void HomeModel::updateHero()
{
    Hero next;
    if (m_coordinator) {
        next.text = m_coordinator->statusText();
        next.dot = m_coordinator->statusDotState();
        next.visual = m_coordinator->buttonVisual();
        next.canInteract = m_coordinator->isToggleEnabled();
    }
    next.colorRole = ui::statusTextColorRole(next.dot);
    next.glow = m_connectivity && m_connectivity->verdict() == ConnectivityVerdict::online;
    updateProperty(m_hero, std::move(next), this, &HomeModel::heroChanged);
}

void HomeModel::updateRow()
{
    Row next;
    const std::optional<Connection> current = m_connections ? m_connections->currentConnection() : std::nullopt;
    if (current) {
        next.hasConnection = true;
        next.flags = current->flags;
        next.label = current->label;
    }
    next.canChange = m_coordinator && m_coordinator->canChangeConnection();
    updateProperty(m_row, std::move(next), this, &HomeModel::connectionRowChanged);
}

void HomeModel::tunnelStatusChanged()
{
    if (m_tunnel && isTransition(m_tunnel->status()))
        setShowConnectionPicker(false);
}

void HomeModel::setShowDiagnostics(bool shown)
{
    if (updateProperty(m_showDiagnostics, shown, this, &HomeModel::showDiagnosticsChanged))
        m_diagnosticsSheet.sync(m_showDiagnostics, m_window);
}

void HomeModel::setShowConnectionPicker(bool shown)
{
    if (updateProperty(m_showConnectionPicker, shown, this, &HomeModel::showConnectionPickerChanged))
        m_pickerSheet.sync(m_showConnectionPicker, m_window);
}

void HomeModel::setWindow(QWindow *window)
{
    if (m_window == window)
        return;
    m_window = window;
    Q_EMIT windowChanged();
    syncSheets();
}

void HomeModel::syncSheets()
{
    m_diagnosticsSheet.sync(m_showDiagnostics, m_window);
    m_pickerSheet.sync(m_showConnectionPicker, m_window);
}

SheetHost *HomeModel::presentDiagnostics(QWindow *parent)
{
    DiagnosticsViewOptions options = m_options.diagnostics;
    if (!options.clock)
        options.clock = m_options.clock;
    // The sheet gets the tunnel controller and no connectivity engine.
    return DiagnosticsSheet::present(parent, m_tunnel, nullptr, std::move(options), m_options.sheetEngine);
}

SheetHost *HomeModel::presentPicker(QWindow *parent)
{
    ConnectionPickerOptions options;
    options.clock = m_options.clock;
    // The picker dismisses itself after a selection; nothing more to do then.
    return ConnectionPickerSheet::present(parent, m_connections, m_regions, m_entries, {}, std::move(options),
                                          m_options.sheetEngine);
}

void HomeModel::toggle()
{
    if (m_coordinator)
        m_coordinator->toggle();
}

void HomeModel::openConnectionPicker()
{
    if (m_row.canChange)
        setShowConnectionPicker(true);
}

void HomeModel::openDiagnostics()
{
    setShowDiagnostics(true);
}

void HomeModel::openSettings()
{
    Q_EMIT settingsRequested();
}

void HomeModel::setOnScreen(bool onScreen)
{
    if (!updateProperty(m_onScreen, onScreen, this, &HomeModel::onScreenChanged))
        return;
    if (onScreen)
        appear();
    else
        leave();
}

void HomeModel::appear()
{
    // A start already under way when the window opens is still timed out.
    if (m_tunnel && m_coordinator
        && (m_tunnel->status() == VPNStatus::Connecting || m_tunnel->status() == VPNStatus::Reasserting))
        m_coordinator->hero()->armWatchdog();
    leave();
    m_appearance.emplace();
    runAppearance(this, m_appearance->token());
}

void HomeModel::leave()
{
    if (m_appearance)
        m_appearance->cancel();
    m_appearance.reset();
}

QCoro::Task<void> HomeModel::runAppearance(QPointer<HomeModel> self, CancellationToken token)
{
    try {
        const QPointer<TunnelController> tunnel = self->m_tunnel;
        if (tunnel) {
            QCoro::Task<void> attach = tunnel->attach();
            co_await untilEndOrCancelled(std::move(attach), token);
        }
        if (!self || token.isCancelled())
            co_return;
        if (self->m_coordinator)
            self->m_coordinator->seedConnectivityIfNeeded();

        // All five start at once; each is awaited in turn.
        QCoro::Task<void> refreshes[] = {refreshOf(self->m_subscriptions), refreshOf(self->m_connections),
                                         refreshOf(self->m_me), refreshOf(self->m_regions),
                                         refreshOf(self->m_entries)};
        for (QCoro::Task<void> &refresh : refreshes) {
            co_await untilEndOrCancelled(std::move(refresh), token);
            if (!self || token.isCancelled())
                co_return;
        }

        const QPointer<SystemExtensionActivator> activator = tunnel ? tunnel->systemExtensionActivator() : nullptr;
        if (activator) {
            // The notice slot shows the activator's state; the result is not needed here.
            QCoro::Task<SystemExtensionState> activation = activator->activate();
            co_await untilEndOrCancelled(std::move(activation), token);
        }
    } catch (...) {
        log().error(QStringLiteral("appearance failed: %1").arg(descriptionOf(std::current_exception())));
    }
}

} // namespace kovra::ui
