#include "account/APIClientFactory.h"

#include "account/KeychainStore.h"

namespace kovra {

std::unique_ptr<APIClient> makeAPIClient(const PlatformPaths &paths)
{
    return std::make_unique<APIClient>(APIClient::sharedDefaultSession(),
                                       std::make_shared<KeychainStore>(KeychainStore::kDefaultService), AppGroupStore(paths));
}

} // namespace kovra
