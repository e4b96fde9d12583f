#include "connectivity/AppGroupThroughputSource.h"

#include "platform/Error.h"
#include "platform/Log.h"

#include <QHash>
#include <QLocale>
#include <QMutex>
#include <QMutexLocker>

namespace kovra {
namespace {

// The same category as the app-group store's own lines.
const Logger &storeLog()
{
    static const Logger log{QStringLiteral("AppGroupStore")};
    return log;
}

// The provider rewrites the record every few seconds while the engine polls it every
// two: an unusable record is reported the first time it is read, not on every poll.
bool firstRejection(const QString &key, const QByteArray &record)
{
    static QMutex mutex;
    static QHash<QString, QByteArray> lastRejected;
    QMutexLocker lock(&mutex);
    const auto it = lastRejected.constFind(key);
    if (it != lastRejected.cend() && *it == record)
        return false;
    lastRejected.insert(key, record);
    return true;
}

QString rateText(double rate)
{
    return QString::number(rate, 'g', QLocale::FloatingPointShortest);
}

} // namespace

AppGroupThroughputSource AppGroupThroughputSource::live(AppGroupStore store)
{
    return AppGroupThroughputSource([store = std::move(store)] { return readSample(store, AppGroupKey::throughputSample); });
}

std::optional<SharedThroughputSample> AppGroupThroughputSource::readSample(const AppGroupStore &store,
                                                                           const QString &key)
{
    const std::optional<QByteArray> data = store.defaults()->data(key);
    if (!data)
        return std::nullopt;
    SharedThroughputSample sample;
    try {
        sample = JsonDecoder().decode<SharedThroughputSample>(*data);
    } catch (...) {
        storeLog().error(
            QStringLiteral("decode failed for key %1: %2").arg(key, descriptionOf(std::current_exception())));
        return std::nullopt;
    }
    if (!sample.hasUsableRates()) {
        if (firstRejection(key, *data))
            storeLog().error(QStringLiteral("throughput sample rejected for key %1: rx=%2 tx=%3 out of range")
                                 .arg(key, rateText(sample.rxBps), rateText(sample.txBps)));
        return std::nullopt;
    }
    return sample;
}

} // namespace kovra
