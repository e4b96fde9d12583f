#pragma once

#include "core/JWTProvider.h"
#include "platform/Keychain.h"

#include <optional>

#include "support/Await.h"
#include "support/ErrorText.h"

namespace kovra::test {

// A token store in memory; `failSaves` makes every save throw as the keyring would.
struct MemoryTokenStore final : JWTStore {
    explicit MemoryTokenStore(std::optional<QString> t = std::nullopt) : token(std::move(t)) {}
    std::optional<QString> token;
    bool failSaves = false;

    QCoro::Task<std::optional<QString>> currentJWT() const override { co_return token; }
    QCoro::Task<void> saveJWT(QString t) override
    {
        if (failSaves)
            throw KeychainError(QStringLiteral("keyring locked"));
        token = t;
        co_return;
    }
    QCoro::Task<void> deleteJWT() override { token.reset(); co_return; }
};

// The task's value as text, or its error's (errorText()).
template<class T, class Show>
QString outcomeOf(const Pending<T> &pending, Show show)
{
    try {
        return show(pending.result());
    } catch (...) {
        return errorText(std::current_exception());
    }
}

} // namespace kovra::test
