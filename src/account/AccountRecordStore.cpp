#include "account/AccountRecordStore.h"

#include "account/AuthState.h"
#include "core/APIError.h"
#include "platform/Property.h"

namespace kovra {

AccountRecordStore::AccountRecordStore(AuthState *authState, const QString &component, QObject *parent)
    : QObject(parent), m_log(component), m_authState(authState)
{
}

QString AccountRecordStore::errorText() const
{
    return m_error ? localizedDescriptionOf(m_error) : QString();
}

void AccountRecordStore::setError(std::exception_ptr error)
{
    m_error = std::move(error);
    Q_EMIT errorChanged();
}

void AccountRecordStore::setIsLoading(bool value)
{
    updateProperty(m_isLoading, value, this, &AccountRecordStore::isLoadingChanged);
}

quint64 AccountRecordStore::startRefresh()
{
    setIsLoading(true);
    return m_generation;
}

void AccountRecordStore::finishRefresh(quint64 generation)
{
    if (isCurrent(generation))
        setIsLoading(false);
}

bool AccountRecordStore::isRefusal(const std::exception_ptr &error)
{
    return APIError::kindOf(error) == APIError::Kind::unauthorized;
}

void AccountRecordStore::recordFailure(const std::exception_ptr &error)
{
    setError(error);
    if (!isRefusal(error)) {
        m_log.error(QStringLiteral("refresh failed: %1").arg(descriptionOf(error)));
        return;
    }
    QPointer<AccountRecordStore> self(this);
    if (m_authState)
        m_authState->clearSessionAfterRefusal(error);
    if (self)
        m_log.error(QStringLiteral("refresh 401: session cleared"));
}

void AccountRecordStore::clearErrorAndLoading()
{
    setError(nullptr);
    setIsLoading(false);
}

} // namespace kovra
