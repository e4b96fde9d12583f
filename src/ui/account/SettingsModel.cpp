#include "SettingsModel.h"

#include "SupportChecklistModel.h"
#include "SupportContact.h"

#include "account/AppleAuthService.h"
#include "account/AuthState.h"
#include "account/GoogleAuthService.h"
#include "account/MeStore.h"
#include "platform/BuildInfo.h"
#include "platform/L10n.h"
#include "platform/Property.h"

namespace kovra::ui {

namespace {

QString orDash(const QString &value)
{
    return value.isEmpty() ? QStringLiteral("—") : value;
}

QVariantMap settingsTexts()
{
    return {
        {QStringLiteral("accountHeader"), L10n::text("settings.section.account", u"Аккаунт")},
        {QStringLiteral("routingHeader"), L10n::text("settings.section.routing", u"Маршрутизация")},
        {QStringLiteral("routingFooter"),
         L10n::text("settings.routing.footer.mac", u"При изменении активный туннель переподключится.")},
        {QStringLiteral("automationHeader"), L10n::text("settings.section.automation", u"Автоматизация")},
        {QStringLiteral("automationFooter"),
         L10n::text("settings.automation.footer", u"«Отключать при блокировке» работает, когда включена блокировка экрана.")},
        {QStringLiteral("autoDisconnectTitle"), L10n::text("settings.autoDisconnect.title", u"Автоотключение")},
        {QStringLiteral("autoDisconnectSubtitle"),
         L10n::text("settings.autoDisconnect.subtitle", u"Отключать VPN автоматически через заданное время.")},
        {QStringLiteral("supportHeader"), L10n::text("settings.section.support", u"Поддержка")},
        {QStringLiteral("checklist"), L10n::text("settings.support.checklist", u"Не работает VPN?")},
        {QStringLiteral("aboutHeader"), L10n::text("settings.section.about", u"О приложении")},
        {QStringLiteral("version"), L10n::text("settings.version", u"Версия")},
        {QStringLiteral("build"), L10n::text("settings.build", u"Сборка")},
        {QStringLiteral("privacy"), L10n::text("settings.privacy", u"Политика конфиденциальности")},
        {QStringLiteral("logout"), L10n::text("settings.logout", u"Выйти из аккаунта")},
        {QStringLiteral("logoutConfirmTitle"), L10n::text("settings.logout.confirm.title", u"Выйти из аккаунта?")},
        {QStringLiteral("logoutConfirmAction"), L10n::text("settings.logout.confirm.action", u"Выйти")},
        {QStringLiteral("cancel"), L10n::text("common.cancel", u"Отмена")},
    };
}

} // namespace

SettingsAbout SettingsAbout::of(const QString &version, const QString &buildNumber)
{
    return {orDash(version), orDash(buildNumber)};
}

SettingsAbout SettingsAbout::ofThisBuild()
{
    return of(QString::fromUtf8(buildinfo::version()), QString::fromUtf8(buildinfo::number()));
}

SettingsModel::SettingsModel(const AccountServices &services, SettingsAbout about, QObject *parent)
    : AccountPageModel(L10n::text("settings.title", u"Настройки"), parent), m_services(services),
      m_store(services.appGroup ? *services.appGroup : AppGroupStore(Defaults::inMemory(), nullptr)),
      m_preferences(SettingsPreferences::read(m_store)), m_about(std::move(about)), m_texts(settingsTexts()),
      m_supportContact(new SupportContact(services.linkOpener, services.links, this))
{
    if (AuthState *auth = m_services.authState)
        connect(auth, &AuthState::statusChanged, this, &SettingsModel::refreshRows);
    if (MeStore *me = m_services.meStore)
        connect(me, &MeStore::latestChanged, this, &SettingsModel::refreshRows);
    refreshRows();
}

SettingsModel::~SettingsModel() = default;

QVariantList SettingsModel::accountRowsVariant() const
{
    QVariantList rows;
    for (const LinkedAccountRow &row : m_rows)
        rows << row.toVariant();
    return rows;
}

LinkingState SettingsModel::linkingState() const
{
    const AuthState *auth = m_services.authState;
    return {m_isLinkingApple, m_isLinkingGoogle, auth && auth->statusKind() == AuthState::StatusKind::linking};
}

void SettingsModel::refreshRows()
{
    updateProperty(m_rows,
                   LinkedAccountRow::of(m_services.meStore ? m_services.meStore->latest() : std::nullopt,
                                        linkingState(),
                                        m_services.appleService && m_services.appleService->isAvailable(),
                                        m_services.googleService != nullptr),
                   this, &SettingsModel::accountRowsChanged);
}

void SettingsModel::setLinking(LinkedAccount::Value account, bool value)
{
    (account == LinkedAccount::Apple ? m_isLinkingApple : m_isLinkingGoogle) = value;
    refreshRows();
}

void SettingsModel::setLinkError(std::optional<QString> text)
{
    updateProperty(m_linkError, std::move(text), this, &SettingsModel::linkErrorChanged);
}

void SettingsModel::onShown()
{
    // The record's failures are the store's business; nothing shows here.
    if (MeStore *me = m_services.meStore) {
        QCoro::Task<void> refresh = me->refresh();
    }
}

void SettingsModel::requestLogout()
{
    // The message follows the record as it is when the confirmation opens.
    m_logoutConfirmMessage = ui::logoutConfirmMessage(m_services.meStore ? m_services.meStore->latest() : std::nullopt);
    if (m_showLogoutConfirm)
        return;
    m_showLogoutConfirm = true;
    Q_EMIT showLogoutConfirmChanged();
}

void SettingsModel::confirmLogout()
{
    cancelLogout();
    // Ending the session may take this screen away: nothing of it is touched after.
    if (AuthState *auth = m_services.authState)
        auth->clearSession();
}

void SettingsModel::cancelLogout()
{
    updateProperty(m_showLogoutConfirm, false, this, &SettingsModel::showLogoutConfirmChanged);
}

void SettingsModel::openPrivacyPolicy()
{
    if (!showsPrivacyLink() || !m_services.linkOpener)
        return;
    QCoro::Task<bool> opening = m_services.linkOpener->openURL(m_services.links.privacyPolicyUrl);
}

SupportChecklistModel *SettingsModel::makeSupportChecklist() const
{
    return new SupportChecklistModel(m_services.linkOpener, m_services.links);
}

} // namespace kovra::ui
