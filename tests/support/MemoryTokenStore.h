#pragma once

#include "core/JWTProvider.h"
#include "platform/Async.h"
#include "platform/Keychain.h"

#include <optional>

namespace kovra::test {

// A token store in memory. Saves fail with `saveFailure` while it is set, and wait for
// `saveGate` while one is set (to hold a save in flight).
struct MemoryTokenStore : JWTStore {
    explicit MemoryTokenStore(std::optional<QString> t = std::nullopt) : token(std::move(t)) {}
    std::optional<QString> token;
    std::optional<KeychainError> saveFailure;
    std::optional<OneShot<void>> saveGate;
    int saves = 0;
    int deletes = 0;

    QCoro::Task<std::optional<QString>> currentJWT() const override { co_return token; }
    QCoro::Task<void> saveJWT(QString value) override
    {
        ++saves;
        if (saveGate) {
            const OneShot<void> gate = *saveGate;
            co_await gate.waitForEnd();
        }
        if (saveFailure)
            throw *saveFailure;
        token = value;
    }
    QCoro::Task<void> deleteJWT() override
    {
        ++deletes;
        token.reset();
        co_return;
    }
};

} // namespace kovra::test
