#pragma once

#include "account/GoogleSignInConfig.h"
#include "platform/Async.h"
#include "platform/Error.h"
#include "platform/Log.h"

#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QVariantMap>

#include <functional>
#include <optional>

class QNetworkReply;

namespace kovra {

// Why a Google sign-in in the browser failed (other than by being cancelled).
class GoogleSignInError : public Error {
public:
    enum class Kind {
        notConfigured,       // no client id
        setupFailed,         // the loopback listener or the random source failed
        browserUnavailable,  // the authorization page could not be opened
        stateMismatch,       // a redirect that this sign-in did not ask for
        authorizationFailed, // the authorization server answered with an error
        tokenRequestFailed,  // the code could not be exchanged
    };

    GoogleSignInError(Kind kind, QString detail = {}) : m_kind(kind), m_detail(std::move(detail)) {}
    Kind kind() const { return m_kind; }
    // "Google sign-in: token request failed (HTTP 400 invalid_grant)"
    QString description() const override;
    QString localizedDescription() const override;

private:
    Kind m_kind;
    QString m_detail;
};

// One Google sign-in in the system browser: the authorization-code flow with PKCE
// (S256) and a fresh state, redirected to a listener on 127.0.0.1, the code exchanged
// at the token endpoint. Starts when built; ends exactly once: with the ID token of
// the token response (none when it carries none), GoogleSignInError, or
// CancellationError when the user denied access or the flow was destroyed first.
// The listener and requests live until the end (or the destructor).
class GoogleSignInFlow : public QObject {
    Q_OBJECT
public:
    // Opens a URL in the user's browser; false when it cannot.
    using OpenURL = std::function<bool(const QUrl &)>;

    GoogleSignInFlow(const GoogleSignInConfig &config, OpenURL openURL, QObject *parent = nullptr);
    ~GoogleSignInFlow() override;

    OneShot<std::optional<QString>> result() const { return m_result; }

private:
    struct Parts;

    void start(const GoogleSignInConfig &config, const OpenURL &openURL);
    void onCallback(const QVariantMap &values);
    void onTokenReply(QNetworkReply *reply);
    void onTokens(const QVariantMap &tokens);
    void fail(GoogleSignInError error);
    // Stops listening and releases the parts once the event loop is back.
    void tearDown();

    OneShot<std::optional<QString>> m_result;
    Parts *m_parts = nullptr;
    QString m_state;
    bool m_codeAccepted = false;
    Logger m_log{QStringLiteral("GoogleAuth")};
};

} // namespace kovra
