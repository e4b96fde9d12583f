#pragma once

#include <QList>
#include <QString>

namespace kovra {

// How one service answered during a reachability pass.
struct ServiceReachability {
    QString name;
    bool isApp = false;
    bool isGating = false;
    bool reachable = false;
    qint64 latencyMS = 0;

    friend bool operator==(const ServiceReachability &, const ServiceReachability &) = default;
};

// One reachability pass: a result per probed service, in the service list's order.
struct ReachabilitySnapshot {
    QList<ServiceReachability> results;

    qsizetype gatingReachableCount() const;
    qsizetype gatingCount() const;
    qsizetype appReachableCount() const;
    qsizetype appCount() const;
    qsizetype reachableCount() const;

    friend bool operator==(const ReachabilitySnapshot &, const ReachabilitySnapshot &) = default;
};

} // namespace kovra
