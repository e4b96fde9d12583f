#pragma once

#include "core/APIClient.h"

#include <memory>

namespace kovra {

// A new API client over the process's sessions and base URLs, reading the session
// token from the keychain (service "com.kovra.client-sign-box") and persisting its
// active base URL in `store`. Each client keeps its own active base URL.
std::unique_ptr<APIClient> makeAPIClient(APIClient::Sessions sessions, QList<QUrl> baseURLs, AppGroupStore store);

} // namespace kovra
