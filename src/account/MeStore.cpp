#include "account/MeStore.h"

#include "platform/Property.h"

namespace kovra {
namespace {
QString flag(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}
} // namespace

MeStore::MeStore(std::shared_ptr<MeService> service, AuthState *authState, QObject *parent)
    : AccountRecordStore(authState, QStringLiteral("Me"), parent), m_service(std::move(service))
{
}

void MeStore::setLatest(std::optional<MeOut> value)
{
    updateProperty(m_latest, std::move(value), this, &MeStore::latestChanged);
}

QCoro::Task<void> MeStore::refresh(CancellationToken token)
{
    if (isLoading())
        co_return;
    QPointer<MeStore> self(this);
    const quint64 generation = startRefresh();
    const std::shared_ptr<MeService> service = m_service;
    std::optional<MeOut> record;
    std::exception_ptr failure;
    try {
        record = co_await service->fetchMe(token);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self || !isCurrent(generation))
        co_return; // the session ended meanwhile

    if (record) {
        setLatest(record);
        setError(nullptr);
        m_log.info(QStringLiteral("refresh ok: hasTelegram=%1 hasApple=%2").arg(flag(record->hasTelegram), flag(record->hasApple)));
    } else {
        if (isRefusal(failure))
            setLatest(std::nullopt);
        recordFailure(failure);
    }
    if (self)
        finishRefresh(generation);
}

void MeStore::reset()
{
    advanceGeneration();
    setLatest(std::nullopt);
    clearErrorAndLoading();
}

} // namespace kovra
