#include "core/Endpoint.h"

#include "platform/JsonValue.h"

#include <initializer_list>
#include <utility>

namespace kovra {

QString InvalidPathParameterError::description() const
{
    return QStringLiteral("path parameter \"%1\" cannot be one segment of %2").arg(m_parameter, m_template);
}

QList<Endpoint::Segment> Endpoint::segments() const
{
    const auto fixed = [](std::initializer_list<const char *> words) {
        QList<Segment> out;
        for (const char *w : words)
            out.append({QString::fromLatin1(w), nullptr});
        return out;
    };
    switch (m_kind) {
    case Kind::poll: return {{QStringLiteral("auth"), nullptr}, {QStringLiteral("poll"), nullptr}, {m_parameters.at(0), "nonce"}};
    case Kind::wakeRegion: return {{QStringLiteral("regions"), nullptr}, {m_parameters.at(0), "id"}, {QStringLiteral("wake"), nullptr}};
    case Kind::starsInvoice: return fixed({"payment", "stars", "invoice"});
    case Kind::cryptoInvoice: return fixed({"payment", "cryptobot", "invoice"});
    case Kind::appleLogin: return fixed({"auth", "apple"});
    case Kind::appleLink: return fixed({"auth", "apple", "link"});
    case Kind::googleLogin: return fixed({"auth", "google"});
    case Kind::googleLink: return fixed({"auth", "google", "link"});
    case Kind::telegramLink: return fixed({"auth", "telegram", "link"});
    case Kind::registerPush: return fixed({"push", "register"});
    case Kind::startSession: return fixed({"auth", "start_session"});
    case Kind::me: return fixed({"me"});
    case Kind::subscription: return fixed({"me", "subscription"});
    case Kind::regions: return fixed({"regions"});
    case Kind::entries: return fixed({"entries"});
    case Kind::connections: return fixed({"connections"});
    case Kind::clientVersion: return fixed({"client", "version"});
    case Kind::tariffs: return fixed({"payment", "tariffs"});
    }
    return {};
}

QString Endpoint::path() const
{
    QString out;
    for (const Segment &s : segments())
        out += u'/' + s.text;
    return out;
}

QStringList Endpoint::pathSegments() const
{
    const QList<Segment> all = segments();
    QStringList out;
    for (qsizetype i = 0; i < all.size(); ++i) {
        const Segment &s = all.at(i);
        const bool last = i == all.size() - 1;
        if (s.parameter && (s.text == u"." || s.text == u".." || (s.text.isEmpty() && !last))) {
            QString pathTemplate;
            for (const Segment &t : all)
                pathTemplate += u'/' + (t.parameter ? u'{' + QLatin1String(t.parameter) + u'}' : t.text);
            throw InvalidPathParameterError(pathTemplate, s.text);
        }
        out.append(s.text);
    }
    return out;
}

QUrl Endpoint::url(const QUrl &baseURL) const
{
    QString path = baseURL.path(QUrl::FullyEncoded);
    while (path.endsWith(u'/'))
        path.chop(1);
    for (const QString &segment : pathSegments())
        path += u'/' + QString::fromLatin1(QUrl::toPercentEncoding(segment));
    QUrl url = baseURL;
    url.setPath(path, QUrl::TolerantMode);
    return url;
}

QByteArray Endpoint::method() const
{
    switch (m_kind) {
    case Kind::poll:
    case Kind::me:
    case Kind::subscription:
    case Kind::regions:
    case Kind::entries:
    case Kind::connections:
    case Kind::clientVersion:
    case Kind::tariffs:
        return QByteArrayLiteral("GET");
    default:
        return QByteArrayLiteral("POST");
    }
}

bool Endpoint::requiresAuth() const
{
    switch (m_kind) {
    case Kind::poll:
    case Kind::appleLogin:
    case Kind::googleLogin:
    case Kind::startSession:
    case Kind::clientVersion:
        return false;
    default:
        return true;
    }
}

std::optional<QByteArray> Endpoint::body() const
{
    const auto object = [](std::initializer_list<std::pair<const char *, QString>> members) {
        JsonValue::Object out;
        for (const auto &[key, value] : members)
            out.emplace_back(QString::fromLatin1(key), JsonValue(value));
        return JsonValue(std::move(out)).toJson();
    };
    const auto param = [this](int i) { return m_parameters.at(i); };
    switch (m_kind) {
    case Kind::starsInvoice:
    case Kind::cryptoInvoice:
        return object({{"plan_id", param(0)}});
    case Kind::appleLogin:
    case Kind::appleLink:
        return object({{"id_token", param(0)}, {"nonce", param(1)}});
    case Kind::googleLogin:
    case Kind::googleLink:
        return object({{"id_token", param(0)}});
    case Kind::telegramLink:
        return object({{"init_data", param(0)}});
    case Kind::registerPush:
        return object({{"token", param(0)}, {"platform", QStringLiteral("ios")}, {"environment", param(1)}});
    default:
        return std::nullopt;
    }
}

} // namespace kovra
