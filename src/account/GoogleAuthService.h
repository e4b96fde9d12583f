#pragma once

#include "account/GoogleSignInConfig.h"
#include "account/GoogleSignInFlow.h"
#include "account/IdentityLink.h"
#include "core/AccountReplies.h"
#include "core/JWTProvider.h"
#include "platform/Clock.h"
#include "platform/Log.h"

#include <QObject>
#include <QPointer>

#include <chrono>
#include <memory>

namespace kovra {

class APIClient;
class GoogleAuthService;

using GoogleAuthServiceError = IdentityServiceErrorOf<GoogleAuthService>;

// Opens the URL with the desktop's handler (the user's browser); false when there is
// none or no GUI application runs.
bool openInSystemBrowser(const QUrl &url);

// Links a Google account to the signed-in account: Google sign-in in the user's
// browser (GoogleSignInFlow), then the ID token to the service, whose session token
// replaces the stored one. Keeps no state between calls. Lives on the GUI thread;
// log category "kovra.GoogleAuth".
class GoogleAuthService : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool available READ isAvailable CONSTANT)
public:
    struct Options {
        GoogleSignInFlow::OpenURL openURL = openInSystemBrowser;
        // How long a sign-in waits for the browser to come back: a page closed
        // without finishing never does.
        std::chrono::milliseconds answerBound = std::chrono::minutes(5);
        std::shared_ptr<Clock> clock = Clock::system();
    };

    GoogleAuthService(APIClient *api, std::shared_ptr<JWTStore> jwtStore, GoogleSignInConfig config, Options options,
                      QObject *parent = nullptr);
    GoogleAuthService(APIClient *api, std::shared_ptr<JWTStore> jwtStore, GoogleSignInConfig config)
        : GoogleAuthService(api, std::move(jwtStore), std::move(config), Options())
    {
    }

    // Whether a client id is configured (without one every sign-in fails at once).
    bool isAvailable() const { return m_config.hasClientID(); }

    // Runs the sign-in and returns the ID token. Throws GoogleAuthServiceError::
    // cancelled when the user denied access, the bound passed or the service went,
    // noIdentityToken when the token response has none, and GoogleSignInError for
    // every other failure (no client id: at once, without opening the browser).
    QCoro::Task<QString> requestIdToken();

    // POST /auth/google/link, then saves the reply's session token. Throws
    // GoogleAuthServiceError::serverRejected for an APIError; other errors, a failed
    // save included, pass unchanged.
    QCoro::Task<LoginOut> link(QString idToken);

private:
    QPointer<APIClient> m_api;
    std::shared_ptr<JWTStore> m_jwtStore;
    GoogleSignInConfig m_config;
    Options m_options;
    Logger m_log{QStringLiteral("GoogleAuth")};
};

} // namespace kovra
