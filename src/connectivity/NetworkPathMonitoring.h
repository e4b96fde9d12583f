#pragma once

#include <functional>

namespace kovra {

// Tells its owner when the host's network path really changes. The change handler is
// called on the monitor's own thread, never under its lock; whoever installs it hops
// to the thread it needs. Safe to use from any thread.
class NetworkPathMonitoring {
public:
    using ChangeHandler = std::function<void()>;

    virtual ~NetworkPathMonitoring() = default;

    virtual ChangeHandler changeHandler() const = 0;
    virtual void setChangeHandler(ChangeHandler handler) = 0;
    // Begins monitoring with a fresh baseline; does nothing while already monitoring.
    virtual void start() = 0;
    // Ends monitoring; does nothing when not monitoring.
    virtual void stop() = 0;
};

} // namespace kovra
