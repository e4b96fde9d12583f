#include "ui/main/LoginModel.h"

#include "account/AuthState.h"
#include "platform/Error.h"
#include "platform/L10n.h"
#include "platform/Log.h"
#include "platform/Property.h"

namespace kovra::ui {

namespace {

const Logger &log()
{
    static const Logger logger(QStringLiteral("MacLogin"));
    return logger;
}

LoginPanel::Value panelFor(AuthState::StatusKind status)
{
    switch (status) {
    case AuthState::StatusKind::linking: return LoginPanel::Waiting;
    case AuthState::StatusKind::authenticated: return LoginPanel::None;
    case AuthState::StatusKind::anonymous: break;
    }
    return LoginPanel::SignIn;
}

} // namespace

LoginModel::LoginModel(AuthState *authState, QObject *parent) : QObject(parent), m_auth(authState)
{
    if (authState) {
        connect(authState, &AuthState::statusChanged, this, &LoginModel::updatePanel);
        connect(authState, &AuthState::lastErrorChanged, this, &LoginModel::updateError);
    }
    updatePanel();
    updateError();
}

QString LoginModel::title()
{
    return L10n::text("login.title", u"Kovra S");
}

QString LoginModel::subtitle()
{
    return L10n::text("login.subtitle", u"Безопасное соединение");
}

QString LoginModel::signInTitle()
{
    return L10n::text("login.button.telegram", u"Войти через Telegram");
}

QString LoginModel::linkingTitle()
{
    return L10n::text("login.linking.title", u"Подтвердите вход в Telegram");
}

QString LoginModel::linkingHint()
{
    return L10n::text("login.linking.hint", u"Откройте сообщение от бота и нажмите «Подтвердить».");
}

QString LoginModel::reopenTitle()
{
    return L10n::text("login.linking.reopen", u"Открыть Telegram снова");
}

QString LoginModel::cancelTitle()
{
    return L10n::text("login.linking.cancel", u"Отмена");
}

QString LoginModel::signInPanelName()
{
    return L10n::text("login.panel.sign_in", u"Вход");
}

void LoginModel::signIn()
{
    log().info(QStringLiteral("login button tapped"));
    QCoro::Task<void> started = beginAndLaunch(m_auth); // runs on by itself
}

void LoginModel::reopen()
{
    QCoro::Task<void> opening = launch(m_auth);
}

void LoginModel::cancel()
{
    if (m_auth)
        m_auth->cancelTelegramLink();
}

void LoginModel::updatePanel()
{
    const LoginPanel::Value panel = m_auth ? panelFor(m_auth->statusKind()) : LoginPanel::SignIn;
    updateProperty(m_panel, panel, this, &LoginModel::panelChanged);
}

void LoginModel::updateError()
{
    const QString text = m_auth ? m_auth->lastErrorMessage() : QString();
    updateProperty(m_errorText, text, this, &LoginModel::errorChanged);
}

QCoro::Task<void> LoginModel::beginAndLaunch(QPointer<AuthState> authState)
{
    try {
        if (!authState)
            co_return;
        co_await authState->beginTelegramLink();
        if (!authState)
            co_return;
        co_await authState->launchTelegramIfReady();
    } catch (...) {
        log().error(QStringLiteral("sign-in start failed: %1").arg(descriptionOf(std::current_exception())));
    }
}

QCoro::Task<void> LoginModel::launch(QPointer<AuthState> authState)
{
    try {
        if (authState)
            co_await authState->launchTelegramIfReady();
    } catch (...) {
        log().error(QStringLiteral("opening Telegram failed: %1").arg(descriptionOf(std::current_exception())));
    }
}

} // namespace kovra::ui
