#pragma once

#include "platform/Error.h"

#include <QString>

#include <exception>
#include <optional>

namespace kovra {

class JsonDecodingError;

// The one error every service API call throws.
class APIError : public Error {
public:
    enum class Kind {
        network,      // no base URL gave a usable answer; carries the last transport error
        decoding,     // a 2xx body did not decode; carries the decoder's error
        server,       // any other status; -1 when an answer was not an HTTP response
        unauthorized, // 401, or no session token for a request that needs one
        gone,         // 410
        conflict,     // 409
    };

    static APIError network(std::exception_ptr underlying) { return {Kind::network, 0, std::move(underlying)}; }
    static APIError decoding(std::exception_ptr decodingError) { return {Kind::decoding, 0, std::move(decodingError)}; }
    static APIError decoding(const JsonDecodingError &error);
    static APIError server(int statusCode) { return {Kind::server, statusCode, nullptr}; }
    static APIError unauthorized() { return {Kind::unauthorized, 0, nullptr}; }
    static APIError gone() { return {Kind::gone, 0, nullptr}; }
    static APIError conflict() { return {Kind::conflict, 0, nullptr}; }

    Kind kind() const { return m_kind; }
    // The kind of a captured error when it is an APIError, else none.
    static std::optional<Kind> kindOf(const std::exception_ptr &error);
    // The status code of `server` (0 for the other cases).
    int statusCode() const { return m_statusCode; }
    // The transport error of `network`, the decoder's error of `decoding`, else null.
    const std::exception_ptr &underlyingError() const { return m_underlying; }

    // Technical one-line text for logs: "network: ...", the decoding-error text,
    // "server 502", "401 unauthorized", "410 gone", "409 conflict".
    QString description() const override;
    // The message for the user ("Ошибка сервера (502)."); a decoding error shows
    // its technical text.
    QString localizedDescription() const override;

private:
    APIError(Kind kind, int statusCode, std::exception_ptr underlying)
        : m_kind(kind), m_statusCode(statusCode), m_underlying(std::move(underlying)) {}

    Kind m_kind;
    int m_statusCode;
    std::exception_ptr m_underlying;
};

// The technical text of a decoding failure, for logs:
// "decode typeMismatch Int at <regions.[3].id>: <debug description>", likewise
// "decode valueNotFound <type>", "decode keyNotFound <key>", "decode dataCorrupted";
// an error that is no decoding error gives "decode failed: " and its localised text.
QString describeDecodingError(const std::exception_ptr &error);

} // namespace kovra
