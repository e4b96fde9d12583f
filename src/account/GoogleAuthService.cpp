#include "account/GoogleAuthService.h"

#include "core/APIClient.h"

#include "platform/DesktopUrlOpener.h"

namespace kovra {

using namespace Qt::StringLiterals;

bool openInSystemBrowser(const QUrl &url)
{
    return DesktopUrlOpener::launchDetached(url);
}

GoogleAuthService::GoogleAuthService(APIClient *api, std::shared_ptr<JWTStore> jwtStore, GoogleSignInConfig config,
                                     Options options, QObject *parent)
    : QObject(parent), m_api(api), m_jwtStore(std::move(jwtStore)), m_config(std::move(config)),
      m_options(std::move(options))
{
}

QCoro::Task<QString> GoogleAuthService::requestIdToken()
{
    const QPointer<GoogleAuthService> self(this);
    const std::shared_ptr<Clock> clock = m_options.clock;
    const std::chrono::milliseconds bound = m_options.answerBound;
    // A child: the flow ends (cancelled) when the service goes.
    const QPointer<GoogleSignInFlow> flow = new GoogleSignInFlow(m_config, m_options.openURL, this);
    const OneShot<std::optional<QString>> result = flow->result();

    std::optional<std::optional<QString>> answer;
    std::exception_ptr failure;
    try {
        std::optional<std::optional<QString>> waited = co_await result.waitFor(bound, *clock);
        answer = std::move(waited);
    } catch (...) {
        failure = std::current_exception();
    }
    delete flow.data();
    if (!self)
        throw GoogleAuthServiceError::cancelled();
    if (failure && isCancellation(failure)) {
        m_log.info(u"requestIdToken: user cancelled"_s);
        throw GoogleAuthServiceError::cancelled();
    }
    if (failure)
        std::rethrow_exception(failure);
    if (!answer) {
        m_log.info(u"requestIdToken: no answer from the browser within %1 s"_s.arg(bound.count() / 1000));
        throw GoogleAuthServiceError::cancelled();
    }
    if (!*answer) {
        m_log.error(u"requestIdToken: result.user.idToken is nil"_s);
        throw GoogleAuthServiceError::noIdentityToken();
    }
    const QString idToken = **answer;
    m_log.info(u"requestIdToken: got idToken (len=%1)"_s.arg(idToken.size()));
    co_return idToken;
}

QCoro::Task<LoginOut> GoogleAuthService::link(QString idToken)
{
    m_log.info(u"link: POST /auth/google/link (idTokenLen=%1)"_s.arg(idToken.size()));
    const Endpoint endpoint = Endpoint::googleLink(idToken);
    return linkIdentity<GoogleAuthServiceError>(m_api, m_jwtStore, endpoint, m_log);
}

} // namespace kovra
