#pragma once

#include "platform/NetworkPath.h"

#include <QHashFunctions>
#include <QString>

#include <qcoro/qcorotask.h>

#include <optional>

namespace kovra {

// A four-way summary of the host's network path, for labelling reports.
class NetworkPathType {
public:
    enum Value { wifi, cellular, other, none };

    constexpr NetworkPathType(Value value) : m_value(value) {}
    constexpr operator Value() const { return m_value; }

    // "wifi", "cellular", "other", "none".
    QString rawValue() const;
    // Exactly one of the four raw values; nothing for any other text.
    static std::optional<NetworkPathType> fromRawValue(const QString &raw);

    // Wi-Fi wins over cellular, cellular over anything else; a path that is not
    // satisfied is none.
    static NetworkPathType of(const NetworkPath &path);

    // Blocks the calling thread until the first path report, or until the time-out (in
    // seconds) passes, and summarises it; none when nothing arrived in time. Only the
    // first report counts. Never call it on the GUI thread: use currentOffThread there.
    // The default factory makes rtnetlink sources.
    static NetworkPathType current(double timeoutSeconds, const NetworkPathSourceFactory &factory = {});
    // The same check on a worker thread, awaited.
    static QCoro::Task<NetworkPathType> currentOffThread(double timeoutSeconds, NetworkPathSourceFactory factory = {});

    friend size_t qHash(NetworkPathType type, size_t seed = 0) { return ::qHash(int(type.m_value), seed); }

private:
    Value m_value;
};

} // namespace kovra
