#include "connectivity/SystemNetworkPathMonitor.h"

#include "platform/Log.h"
#include "platform/NetlinkPathSource.h"

#include <QMutexLocker>

#include <utility>

namespace kovra {

SystemNetworkPathMonitor::Signature SystemNetworkPathMonitor::Signature::of(const NetworkPath &path)
{
    Signature signature;
    signature.status = path.status;
    signature.wifi = path.uses(InterfaceKind::Wifi);
    signature.cellular = path.uses(InterfaceKind::Cellular);
    signature.wiredEthernet = path.uses(InterfaceKind::Wired);
    signature.loopback = path.uses(InterfaceKind::Loopback);
    signature.other = path.uses(InterfaceKind::Other);
    return signature;
}

SystemNetworkPathMonitor::SystemNetworkPathMonitor(NetworkPathSourceFactory factory)
    : m_factory(factory ? std::move(factory) : NetlinkPathSource::factory())
{
}

SystemNetworkPathMonitor::~SystemNetworkPathMonitor()
{
    stop();
}

SystemNetworkPathMonitor::ChangeHandler SystemNetworkPathMonitor::changeHandler() const
{
    QMutexLocker lock(&m_state->lock);
    return m_state->changeHandler;
}

void SystemNetworkPathMonitor::setChangeHandler(ChangeHandler handler)
{
    QMutexLocker lock(&m_state->lock);
    m_state->changeHandler = std::move(handler);
}

bool SystemNetworkPathMonitor::isRunning() const
{
    QMutexLocker lock(&m_state->lock);
    return bool(m_state->monitor);
}

void SystemNetworkPathMonitor::start()
{
    std::shared_ptr<NetworkPathSource> source;
    {
        QMutexLocker lock(&m_state->lock);
        if (m_state->monitor)
            return;
        m_state->lastSignature.reset();
        source = m_factory();
        if (!source) {
            static const Logger log(QStringLiteral("NetworkPath"));
            log.error(QStringLiteral("network path: no path source"));
            return;
        }
        m_state->monitor = source;
    }
    // The handler holds neither the monitor nor the source: a report that outlives
    // either is dropped.
    std::weak_ptr<State> weakState = m_state;
    std::weak_ptr<NetworkPathSource> weakSource = source;
    source->start([weakState, weakSource](const NetworkPath &path) {
        const auto state = weakState.lock();
        const auto reporter = weakSource.lock();
        if (state && reporter)
            handlePath(state, reporter.get(), path);
    });
}

void SystemNetworkPathMonitor::stop()
{
    std::shared_ptr<NetworkPathSource> source;
    {
        QMutexLocker lock(&m_state->lock);
        source = std::move(m_state->monitor);
        m_state->monitor.reset();
        m_state->lastSignature.reset();
    }
    if (source)
        source->cancel();
}

void SystemNetworkPathMonitor::handlePath(const std::shared_ptr<State> &state, const NetworkPathSource *reporter,
                                          const NetworkPath &path)
{
    const Signature signature = Signature::of(path);
    ChangeHandler handler;
    {
        QMutexLocker lock(&state->lock);
        if (state->monitor.get() != reporter)
            return;
        const std::optional<Signature> previous = std::exchange(state->lastSignature, signature);
        if (!previous || *previous == signature)
            return;
        handler = state->changeHandler;
    }
    if (handler)
        handler();
}

} // namespace kovra
