// The settings screen's link flows: Telegram through the session's sign-in, Apple and
// Google through their services, then the user record's refresh.
#include "SettingsModel.h"

#include "account/AppleAuthService.h"
#include "account/AuthState.h"
#include "account/GoogleAuthService.h"
#include "account/MeStore.h"
#include "core/APIError.h"
#include "platform/Keychain.h"
#include "platform/L10n.h"

namespace kovra::ui {

using namespace Qt::StringLiterals;

namespace {

QString methodName(LinkedAccount::Value method)
{
    switch (method) {
    case LinkedAccount::Telegram:
        return u"telegram"_s;
    case LinkedAccount::Apple:
        return u"apple"_s;
    case LinkedAccount::Google:
        break;
    }
    return u"google"_s;
}

} // namespace

void SettingsModel::linkTap(int account)
{
    const auto method = LinkedAccount::Value(account);
    const auto row = std::find_if(m_rows.cbegin(), m_rows.cend(),
                                  [method](const LinkedAccountRow &r) { return r.account == method; });
    if (row == m_rows.cend() || row->isDisabled)
        return;
    // The flows take their collaborators as named locals (never temporaries of the call).
    const QPointer<SettingsModel> self(this);
    const QPointer<AuthState> auth(m_services.authState);
    const QPointer<MeStore> me(m_services.meStore);
    m_log.info(u"link %1 tapped"_s.arg(methodName(method)));
    setLinkError(std::nullopt);
    if (method == LinkedAccount::Telegram) {
        QCoro::Task<void> flow = linkTelegram(auth);
        return;
    }
    // The flag goes up before the service's first step runs.
    setLinking(method, true);
    if (method == LinkedAccount::Apple) {
        const QPointer<AppleAuthService> apple(m_services.appleService);
        QCoro::Task<void> steps = appleSteps(apple);
        QCoro::Task<void> flow = finishLink<AppleAuthServiceError>(self, me, auth, method, std::move(steps));
    } else {
        const QPointer<GoogleAuthService> google(m_services.googleService);
        QCoro::Task<void> steps = googleSteps(google);
        QCoro::Task<void> flow = finishLink<GoogleAuthServiceError>(self, me, auth, method, std::move(steps));
    }
}

QCoro::Task<void> SettingsModel::linkTelegram(QPointer<AuthState> auth)
{
    if (!auth)
        co_return;
    co_await auth->beginTelegramLink();
    // Only a start that succeeded leaves this sign-in's links to open; after a failed
    // one, links still pending belong to an older sign-in.
    if (!auth || auth->statusKind() != AuthState::StatusKind::linking || auth->hasLastError())
        co_return;
    co_await auth->launchTelegramIfReady();
}

QCoro::Task<void> SettingsModel::appleSteps(QPointer<AppleAuthService> apple)
{
    if (!apple)
        throw AppleAuthServiceError::cancelled();
    const AppleIDToken token = co_await apple->requestIdToken();
    if (!apple)
        throw AppleAuthServiceError::cancelled();
    const QString idToken = token.idToken;
    const QString nonce = token.nonce;
    co_await apple->link(idToken, nonce);
}

QCoro::Task<void> SettingsModel::googleSteps(QPointer<GoogleAuthService> google)
{
    if (!google)
        throw GoogleAuthServiceError::cancelled();
    const QString idToken = co_await google->requestIdToken();
    if (!google)
        throw GoogleAuthServiceError::cancelled();
    co_await google->link(idToken);
}

template<class ServiceError>
QCoro::Task<void> SettingsModel::finishLink(QPointer<SettingsModel> self, QPointer<MeStore> me,
                                            QPointer<AuthState> auth, LinkedAccount::Value method,
                                            QCoro::Task<void> steps)
{
    std::exception_ptr failure;
    try {
        co_await steps;
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        handleLinkFailure<ServiceError>(self, auth, failure, methodName(method));
    } else if (me) {
        co_await me->refresh();
    }
    if (self)
        self->setLinking(method, false);
}

template<class ServiceError>
void SettingsModel::handleLinkFailure(QPointer<SettingsModel> self, QPointer<AuthState> auth,
                                      std::exception_ptr error, const QString &method)
{
    std::optional<APIError> rejection;
    bool unsaved = false; // linked, but the new session token could not be saved
    try {
        std::rethrow_exception(error);
    } catch (const ServiceError &e) {
        if (e.kind() == ServiceError::Kind::cancelled)
            return;
        if (e.kind() == ServiceError::Kind::serverRejected)
            rejection = e.apiError();
    } catch (const KeychainError &) {
        unsaved = true;
    } catch (...) {
    }

    const std::optional<APIError::Kind> kind = rejection ? std::optional(rejection->kind()) : std::nullopt;
    if (kind == APIError::Kind::unauthorized) {
        if (self)
            self->setLinkError(L10n::text("settings.link.unauthorized", u"Сессия истекла. Войдите снова."));
        if (auth)
            auth->clearSessionAfterRefusal(std::make_exception_ptr(*rejection));
    } else if (kind == APIError::Kind::conflict) {
        if (self)
            self->setLinkError(L10n::text("settings.link.conflict",
                                          u"Этот аккаунт уже привязан к другому пользователю."));
    } else {
        Logger(u"Settings"_s).error(u"link %1 failed: %2"_s.arg(method, descriptionOf(error)));
        // The keyring's trouble is the sign-in's: the same words as the sign-in screen.
        if (self)
            self->setLinkError(unsaved ? AuthState::loginErrorMessage(error)
                                       : L10n::text("settings.link.generic", u"Не удалось привязать аккаунт. Попробуйте позже."));
    }
}

} // namespace kovra::ui
