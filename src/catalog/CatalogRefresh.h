#pragma once

#include "platform/Log.h"

#include <QString>

#include <qcoro/qcorotask.h>

#include <exception>
#include <optional>

namespace kovra {

// What a service call of a catalogue store gave: its value or its error.
template<class T>
struct CallOutcome {
    std::optional<T> value;
    std::exception_ptr error;
};

// Awaits the call and keeps its error instead of throwing it.
template<class T>
QCoro::Task<CallOutcome<T>> outcomeOf(QCoro::Task<T> call)
{
    CallOutcome<T> outcome;
    try {
        T value = co_await call;
        outcome.value.emplace(std::move(value));
    } catch (...) {
        outcome.error = std::current_exception();
    }
    co_return outcome;
}

// The log lines every catalogue store writes about a refresh. A failed or empty
// refresh keeps the store's list (cached or built-in) as it was.

// "refresh ok: 8 regions" (info); `noun` is the plural of the store's records.
void logRefreshSucceeded(const Logger &log, qsizetype count, const QString &noun);
// "refresh: empty catalogue — keeping cache/fallback" (error).
void logEmptyCatalogue(const Logger &log);
// "refresh 401: keeping cache/fallback" for APIError::unauthorized, else
// "refresh failed: <description> — keeping cache/fallback" (error).
void logRefreshFailure(const Logger &log, const std::exception_ptr &error);

// Whether the error is APIError::unauthorized.
bool isUnauthorized(const std::exception_ptr &error);

} // namespace kovra
