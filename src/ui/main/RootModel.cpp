#include "ui/main/RootModel.h"

#include "account/AuthState.h"
#include "platform/L10n.h"
#include "ui/main/LoginModel.h"

namespace kovra::ui {

RootModel::RootModel(RootServices services, QObject *parent)
    : QObject(parent),
      m_services(std::move(services)),
      m_auth(m_services.authState),
      m_login(new LoginModel(m_services.authState, this)),
      m_settled(m_services.sessionSettled)
{
    if (AuthState *auth = m_services.authState) {
        connect(auth, &AuthState::statusChanged, this, &RootModel::updateSignedIn);
        connect(auth, &AuthState::isNewAccountChanged, this, &RootModel::showsTrialAlertChanged);
    }
    updateSignedIn();
}

RootModel::~RootModel() = default;

bool RootModel::showsTrialAlert() const
{
    return m_auth && m_auth->isNewAccount();
}

void RootModel::setShowsTrialAlert(bool shown)
{
    // The alert only ever closes from here; it opens when a sign-in made a new account.
    if (!shown && m_auth)
        m_auth->setIsNewAccount(false);
}

QString RootModel::trialTitle()
{
    return L10n::text("login.trial.activated.title", u"Пробный доступ активирован");
}

QString RootModel::trialMessage()
{
    return L10n::text("login.trial.activated", u"Активирован пробный доступ: 200 МБ, 7 дней.");
}

QString RootModel::trialButtonTitle()
{
    return L10n::text("login.trial.activated.ok", u"Отлично");
}

void RootModel::settle()
{
    if (m_settled)
        return;
    m_settled = true;
    updateSignedIn();
    Q_EMIT settledChanged();
}

void RootModel::updateSignedIn()
{
    const bool signedIn = m_auth && m_auth->statusKind() == AuthState::StatusKind::authenticated;
    if (!m_settled || signedIn == m_signedIn)
        return;
    if (signedIn && !m_home) {
        const RootServices &s = m_services;
        m_home = new HomeModel(s.coordinator, s.connectivity, s.tunnel, s.stores, s.accountScreens, s.homeOptions,
                                  this);
        connect(m_home, &HomeModel::settingsRequested, this, &RootModel::settingsRequested);
        Q_EMIT homeChanged();
    }
    if (!signedIn && m_home) {
        // The home window goes with its sheets.
        m_home->setShowDiagnostics(false);
        m_home->setShowConnectionPicker(false);
    }
    m_signedIn = signedIn;
    Q_EMIT signedInChanged();
}

} // namespace kovra::ui
