#include "core/APIError.h"

#include "platform/JsonError.h"
#include "platform/L10n.h"

namespace kovra {

APIError APIError::decoding(const JsonDecodingError &error)
{
    return decoding(std::make_exception_ptr(error));
}

std::optional<APIError::Kind> APIError::kindOf(const std::exception_ptr &error)
{
    if (!error)
        return std::nullopt;
    try {
        std::rethrow_exception(error);
    } catch (const APIError &e) {
        return e.kind();
    } catch (...) {
    }
    return std::nullopt;
}

QString APIError::description() const
{
    switch (m_kind) {
    case Kind::network: return QStringLiteral("network: ") + localizedDescriptionOf(m_underlying);
    case Kind::decoding: return describeDecodingError(m_underlying);
    case Kind::server: return QStringLiteral("server ") + QString::number(m_statusCode);
    case Kind::unauthorized: return QStringLiteral("401 unauthorized");
    case Kind::gone: return QStringLiteral("410 gone");
    case Kind::conflict: return QStringLiteral("409 conflict");
    }
    return {};
}

QString APIError::localizedDescription() const
{
    switch (m_kind) {
    case Kind::network: return L10n::text("error.network", u"Нет связи с сервером.");
    case Kind::decoding: return describeDecodingError(m_underlying);
    case Kind::server: return L10n::format(L10n::text("error.server", u"Ошибка сервера (%d)."), {m_statusCode});
    case Kind::unauthorized: return L10n::text("error.unauthorized", u"Нужно войти заново.");
    case Kind::gone: return L10n::text("error.gone", u"Ресурс удалён на сервере. Обратитесь в поддержку.");
    case Kind::conflict: return L10n::text("error.conflict", u"Конфликт состояния. Попробуйте позже.");
    }
    return {};
}

QString describeDecodingError(const std::exception_ptr &error)
{
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const JsonDecodingError &e) {
        return e.description();
    } catch (...) {
    }
    return QStringLiteral("decode failed: ") + localizedDescriptionOf(error);
}

} // namespace kovra
