#include "account/IdentityLink.h"

#include "core/APIClient.h"

namespace kovra {

using namespace Qt::StringLiterals;

QString IdentityServiceError::description() const
{
    switch (m_kind) {
    case Kind::serverRejected: return u"server rejected: "_s + m_apiError->description();
    case Kind::cancelled: return u"cancelled"_s;
    case Kind::noIdentityToken: return u"no identity token"_s;
    }
    return {};
}

QCoro::Task<LoginOut> linkIdentity(QPointer<APIClient> api, std::shared_ptr<JWTStore> store, Endpoint endpoint,
                                   Logger log, std::function<std::exception_ptr(APIError)> rejected)
{
    if (!api)
        throw CancellationError();
    std::optional<LoginOut> reply;
    std::exception_ptr refusal;
    try {
        reply = co_await api->send<LoginOut>(endpoint);
    } catch (const APIError &error) {
        log.error(u"link: server rejected — "_s + error.description());
        refusal = rejected(error);
    }
    if (refusal)
        std::rethrow_exception(refusal);
    co_await store->saveJWT(reply->accessToken);
    log.info(u"link: success isNew=%1, JWT persisted"_s.arg(reply->isNew ? u"true"_s : u"false"_s));
    co_return *reply;
}

} // namespace kovra
