#pragma once

#include <QString>

#include <optional>

namespace kovra {

// Hands out the current session token, or none.
class JWTProvider {
public:
    virtual ~JWTProvider() = default;
    virtual std::optional<QString> currentJWT() const = 0;
};

// A token provider that can also save and delete the token.
class JWTStore : public JWTProvider {
public:
    // Throws the keychain's error when the token cannot be written.
    virtual void saveJWT(const QString &token) = 0;
    // Failures, the token being absent included, are ignored.
    virtual void deleteJWT() = 0;
};

} // namespace kovra
