#pragma once

#include "platform/Error.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

namespace kovra {

// A path parameter that cannot stand as one path segment ("." or "..", which a
// URL resolves away, or an empty segment in the middle of a path, which servers
// merge away): sending it would address another resource than the one named.
class InvalidPathParameterError : public Error {
public:
    InvalidPathParameterError(QString pathTemplate, QString parameter)
        : m_template(std::move(pathTemplate)), m_parameter(std::move(parameter)) {}
    // path parameter ".." cannot be one segment of /regions/{id}/wake
    QString description() const override;

private:
    QString m_template;
    QString m_parameter;
};

// Every call the client makes to the service API, with its parameters, and the
// request each call becomes.
class Endpoint {
public:
    enum class Kind {
        poll,
        wakeRegion,
        starsInvoice,
        cryptoInvoice,
        appleLogin,
        appleLink,
        googleLogin,
        googleLink,
        telegramLink,
        registerPush,
        startSession,
        me,
        subscription,
        regions,
        entries,
        connections,
        clientVersion,
        tariffs,
    };

    static Endpoint poll(QString nonce) { return {Kind::poll, {std::move(nonce)}}; }
    static Endpoint wakeRegion(QString id) { return {Kind::wakeRegion, {std::move(id)}}; }
    static Endpoint starsInvoice(QString planID) { return {Kind::starsInvoice, {std::move(planID)}}; }
    static Endpoint cryptoInvoice(QString planID) { return {Kind::cryptoInvoice, {std::move(planID)}}; }
    static Endpoint appleLogin(QString idToken, QString nonce) { return {Kind::appleLogin, {std::move(idToken), std::move(nonce)}}; }
    static Endpoint appleLink(QString idToken, QString nonce) { return {Kind::appleLink, {std::move(idToken), std::move(nonce)}}; }
    static Endpoint googleLogin(QString idToken) { return {Kind::googleLogin, {std::move(idToken)}}; }
    static Endpoint googleLink(QString idToken) { return {Kind::googleLink, {std::move(idToken)}}; }
    static Endpoint telegramLink(QString initData) { return {Kind::telegramLink, {std::move(initData)}}; }
    static Endpoint registerPush(QString token, QString environment) { return {Kind::registerPush, {std::move(token), std::move(environment)}}; }
    static Endpoint startSession() { return {Kind::startSession, {}}; }
    static Endpoint me() { return {Kind::me, {}}; }
    static Endpoint subscription() { return {Kind::subscription, {}}; }
    static Endpoint regions() { return {Kind::regions, {}}; }
    static Endpoint entries() { return {Kind::entries, {}}; }
    static Endpoint connections() { return {Kind::connections, {}}; }
    static Endpoint clientVersion() { return {Kind::clientVersion, {}}; }
    static Endpoint tariffs() { return {Kind::tariffs, {}}; }

    Kind kind() const { return m_kind; }

    // The path with its parameters inserted as they are ("/regions/ru-1/wake").
    // A text for labels; requests are addressed with url().
    QString path() const;

    // The path's segments, each parameter one segment. Throws
    // InvalidPathParameterError for a parameter that cannot be one.
    QStringList pathSegments() const;

    // The request URL: `baseURL` (which may carry a path prefix such as "/api")
    // followed by the path, each parameter percent-encoded as exactly one segment
    // ("a/b" becomes "a%2Fb"). Throws InvalidPathParameterError.
    QUrl url(const QUrl &baseURL) const;

    // "GET" or "POST".
    QByteArray method() const;

    // Whether the request carries "Authorization: Bearer <session token>".
    bool requiresAuth() const;

    // The compact JSON object sent as the body, or none for a request without one.
    std::optional<QByteArray> body() const;

    bool operator==(const Endpoint &) const = default;

private:
    struct Segment {
        QString text;
        const char *parameter; // the parameter's name, or null for a fixed segment
    };
    QList<Segment> segments() const;

    Endpoint(Kind kind, QStringList parameters) : m_kind(kind), m_parameters(std::move(parameters)) {}

    Kind m_kind;
    QStringList m_parameters;
};

} // namespace kovra
