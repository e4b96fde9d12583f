#include "account/APIClientFactory.h"

#include "account/KeychainStore.h"

namespace kovra {

std::unique_ptr<APIClient> makeAPIClient(APIClient::Sessions sessions, QList<QUrl> baseURLs, AppGroupStore store)
{
    return std::make_unique<APIClient>(sessions, std::move(baseURLs),
                                       std::make_shared<KeychainStore>(KeychainStore::kDefaultService), std::move(store));
}

} // namespace kovra
