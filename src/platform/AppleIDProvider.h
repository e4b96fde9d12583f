#pragma once

#include "platform/Error.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <exception>
#include <functional>
#include <memory>
#include <optional>

class QWindow;

namespace kovra {

// What Sign in with Apple is asked for.
struct AppleIDRequest {
    enum class Scope { fullName, email };
    QList<Scope> scopes;
    QString nonce; // put on the request as it is (callers hash theirs)
};

// What a completed authorization hands back.
struct AppleIDAuthorization {
    // False when the provider answered with a credential of another kind.
    bool isAppleIDCredential = true;
    // The identity token as the provider gives it: it may be absent or not UTF-8.
    std::optional<QByteArray> identityToken;
};

// A failed authorization, with the provider's code.
class AppleIDAuthorizationError : public Error {
public:
    static constexpr int unknown = 1000;
    static constexpr int canceled = 1001; // the user cancelled
    static constexpr int failed = 1004;

    AppleIDAuthorizationError(int code, QString message) : m_code(code), m_message(std::move(message)) {}
    int code() const { return m_code; }
    // "authorization error 1001: <message>"
    QString description() const override;
    QString localizedDescription() const override { return m_message; }

private:
    int m_code;
    QString m_message;
};

// The error of a system without Sign in with Apple.
class AppleIDUnavailableError : public Error {
public:
    QString description() const override { return QStringLiteral("not available on this system"); }
    QString localizedDescription() const override;
};

// Sign in with Apple. performRequest() starts one authorization; the provider answers
// through one of the completion callbacks, on the GUI thread and never inside
// performRequest(). Callers cope with a faulty provider that answers twice.
class AppleIDProvider {
public:
    struct Callbacks {
        std::function<void(AppleIDAuthorization)> completed;
        std::function<void(std::exception_ptr)> failed;
        // The window to present the sign-in from.
        std::function<QWindow *()> presentationAnchor;
    };

    virtual ~AppleIDProvider() = default;
    // False where the system has no provider (the sign-in can only fail there).
    virtual bool isAvailable() const = 0;
    virtual void performRequest(AppleIDRequest request, Callbacks callbacks) = 0;
};

// This system's provider. Linux has none: it reports itself unavailable and fails
// every request with AppleIDUnavailableError.
std::unique_ptr<AppleIDProvider> makeSystemAppleIDProvider();

} // namespace kovra
