#pragma once

#include "core/APIError.h"
#include "platform/Http.h"

#include <QString>

#include <exception>

namespace kovra::test {

// The code of a URLError, thrown as it is or carried by APIError::network; 0 for no
// error, 1 for an error of another kind.
inline int urlErrorCode(const std::exception_ptr &error)
{
    if (!error)
        return 0;
    try {
        std::rethrow_exception(error);
    } catch (const URLError &e) {
        return e.code();
    } catch (const APIError &e) {
        if (e.kind() == APIError::Kind::network)
            return urlErrorCode(e.underlyingError());
    } catch (...) {
    }
    return 1;
}

// An error as one comparable text: "network <URL error code>" for APIError::network,
// "decoding" for APIError::decoding, "cancelled" for any cancellation, else the
// error's description; empty for no error.
inline QString errorText(const std::exception_ptr &error)
{
    if (!error)
        return {};
    if (isCancellation(error))
        return QStringLiteral("cancelled");
    try {
        std::rethrow_exception(error);
    } catch (const APIError &e) {
        if (e.kind() == APIError::Kind::network)
            return QStringLiteral("network %1").arg(urlErrorCode(error));
        if (e.kind() == APIError::Kind::decoding)
            return QStringLiteral("decoding");
    } catch (...) {
    }
    return descriptionOf(error);
}

} // namespace kovra::test
