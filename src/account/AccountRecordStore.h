#pragma once

#include "platform/Log.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <qcoro/qcorotask.h>

#include <exception>
#include <optional>

namespace kovra {

class AuthState;

// What the user-record and subscription stores share: the error of the last refresh,
// whether one runs (refreshes are single-flight), the generation a session-end reset
// advances so that a refresh in flight drops its result, and the end of the session
// when the service refuses the token.
class AccountRecordStore : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)
    Q_PROPERTY(QString errorText READ errorText NOTIFY errorChanged)
public:
    // The failure of the last refresh; a success clears it. Every write notifies.
    const std::exception_ptr &error() const { return m_error; }
    // The error as the user is shown it; empty when there is none.
    QString errorText() const;
    bool isLoading() const { return m_isLoading; }

Q_SIGNALS:
    void errorChanged();
    void isLoadingChanged();

protected:
    // `authState` (optional) is whose session a refused token ends; `component` names
    // the log category.
    AccountRecordStore(AuthState *authState, const QString &component, QObject *parent);

    // Marks a refresh as running; its generation.
    quint64 startRefresh();
    // Whether a refresh of that generation may still apply its result.
    bool isCurrent(quint64 generation) const { return m_generation == generation; }
    // Ends a refresh unless a reset came first.
    void finishRefresh(quint64 generation);
    // A refresh failed: 401 records the error, ends the session and logs "refresh 401:
    // session cleared" (the caller has dropped its record first); any other failure
    // only records it and logs "refresh failed: <description>".
    void recordFailure(const std::exception_ptr &error);
    static bool isRefusal(const std::exception_ptr &error);
    // The session-end reset's generation step, then its error and loading steps.
    void advanceGeneration() { ++m_generation; }
    void clearErrorAndLoading();
    void setError(std::exception_ptr error);

    Logger m_log;

private:
    void setIsLoading(bool value);

    std::exception_ptr m_error;
    bool m_isLoading = false;
    QPointer<AuthState> m_authState;
    quint64 m_generation = 0;
};

} // namespace kovra
