#include "ui/main/HomeNotice.h"

#include "ui/main/ConnectionHeroState.h"
#include "platform/Error.h"
#include "platform/L10n.h"
#include "platform/Log.h"
#include "platform/UrlOpener.h"

#include <QUrl>

namespace kovra::ui {

namespace {

QCoro::Task<void> openLink(std::shared_ptr<UrlOpener> opener, QUrl url)
{
    try {
        co_await opener->openURL(url);
    } catch (...) {
        Logger(QStringLiteral("Home")).error(QStringLiteral("settings link failed: %1").arg(descriptionOf(std::current_exception())));
    }
}

} // namespace

const QString HomeNotice::kSettingsLink =
    QStringLiteral("x-apple.systempreferences:com.apple.LoginItems-Settings.extension");

HomeNotice::HomeNotice(ConnectionHeroState *hero, SystemExtensionActivator *activator,
                       std::shared_ptr<UrlOpener> linkOpener, QObject *parent)
    : QObject(parent), m_hero(hero), m_activator(activator), m_linkOpener(std::move(linkOpener))
{
    if (hero) {
        connect(hero, &ConnectionHeroState::startErrorChanged, this, &HomeNotice::update);
        connect(hero, &QObject::destroyed, this, &HomeNotice::update, Qt::QueuedConnection);
    }
    if (activator) {
        connect(activator, &SystemExtensionActivator::stateChanged, this, &HomeNotice::update);
        connect(activator, &QObject::destroyed, this, &HomeNotice::update, Qt::QueuedConnection);
    }
    m_banner = choose();
}

HomeNotice::Banner HomeNotice::choose() const
{
    if (m_hero && m_hero->hasStartError())
        return {true, NoticeTone::Danger, m_hero->startErrorText(), {}, false};
    if (!m_activator)
        return {};
    const SystemExtensionState state = m_activator->state();
    const std::optional<QString> message = state.userMessage();
    if (!message)
        return {};
    const QString title = state.kind() == SystemExtensionState::NeedsApproval
                              ? L10n::text("home.sysext.open_settings", u"Открыть настройки")
                              : QString();
    return {true, NoticeTone::Warning, *message, title, true};
}

void HomeNotice::update()
{
    Banner next = choose();
    if (next == m_banner)
        return;
    m_banner = std::move(next);
    Q_EMIT changed();
}

void HomeNotice::performAction()
{
    const QUrl url(kSettingsLink, QUrl::StrictMode);
    if (!m_banner.hasAction || !m_linkOpener || !url.isValid())
        return;
    openLink(m_linkOpener, url);
}

} // namespace kovra::ui
