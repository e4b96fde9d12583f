#include "ui/main/MacRootModel.h"

#include "account/AuthState.h"
#include "platform/L10n.h"
#include "ui/main/MacLoginModel.h"

namespace kovra::ui {

MacRootModel::MacRootModel(MacRootServices services, QObject *parent)
    : QObject(parent),
      m_services(std::move(services)),
      m_auth(m_services.authState),
      m_login(new MacLoginModel(m_services.authState, this)),
      m_settled(m_services.sessionSettled)
{
    if (AuthState *auth = m_services.authState) {
        connect(auth, &AuthState::statusChanged, this, &MacRootModel::updateSignedIn);
        connect(auth, &AuthState::isNewAccountChanged, this, &MacRootModel::showsTrialAlertChanged);
    }
    updateSignedIn();
}

MacRootModel::~MacRootModel() = default;

bool MacRootModel::showsTrialAlert() const
{
    return m_auth && m_auth->isNewAccount();
}

void MacRootModel::setShowsTrialAlert(bool shown)
{
    // The alert only ever closes from here; it opens when a sign-in made a new account.
    if (!shown && m_auth)
        m_auth->setIsNewAccount(false);
}

QString MacRootModel::trialTitle()
{
    return L10n::text("login.trial.activated.title", u"Пробный доступ активирован");
}

QString MacRootModel::trialMessage()
{
    return L10n::text("login.trial.activated", u"Активирован пробный доступ: 200 МБ, 7 дней.");
}

QString MacRootModel::trialButtonTitle()
{
    return L10n::text("login.trial.activated.ok", u"Отлично");
}

void MacRootModel::settle()
{
    if (m_settled)
        return;
    m_settled = true;
    updateSignedIn();
    Q_EMIT settledChanged();
}

void MacRootModel::updateSignedIn()
{
    const bool signedIn = m_auth && m_auth->statusKind() == AuthState::StatusKind::authenticated;
    if (!m_settled || signedIn == m_signedIn)
        return;
    if (signedIn && !m_home) {
        const MacRootServices &s = m_services;
        m_home = new MacHomeModel(s.coordinator, s.connectivity, s.tunnel, s.stores, s.accountScreens, s.homeOptions,
                                  this);
        connect(m_home, &MacHomeModel::settingsRequested, this, &MacRootModel::settingsRequested);
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
