#include "connectivity/NetworkPathType.h"

#include "platform/NetlinkPathSource.h"

#include <QDeadlineTimer>
#include <QMutex>
#include <QMutexLocker>
#include <QSemaphore>
#include <QtConcurrent/QtConcurrentRun>

#include <qcoro/qcorofuture.h>

#include <algorithm>
#include <climits>

namespace kovra {
namespace {

// Longest wait accepted; anything longer (or not a number) is clamped.
constexpr double maxTimeoutSeconds = 24 * 3600;

// Shared between the waiting caller and the source's reports.
struct CheckState {
    QMutex lock;
    NetworkPathType result = NetworkPathType::none;
    bool finished = false;
    QSemaphore reported;
};

std::chrono::milliseconds boundedTimeout(double seconds)
{
    if (!(seconds > 0)) // also NaN
        return std::chrono::milliseconds(0);
    return std::chrono::milliseconds(qint64(std::min(seconds, maxTimeoutSeconds) * 1000.0));
}

} // namespace

QString NetworkPathType::rawValue() const
{
    switch (m_value) {
    case wifi:
        return QStringLiteral("wifi");
    case cellular:
        return QStringLiteral("cellular");
    case other:
        return QStringLiteral("other");
    case none:
        break;
    }
    return QStringLiteral("none");
}

std::optional<NetworkPathType> NetworkPathType::fromRawValue(const QString &raw)
{
    for (Value value : {wifi, cellular, other, none}) {
        if (NetworkPathType(value).rawValue() == raw)
            return NetworkPathType(value);
    }
    return std::nullopt;
}

NetworkPathType NetworkPathType::of(const NetworkPath &path)
{
    if (path.status != NetworkPathStatus::Satisfied)
        return none;
    if (path.uses(InterfaceKind::Wifi))
        return wifi;
    if (path.uses(InterfaceKind::Cellular))
        return cellular;
    return other;
}

NetworkPathType NetworkPathType::current(double timeoutSeconds, const NetworkPathSourceFactory &factory)
{
    const QDeadlineTimer deadline(boundedTimeout(timeoutSeconds));
    const auto state = std::make_shared<CheckState>();
    const std::shared_ptr<NetworkPathSource> source = factory ? factory() : NetlinkPathSource::factory()();
    if (!source)
        return none;
    source->start([state](const NetworkPath &path) {
        {
            QMutexLocker lock(&state->lock);
            if (state->finished)
                return;
            state->finished = true;
            state->result = of(path);
        }
        state->reported.release();
    });
    state->reported.tryAcquire(1, int(std::clamp<qint64>(deadline.remainingTime(), 0, INT_MAX)));
    source->cancel();
    QMutexLocker lock(&state->lock);
    // Nothing that arrives from now on counts.
    state->finished = true;
    return state->result;
}

QCoro::Task<NetworkPathType> NetworkPathType::currentOffThread(double timeoutSeconds, NetworkPathSourceFactory factory)
{
    QFuture<NetworkPathType> check =
        QtConcurrent::run([timeoutSeconds, factory = std::move(factory)] { return current(timeoutSeconds, factory); });
    const NetworkPathType type = co_await check;
    co_return type;
}

} // namespace kovra
