#pragma once

#include "core/APIError.h"
#include "core/AccountReplies.h"
#include "core/Endpoint.h"
#include "core/JWTProvider.h"
#include "platform/Log.h"

#include <QPointer>

#include <qcoro/qcorotask.h>

#include <functional>
#include <memory>
#include <optional>

namespace kovra {

class APIClient;

// How linking an Apple or Google identity fails: the service refused the link
// (carrying its APIError), the sign-in was cancelled, or the provider answered
// without a usable identity token. No user text of its own: the screens choose it.
class IdentityServiceError : public Error {
public:
    enum class Kind { serverRejected, cancelled, noIdentityToken };

    Kind kind() const { return m_kind; }
    // The service's error (serverRejected only).
    const std::optional<APIError> &apiError() const { return m_apiError; }

    // "server rejected: 409 conflict", "cancelled", "no identity token".
    QString description() const override;
    bool isCancellation() const override { return m_kind == Kind::cancelled; }

protected:
    IdentityServiceError(Kind kind, std::optional<APIError> apiError) : m_kind(kind), m_apiError(std::move(apiError)) {}

private:
    Kind m_kind;
    std::optional<APIError> m_apiError;
};

// The error of one sign-in service; each service has its own type, so a caller can
// tell whose failure it handles.
template<class Service>
class IdentityServiceErrorOf final : public IdentityServiceError {
public:
    static IdentityServiceErrorOf serverRejected(APIError error) { return {Kind::serverRejected, std::move(error)}; }
    static IdentityServiceErrorOf cancelled() { return {Kind::cancelled, std::nullopt}; }
    static IdentityServiceErrorOf noIdentityToken() { return {Kind::noIdentityToken, std::nullopt}; }

private:
    IdentityServiceErrorOf(Kind kind, std::optional<APIError> apiError) : IdentityServiceError(kind, std::move(apiError)) {}
};

// Sends a link request (`endpoint`, with the session token) and saves the session
// token of the reply through `store`. An APIError is logged as "link: server
// rejected — <error>" and thrown as what `rejected` makes of it; a reply whose
// token is empty counts as undecodable, so it never replaces the stored one. Other
// request errors and a failed save pass unchanged. Success logs "link: success
// isNew=<true|false>, JWT persisted". Throws CancellationError once the client is gone.
QCoro::Task<LoginOut> linkIdentity(QPointer<APIClient> api, std::shared_ptr<JWTStore> store, Endpoint endpoint,
                                   Logger log, std::function<std::exception_ptr(APIError)> rejected);

// As above, an APIError thrown as ServiceError::serverRejected.
template<class ServiceError>
QCoro::Task<LoginOut> linkIdentity(QPointer<APIClient> api, std::shared_ptr<JWTStore> store, Endpoint endpoint, Logger log)
{
    std::function<std::exception_ptr(APIError)> rejected = [](APIError error) {
        return std::make_exception_ptr(ServiceError::serverRejected(std::move(error)));
    };
    return linkIdentity(std::move(api), std::move(store), std::move(endpoint), std::move(log), std::move(rejected));
}

} // namespace kovra
