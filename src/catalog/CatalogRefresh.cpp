#include "catalog/CatalogRefresh.h"

#include "core/APIError.h"

namespace kovra {

using namespace Qt::StringLiterals;

void logRefreshSucceeded(const Logger &log, qsizetype count, const QString &noun)
{
    log.info(u"refresh ok: %1 %2"_s.arg(count).arg(noun));
}

void logEmptyCatalogue(const Logger &log)
{
    log.error(u"refresh: empty catalogue — keeping cache/fallback"_s);
}

void logRefreshFailure(const Logger &log, const std::exception_ptr &error)
{
    if (isUnauthorized(error))
        log.error(u"refresh 401: keeping cache/fallback"_s);
    else
        log.error(u"refresh failed: %1 — keeping cache/fallback"_s.arg(descriptionOf(error)));
}

bool isUnauthorized(const std::exception_ptr &error)
{
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const APIError &e) {
        return e.kind() == APIError::Kind::unauthorized;
    } catch (...) {
    }
    return false;
}

} // namespace kovra
