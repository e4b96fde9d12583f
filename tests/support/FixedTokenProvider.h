#pragma once

#include "core/JWTProvider.h"

#include <optional>

namespace kovra::test {

// A token provider whose token the test sets directly (none by default); counts reads.
struct FixedTokenProvider : JWTProvider {
    explicit FixedTokenProvider(std::optional<QString> t = std::nullopt) : token(std::move(t)) {}
    std::optional<QString> token;
    mutable int reads = 0;
    QCoro::Task<std::optional<QString>> currentJWT() const override
    {
        ++reads;
        co_return token;
    }
};

} // namespace kovra::test
