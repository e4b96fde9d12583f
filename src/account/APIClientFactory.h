#pragma once

#include "core/APIClient.h"

#include <memory>

namespace kovra {

// A new API client over the shared default session, reading the session token from
// the keychain (service "com.kovra.client-sign-box") and persisting its active base
// URL in the app group. Each client keeps its own active base URL.
std::unique_ptr<APIClient> makeAPIClient(const PlatformPaths &paths);

} // namespace kovra
