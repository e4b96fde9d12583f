#pragma once

#include <QList>
#include <QString>

#include <functional>
#include <memory>

namespace kovra {

// Whether traffic can leave the host. Linux never asks for a connection to be brought
// up first, but the status keeps the third state so that callers reason about all three.
enum class NetworkPathStatus { Satisfied, Unsatisfied, RequiresConnection };

// What an interface is, as far as the path is concerned.
enum class InterfaceKind { Wifi, Cellular, Wired, Loopback, Other };

struct PathInterface {
    int index = 0;
    QString name;
    InterfaceKind kind = InterfaceKind::Other;

    friend bool operator==(const PathInterface &, const PathInterface &) = default;
};

// One report of the host's network path: its status and the interfaces that carry a
// default route (ordered by interface index).
struct NetworkPath {
    NetworkPathStatus status = NetworkPathStatus::Unsatisfied;
    QList<PathInterface> interfaces;

    bool uses(InterfaceKind kind) const;

    friend bool operator==(const NetworkPath &, const NetworkPath &) = default;
};

QString toString(NetworkPathStatus status);
QString toString(InterfaceKind kind);
// "satisfied [wlan0 wifi, eth0 wired]", for logs.
QString toString(const NetworkPath &path);

// Something that reports the network path: the first report comes soon after start(),
// later ones when the system reports a change. Reports arrive on the source's own
// thread. After cancel() the source stops reporting, though a report already under way
// may still arrive; starting a cancelled source does nothing. A source is started once.
class NetworkPathSource {
public:
    using Handler = std::function<void(const NetworkPath &)>;

    virtual ~NetworkPathSource() = default;
    virtual void start(Handler handler) = 0;
    virtual void cancel() = 0;
};

// Makes a fresh source for each run of a monitor or each one-shot check.
using NetworkPathSourceFactory = std::function<std::shared_ptr<NetworkPathSource>()>;

} // namespace kovra
