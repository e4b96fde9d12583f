#pragma once

#include "platform/PlatformPaths.h"

#include <QString>
#include <QUrl>

namespace kovra {

// Where and as whom the app signs in with Google. The start-up fills it once: the
// values built in (build options KOVRA_GID_CLIENT_ID and KOVRA_GID_CLIENT_SECRET),
// overridden by a configuration file.
struct GoogleSignInConfig {
    // "GIDClientID": the app's OAuth client. Without one, every sign-in fails at once.
    QString clientID;
    // "GIDClientSecret": Google's desktop clients send one with the code (it is not
    // confidential there); empty for none.
    QString clientSecret;
    QUrl authorizationURL{QStringLiteral("https://accounts.google.com/o/oauth2/v2/auth")};
    QUrl tokenURL{QStringLiteral("https://oauth2.googleapis.com/token")};
    QString scope = QStringLiteral("openid email profile");

    bool hasClientID() const { return !clientID.trimmed().isEmpty(); }

    static GoogleSignInConfig builtIn();
    // `base` with the non-empty strings "GIDClientID" and "GIDClientSecret" of the
    // JSON object in `file`. A file that is missing leaves `base` as it is; one that
    // cannot be read, is too large or is not such an object does too, and is logged.
    static GoogleSignInConfig load(const QString &file, GoogleSignInConfig base = builtIn());
    // <config folder>/google-sign-in.json
    static QString configFile(const PlatformPaths &paths);
};

} // namespace kovra
