#pragma once

#include "connectivity/NetworkPathMonitoring.h"
#include "platform/NetworkPath.h"

#include <QMutex>

#include <memory>
#include <optional>

namespace kovra {

// Watches the host's network path while started and calls the change handler when the
// status or the set of interface kinds differs from the previous report. The first
// report after start() only sets the baseline; reports of a source that was stopped
// or replaced are dropped. Each start() uses a fresh source from the factory.
class SystemNetworkPathMonitor final : public NetworkPathMonitoring {
public:
    // The fingerprint of a path: equal fingerprints are no change.
    struct Signature {
        NetworkPathStatus status = NetworkPathStatus::Unsatisfied;
        bool wifi = false;
        bool cellular = false;
        bool wiredEthernet = false;
        bool loopback = false;
        bool other = false;

        static Signature of(const NetworkPath &path);
        friend bool operator==(const Signature &, const Signature &) = default;
    };

    // The default factory makes rtnetlink sources.
    explicit SystemNetworkPathMonitor(NetworkPathSourceFactory factory = {});
    ~SystemNetworkPathMonitor() override;

    SystemNetworkPathMonitor(const SystemNetworkPathMonitor &) = delete;
    SystemNetworkPathMonitor &operator=(const SystemNetworkPathMonitor &) = delete;

    ChangeHandler changeHandler() const override;
    void setChangeHandler(ChangeHandler handler) override;
    void start() override;
    void stop() override;

    bool isRunning() const;

private:
    struct State {
        mutable QMutex lock;
        ChangeHandler changeHandler;
        std::shared_ptr<NetworkPathSource> monitor;
        std::optional<Signature> lastSignature;
    };

    static void handlePath(const std::shared_ptr<State> &state, const NetworkPathSource *reporter,
                           const NetworkPath &path);

    const NetworkPathSourceFactory m_factory;
    const std::shared_ptr<State> m_state = std::make_shared<State>();
};

} // namespace kovra
