#include "ui/main/MenuBarExtra.h"

#include "platform/Log.h"
#include "ui/design/Appearance.h"
#include "ui/design/DesignModule.h"
#include "ui/main/MenuBarModel.h"
#include "ui/main/MainModule.h"
#include "ui/main/MenuBarIcon.h"
#include "ui/main/WindowPlacement.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QKeySequence>
#include <QMenu>
#include <QQmlEngine>
#include <QQuickView>
#include <QScreen>
#include <QSystemTrayIcon>

namespace kovra::ui {

namespace {

const Logger &log()
{
    static const Logger logger(QStringLiteral("MenuBar"));
    return logger;
}

const QUrl kPanelUrl(QStringLiteral("qrc:/qt/qml/Kovra/Main/MenuBarView.qml"));

bool windowsPlaceThemselves()
{
    return !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

// A menu item's text with its key, which the menu shows at its right edge (the key
// works in the app's windows; the menu only names it).
QString withKey(const QString &title, const QString &key)
{
    return title + u'\t' + QKeySequence(key).toString(QKeySequence::NativeText);
}

} // namespace

MenuBarExtra::MenuBarExtra(MenuBarSources sources, MenuBarActions actions, Options options, QObject *parent)
    : QObject(parent), m_actions(std::move(actions)), m_options(std::move(options)), m_engine(m_options.engine)
{
    if (!m_options.clock)
        m_options.clock = Clock::system();
    Appearance *appearance = m_options.appearance;
    if (!appearance && m_engine)
        appearance = Appearance::installed(*m_engine);
    if (!appearance) {
        m_ownAppearance = std::make_unique<Appearance>();
        appearance = m_ownAppearance.get();
    }
    if (!m_engine) {
        m_ownEngine = std::make_unique<QQmlEngine>();
        prepareEngine(*m_ownEngine, appearance);
        m_engine = m_ownEngine.get();
    }

    m_model = new MenuBarModel(sources.coordinator, sources.connectivity, sources.subscriptions,
                                  sources.connections, m_options.clock, this);
    m_icon = new MenuBarIcon(appearance, this);
    m_tray = new QSystemTrayIcon(this);

    connect(m_model, &MenuBarModel::labelSymbolChanged, this, [this] { m_icon->setSymbol(m_model->labelSymbol()); });
    connect(m_icon, &MenuBarIcon::iconChanged, this, [this] { m_tray->setIcon(m_icon->icon()); });
    connect(m_model, &MenuBarModel::headerChanged, this, [this] { m_tray->setToolTip(m_model->statusText()); });
    m_icon->setSymbol(m_model->labelSymbol());
    m_tray->setToolTip(m_model->statusText());

    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            togglePanel(iconAnchor());
    });
    connect(m_model, &MenuBarModel::mainWindowRequested, this, [this] { runAction(m_actions.openMainWindow); });
    connect(m_model, &MenuBarModel::settingsRequested, this, [this] { runAction(m_actions.openSettings); });
    connect(m_model, &MenuBarModel::quitRequested, this, [this] { runAction(m_actions.quit); });
    connect(m_model, &MenuBarModel::dismissRequested, this, &MenuBarExtra::closePanel);
    buildMenu();
}

MenuBarExtra::~MenuBarExtra()
{
    // The menu and the panel go before the model they show.
    if (m_tray)
        m_tray->setContextMenu(nullptr);
    m_menu.reset();
    m_panel.reset();
}

bool MenuBarExtra::isTrayAvailable()
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void MenuBarExtra::setIconVisible(bool visible)
{
    m_tray->setVisible(visible);
}

bool MenuBarExtra::isIconVisible() const
{
    return m_tray->isVisible();
}

bool MenuBarExtra::isPanelOpen() const
{
    return m_panel && m_panel->isVisible();
}

void MenuBarExtra::buildMenu()
{
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return;
    m_menu = std::make_unique<QMenu>();
    m_primaryAction = m_menu->addAction(QString(), m_model, &MenuBarModel::activatePrimary);
    m_primaryAction->setObjectName(QStringLiteral("primaryAction"));
    m_menu->addSeparator();
    m_menu->addAction(MenuBarModel::openTitle(), m_model, &MenuBarModel::openMainWindow)
        ->setObjectName(QStringLiteral("openAction"));
    m_menu->addAction(withKey(MenuBarModel::settingsTitle(), MenuBarModel::settingsShortcut()), m_model,
                      &MenuBarModel::openSettings)
        ->setObjectName(QStringLiteral("settingsAction"));
    m_menu->addAction(withKey(MenuBarModel::quitTitle(), MenuBarModel::quitShortcut()), m_model, &MenuBarModel::quit)
        ->setObjectName(QStringLiteral("quitAction"));
    connect(m_model, &MenuBarModel::primaryChanged, this, &MenuBarExtra::updateMenu);
    updateMenu();
    m_tray->setContextMenu(m_menu.get());
}

void MenuBarExtra::updateMenu()
{
    m_primaryAction->setText(withKey(m_model->primaryTitle(), MenuBarModel::connectShortcut()));
    m_primaryAction->setEnabled(m_model->primaryEnabled());
}

void MenuBarExtra::ensurePanel()
{
    if (m_panel)
        return;
    registerMainModule();
    m_panel = std::make_unique<QQuickView>(m_engine, nullptr);
    m_panel->setObjectName(QStringLiteral("menuBarPanel"));
    m_panel->setFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    m_panel->setTitle(QStringLiteral("Kovra S"));
    m_panel->setResizeMode(QQuickView::SizeViewToRootObject);
    m_panel->setInitialProperties({{QStringLiteral("model"), QVariant::fromValue(m_model)}});
    m_panel->setSource(kPanelUrl);
    for (const QQmlError &error : m_panel->errors())
        log().error(QStringLiteral("panel failed to load: %1").arg(error.toString()));
    connect(m_panel.get(), &QWindow::activeChanged, this, &MenuBarExtra::panelActiveChanged);
    connect(m_panel.get(), &QWindow::visibleChanged, this, &MenuBarExtra::panelOpenChanged);
    // The subscription line comes and goes: keep the panel where it belongs.
    connect(m_panel.get(), &QWindow::heightChanged, this, [this] {
        if (isPanelOpen())
            placePanel();
    });
}

void MenuBarExtra::openPanel(std::optional<QRect> anchor)
{
    ensurePanel();
    m_anchor = anchor.value_or(QRect(QCursor::pos(), QSize(1, 1)));
    m_closedByFocusLoss.reset();
    m_model->refreshTimeTexts();
    placePanel();
    m_panel->show();
    m_panel->raise();
    m_panel->requestActivate();
}

void MenuBarExtra::closePanel()
{
    if (m_panel)
        m_panel->hide();
}

void MenuBarExtra::togglePanel(std::optional<QRect> anchor)
{
    if (isPanelOpen()) {
        closePanel();
        return;
    }
    // The click that took the focus from the open panel has closed it already.
    if (m_closedByFocusLoss && m_options.clock->monotonicNow() - *m_closedByFocusLoss < m_options.reopenGuard) {
        m_closedByFocusLoss.reset();
        return;
    }
    openPanel(anchor);
}

void MenuBarExtra::placePanel()
{
    if (!m_options.placesPanel.value_or(windowsPlaceThemselves()))
        return;
    QScreen *screen = QGuiApplication::screenAt(m_anchor.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    m_panel->setPosition(panelPosition(m_anchor, m_panel->size(), screen->availableGeometry()));
}

void MenuBarExtra::panelActiveChanged()
{
    if (m_panel->isActive() || !m_panel->isVisible())
        return;
    m_closedByFocusLoss = m_options.clock->monotonicNow();
    m_panel->hide();
}

void MenuBarExtra::runAction(const std::function<void()> &action)
{
    closePanel();
    if (action)
        action();
}

std::optional<QRect> MenuBarExtra::iconAnchor() const
{
    const QRect geometry = m_tray->geometry();
    if (geometry.isValid() && !geometry.isEmpty())
        return geometry;
    return std::nullopt;
}

QPoint MenuBarExtra::panelPosition(const QRect &anchor, const QSize &size, const QRect &available)
{
    const bool below = anchor.center().y() < available.center().y();
    const int x = anchor.center().x() - size.width() / 2;
    const int y = below ? anchor.bottom() + 1 + kPanelGap : anchor.top() - kPanelGap - size.height();
    return keptInside({x, y}, size, available);
}

} // namespace kovra::ui
