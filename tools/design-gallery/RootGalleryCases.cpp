#include "GalleryCases.h"

#include "account/AuthState.h"
#include "ui/account/AccountScreens.h"
#include "ui/main/LoginModel.h"
#include "ui/main/RootModel.h"
#include "ui/main/SettingsSceneModel.h"

#include <QDateTime>

namespace kovra::gallery {

namespace {

using namespace Qt::StringLiterals;
using Kind = AuthState::StatusKind;

// No token is ever stored.
struct NoTokens final : JWTStore {
    QCoro::Task<std::optional<QString>> currentJWT() const override { co_return std::nullopt; }
    QCoro::Task<void> saveJWT(QString) override { co_return; }
    QCoro::Task<void> deleteJWT() override { co_return; }
};

// A session state fixed at one status (and error) that never reaches the service,
// with the account screens over it.
class GallerySession : public QObject {
public:
    GallerySession(Kind status, bool timedOut, QObject *parent)
        : QObject(parent),
          m_tokens(std::make_shared<NoTokens>()),
          auth(std::make_shared<AuthService>(nullptr, m_tokens), m_tokens, AppGroupStore(Defaults::inMemory(), nullptr),
               nullptr),
          screens({.authState = &auth})
    {
        const QDateTime expiry(QDate(2030, 1, 1), QTime(0, 0), Qt::UTC);
        auth.setStatus(status == Kind::linking ? AuthState::Status::linking(u"n1"_s, expiry)
                       : status == Kind::authenticated ? AuthState::Status::authenticated()
                                                       : AuthState::Status::anonymous());
        if (timedOut)
            auth.setLastError(std::make_exception_ptr(AuthStateError()));
    }

private:
    std::shared_ptr<NoTokens> m_tokens;

public:
    AuthState auth;
    ui::AccountScreens screens;
};

GalleryCase login(const char *name, Kind status, bool timedOut)
{
    GalleryCase c{QString::fromLatin1(name), "LoginView { width: 780; height: 520 }"};
    c.properties = [=](QObject *owner) {
        auto *session = new GallerySession(status, timedOut, owner);
        return QVariantMap{{u"model"_s, QVariant::fromValue(new ui::LoginModel(&session->auth, session))}};
    };
    return c;
}

// The welcome alert of a new account, over the sign-in window.
GalleryCase trialAlert()
{
    GalleryCase c{u"root-trial-alert"_s, "RootView { width: 780; height: 520 }", 300};
    c.properties = [](QObject *owner) {
        auto *session = new GallerySession(Kind::anonymous, false, owner);
        session->auth.setIsNewAccount(true);
        return QVariantMap{{u"model"_s, QVariant::fromValue(new ui::RootModel({.authState = &session->auth}, session))}};
    };
    return c;
}

GalleryCase settingsScene(const char *name, Kind status)
{
    GalleryCase c{QString::fromLatin1(name), "SettingsScene {}"};
    c.properties = [=](QObject *owner) {
        auto *session = new GallerySession(status, false, owner);
        auto *model = new ui::SettingsSceneModel(&session->auth, &session->screens, session);
        return QVariantMap{{u"model"_s, QVariant::fromValue(model)}};
    };
    return c;
}

} // namespace

QList<GalleryCase> rootGalleryCases()
{
    return {
        login("login-signed-out", Kind::anonymous, false),
        login("login-timed-out", Kind::anonymous, true),
        login("login-waiting", Kind::linking, false),
        trialAlert(),
        settingsScene("settings-scene-signed-out", Kind::anonymous),
        settingsScene("settings-scene-signed-in", Kind::authenticated),
    };
}

} // namespace kovra::gallery
