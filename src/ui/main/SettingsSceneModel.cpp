#include "ui/main/SettingsSceneModel.h"

#include "account/AuthState.h"
#include "platform/L10n.h"
#include "platform/Property.h"
#include "ui/account/AccountScreens.h"
#include "ui/account/SettingsModel.h"

namespace kovra::ui {

SettingsSceneModel::SettingsSceneModel(AuthState *authState, const AccountScreens *screens, QObject *parent)
    : QObject(parent), m_auth(authState), m_screens(screens)
{
    if (authState)
        connect(authState, &AuthState::statusChanged, this, &SettingsSceneModel::updateSignedIn);
    updateSignedIn();
}

QString SettingsSceneModel::placeholderSymbol()
{
    return QStringLiteral("person.crop.circle.badge.xmark");
}

QString SettingsSceneModel::placeholderTitle()
{
    return L10n::text("settings.signed_out.title", u"Вы вышли из аккаунта");
}

QString SettingsSceneModel::placeholderHint()
{
    return L10n::text("settings.signed_out.hint", u"Войдите в главном окне, чтобы открыть настройки.");
}

QString SettingsSceneModel::backLabel()
{
    return L10n::text("home.back", u"Назад");
}

SettingsModel *SettingsSceneModel::makeSettings() const
{
    if (!m_signedIn || !m_screens)
        return nullptr;
    return m_screens->settings();
}

void SettingsSceneModel::updateSignedIn()
{
    const bool signedIn = m_auth && m_auth->statusKind() == AuthState::StatusKind::authenticated;
    updateProperty(m_signedIn, signedIn, this, &SettingsSceneModel::signedInChanged);
}

} // namespace kovra::ui
