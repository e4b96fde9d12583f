#include "ui/main/MacSettingsSceneModel.h"

#include "account/AuthState.h"
#include "platform/L10n.h"
#include "platform/Property.h"
#include "ui/account/AccountScreens.h"
#include "ui/account/SettingsModel.h"

namespace kovra::ui {

MacSettingsSceneModel::MacSettingsSceneModel(AuthState *authState, const AccountScreens *screens, QObject *parent)
    : QObject(parent), m_auth(authState), m_screens(screens)
{
    if (authState)
        connect(authState, &AuthState::statusChanged, this, &MacSettingsSceneModel::updateSignedIn);
    updateSignedIn();
}

QString MacSettingsSceneModel::placeholderSymbol()
{
    return QStringLiteral("person.crop.circle.badge.xmark");
}

QString MacSettingsSceneModel::placeholderTitle()
{
    return L10n::text("settings.signed_out.title", u"Вы вышли из аккаунта");
}

QString MacSettingsSceneModel::placeholderHint()
{
    return L10n::text("settings.signed_out.hint", u"Войдите в главном окне, чтобы открыть настройки.");
}

QString MacSettingsSceneModel::backLabel()
{
    return L10n::text("home.back", u"Назад");
}

SettingsModel *MacSettingsSceneModel::makeSettings() const
{
    if (!m_signedIn || !m_screens)
        return nullptr;
    return m_screens->settings();
}

void MacSettingsSceneModel::updateSignedIn()
{
    const bool signedIn = m_auth && m_auth->statusKind() == AuthState::StatusKind::authenticated;
    updateProperty(m_signedIn, signedIn, this, &MacSettingsSceneModel::signedInChanged);
}

} // namespace kovra::ui
