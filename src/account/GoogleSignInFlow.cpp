#include "account/GoogleSignInFlow.h"

#include "platform/L10n.h"
#include "platform/SecureRandom.h"

#include <QCryptographicHash>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QOAuth2AuthorizationCodeFlow>
#include <QOAuthHttpServerReplyHandler>

#include <array>

namespace kovra {

using namespace Qt::StringLiterals;

namespace {

constexpr auto kUrlSafe = QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals;

// `size` random bytes as unpadded base64url; none when the source fails.
std::optional<QString> randomToken(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    if (fillSecureRandom({reinterpret_cast<quint8 *>(bytes.data()), size_t(size)}) != 0)
        return std::nullopt;
    return QString::fromLatin1(bytes.toBase64(kUrlSafe));
}

// A text from the other side, safe to put in a log line: printable ASCII, capped.
QString plainText(const QString &text)
{
    QString out;
    for (const QChar c : text.left(120))
        out += (c.unicode() >= 0x20 && c.unicode() < 0x7f) ? c : u'?';
    return out;
}

// The OAuth error code of a token endpoint's error answer, if it gives one.
QString oauthErrorOf(QNetworkReply *reply)
{
    const QJsonDocument document = QJsonDocument::fromJson(reply->peek(4096));
    return plainText(document.object().value(u"error"_s).toString());
}

} // namespace

QString GoogleSignInError::description() const
{
    QString what;
    switch (m_kind) {
    case Kind::notConfigured: what = u"not configured (no GIDClientID)"_s; break;
    case Kind::setupFailed: what = u"setup failed"_s; break;
    case Kind::browserUnavailable: what = u"the browser could not be opened"_s; break;
    case Kind::stateMismatch: what = u"redirect refused (state mismatch)"_s; break;
    case Kind::authorizationFailed: what = u"authorization failed"_s; break;
    case Kind::tokenRequestFailed: what = u"token request failed"_s; break;
    }
    return u"Google sign-in: "_s + what + (m_detail.isEmpty() ? QString() : u" ("_s + m_detail + u')');
}

QString GoogleSignInError::localizedDescription() const
{
    if (m_kind == Kind::notConfigured)
        return L10n::text("google.signin.notConfigured", u"Вход через Google не настроен в этой сборке.");
    if (m_kind == Kind::browserUnavailable)
        return L10n::text("google.signin.noBrowser", u"Не удалось открыть браузер для входа через Google.");
    return L10n::text("google.signin.failed", u"Не удалось войти через Google.");
}

// Declared so that they are destroyed in this order: the access manager first (its
// replies go without finishing, so none reaches a handler that is gone), then the
// flow, then the listener.
struct GoogleSignInFlow::Parts : QObject {
    std::unique_ptr<QOAuthHttpServerReplyHandler> handler;
    std::unique_ptr<QOAuth2AuthorizationCodeFlow> flow;
    std::unique_ptr<QNetworkAccessManager> network;
};

GoogleSignInFlow::GoogleSignInFlow(const GoogleSignInConfig &config, OpenURL openURL, QObject *parent)
    : QObject(parent)
{
    start(config, openURL);
}

GoogleSignInFlow::~GoogleSignInFlow()
{
    m_result.cancel();
    delete m_parts;
}

void GoogleSignInFlow::start(const GoogleSignInConfig &config, const OpenURL &openURL)
{
    if (!config.hasClientID())
        return fail(GoogleSignInError(GoogleSignInError::Kind::notConfigured));
    const std::optional<QString> state = randomToken(24);
    const std::optional<QString> verifier = randomToken(32); // 43 characters
    if (!state || !verifier)
        return fail(GoogleSignInError(GoogleSignInError::Kind::setupFailed, u"no secure random bytes"_s));
    m_state = *state;
    const QString challenge = QString::fromLatin1(
        QCryptographicHash::hash(verifier->toLatin1(), QCryptographicHash::Sha256).toBase64(kUrlSafe));

    m_parts = new Parts;
    auto &handler = m_parts->handler;
    handler = std::make_unique<QOAuthHttpServerReplyHandler>(QHostAddress(QHostAddress::LocalHost), 0);
    if (!handler->isListening())
        return fail(GoogleSignInError(GoogleSignInError::Kind::setupFailed, u"cannot listen on 127.0.0.1"_s));
    handler->setCallbackText(L10n::text("google.signin.callbackPage", u"Можно закрыть эту вкладку и вернуться в приложение."));
    m_parts->network = std::make_unique<QNetworkAccessManager>();
    auto &flow = m_parts->flow;
    flow = std::make_unique<QOAuth2AuthorizationCodeFlow>(config.clientID.trimmed(), config.authorizationURL,
                                                          config.tokenURL, m_parts->network.get());
    flow->setReplyHandler(handler.get());
    flow->setScope(config.scope);
    flow->setState(m_state);
    if (!config.clientSecret.isEmpty())
        flow->setClientIdentifierSharedKey(config.clientSecret);
    // PKCE: the challenge goes with the authorization request, the verifier with the code.
    flow->setModifyParametersFunction(
        [challenge, verifier = *verifier](QAbstractOAuth::Stage stage, QMultiMap<QString, QVariant> *parameters) {
            if (stage == QAbstractOAuth::Stage::RequestingAuthorization) {
                parameters->insert(u"code_challenge"_s, challenge);
                parameters->insert(u"code_challenge_method"_s, u"S256"_s);
            } else if (stage == QAbstractOAuth::Stage::RequestingAccessToken) {
                parameters->insert(u"code_verifier"_s, verifier);
            }
        });
    // Connected before grant() connects the flow's own handling, so these run first.
    connect(handler.get(), &QAbstractOAuthReplyHandler::callbackReceived, this, &GoogleSignInFlow::onCallback);
    connect(handler.get(), &QAbstractOAuthReplyHandler::tokensReceived, this, &GoogleSignInFlow::onTokens);
    connect(m_parts->network.get(), &QNetworkAccessManager::finished, this, &GoogleSignInFlow::onTokenReply);
    connect(flow.get(), &QAbstractOAuth::authorizeWithBrowser, this, [this, openURL](const QUrl &url) {
        if (!openURL || !openURL(url))
            fail(GoogleSignInError(GoogleSignInError::Kind::browserUnavailable));
    });
    flow->grant();
}

void GoogleSignInFlow::onCallback(const QVariantMap &values)
{
    if (m_result.isDone() || m_codeAccepted)
        return;
    // Every redirect must carry this sign-in's state, error answers included.
    if (values.value(u"state"_s).toString() != m_state) {
        m_log.error(u"requestIdToken: redirect refused (state mismatch)"_s);
        return fail(GoogleSignInError(GoogleSignInError::Kind::stateMismatch));
    }
    const QString error = values.value(u"error"_s).toString();
    if (error == u"access_denied"_s) {
        m_result.cancel();
        return tearDown();
    }
    if (!error.isEmpty()) {
        const QString description = values.value(u"error_description"_s).toString();
        return fail(GoogleSignInError(GoogleSignInError::Kind::authorizationFailed,
                                      plainText(description.isEmpty() ? error : error + u": "_s + description)));
    }
    if (values.value(u"code"_s).toString().isEmpty())
        return fail(GoogleSignInError(GoogleSignInError::Kind::authorizationFailed, u"no authorization code"_s));
    // The flow exchanges the code next; later redirects change nothing.
    m_codeAccepted = true;
}

void GoogleSignInFlow::onTokenReply(QNetworkReply *reply)
{
    if (m_result.isDone())
        return;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() != QNetworkReply::NoError || status / 100 != 2) {
        QString detail = status ? u"HTTP %1"_s.arg(status) : u"network error %1"_s.arg(int(reply->error()));
        if (const QString code = oauthErrorOf(reply); !code.isEmpty())
            detail += u' ' + code;
        return fail(GoogleSignInError(GoogleSignInError::Kind::tokenRequestFailed, detail));
    }
    // The reply handler reads the answer after this; one it cannot read never
    // reaches onTokens().
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!m_result.isDone())
                fail(GoogleSignInError(GoogleSignInError::Kind::tokenRequestFailed, u"unreadable answer"_s));
        },
        Qt::QueuedConnection);
}

void GoogleSignInFlow::onTokens(const QVariantMap &tokens)
{
    if (m_result.isDone())
        return;
    if (tokens.contains(u"error"_s))
        return fail(GoogleSignInError(GoogleSignInError::Kind::tokenRequestFailed,
                                      plainText(tokens.value(u"error"_s).toString())));
    const QVariant idToken = tokens.value(u"id_token"_s);
    if (idToken.typeId() == QMetaType::QString && !idToken.toString().isEmpty())
        m_result.resolve(std::optional<QString>(idToken.toString()));
    else
        m_result.resolve(std::optional<QString>());
    tearDown();
}

void GoogleSignInFlow::fail(GoogleSignInError error)
{
    m_result.fail(std::move(error));
    tearDown();
}

void GoogleSignInFlow::tearDown()
{
    if (!m_parts)
        return;
    // Often called from inside a signal of one of the parts: they go later.
    if (m_parts->handler)
        m_parts->handler->close();
    std::exchange(m_parts, nullptr)->deleteLater();
}

} // namespace kovra
