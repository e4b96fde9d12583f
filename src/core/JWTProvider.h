#pragma once

#include <QString>

#include <qcoro/qcorotask.h>

#include <optional>

namespace kovra {

// Hands out the current session token, or none, without blocking the caller's thread.
// Every holder of the same store sees the token that was last saved.
class JWTProvider {
public:
    virtual ~JWTProvider() = default;
    // Never throws: a token that cannot be read counts as none.
    virtual QCoro::Task<std::optional<QString>> currentJWT() const = 0;
};

// A token provider that can also save and delete the token.
class JWTStore : public JWTProvider {
public:
    // Throws the keychain's error when the token cannot be written.
    virtual QCoro::Task<void> saveJWT(QString token) = 0;
    // Failures, the token being absent included, are ignored.
    virtual QCoro::Task<void> deleteJWT() = 0;
};

} // namespace kovra
