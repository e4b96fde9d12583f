#pragma once

#include "core/APIClient.h"

#include "support/FakeService.h"
#include "support/FixedTokenProvider.h"

#include <memory>
#include <optional>

namespace kovra::test {

// The fake service with an API client over it (one session, in-memory defaults), for
// tests of the service's callers. Header-only: include it where kovra_core is linked.
struct FakeServiceClient {
    explicit FakeServiceClient(std::optional<QString> token = std::nullopt)
        : session(APIClient::makeDefaultSession()),
          client(APIClient::Sessions{session.get(), session.get()}, service.baseURLs(),
                 std::make_shared<FixedTokenProvider>(std::move(token)), AppGroupStore(Defaults::inMemory(), nullptr))
    {
    }

    FakeService service;
    std::unique_ptr<HttpSession> session;
    APIClient client;
};

} // namespace kovra::test
