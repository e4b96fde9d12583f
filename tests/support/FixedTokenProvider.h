#pragma once

#include "core/JWTProvider.h"

#include <optional>

namespace kovra::test {

// A token provider whose token the test sets directly (none by default).
struct FixedTokenProvider : JWTProvider {
    explicit FixedTokenProvider(std::optional<QString> t = std::nullopt) : token(std::move(t)) {}
    std::optional<QString> token;
    std::optional<QString> currentJWT() const override { return token; }
};

} // namespace kovra::test
