#include "app/AppDependencies.h"

#include <QMetaObject>

namespace kovra {

AppDependencies::AppDependencies(AppOptions options, QObject *parent)
    : QObject(parent), m_options(std::move(options))
{
}

AppDependencies::~AppDependencies()
{
    // The hook must not reach a container whose members are going.
    m_tearingDown = true;
    if (m_authState)
        m_authState->setOnSessionInvalidated({});
}

std::function<void()> AppDependencies::sessionInvalidatedReset()
{
    return [container = QPointer<AppDependencies>(this)] {
        if (container && !container->m_tearingDown)
            container->handleSessionInvalidated();
    };
}

void AppDependencies::handleSessionInvalidated()
{
    // The stop runs after this returns (and after the session state has moved on), so
    // the provider only hears of it once the keys below are gone.
    if (m_tunnelController) {
        QMetaObject::invokeMethod(
            m_tunnelController.get(),
            [tunnel = QPointer<TunnelController>(m_tunnelController.get())] { stopTunnel(tunnel); },
            Qt::QueuedConnection);
    }
    if (m_subscriptionStore)
        m_subscriptionStore->clear();
    if (m_meStore)
        m_meStore->reset();
    if (m_appGroup)
        m_appGroup->removeSessionKeys();
}

QCoro::Task<void> AppDependencies::stopTunnel(QPointer<TunnelController> tunnel)
{
    // A failed stop changes nothing the reset did; it is not reported.
    try {
        if (tunnel)
            co_await tunnel->stop(true);
    } catch (...) {
    }
}

ui::DiagnosticsViewOptions AppDependencies::diagnosticsViewOptions() const
{
    ui::DiagnosticsViewOptions o;
    o.paths = m_options.paths;
    o.baseURLs = m_options.baseURLs;
    const ExternalTargets &targets = m_options.targets;
    o.runner.targets = targets.diagnosticsRun;
    o.connectivity.probe.targets = targets.selfTest;
    o.controlPlane.controlURL = targets.controlCheckURL;
    // Base URLs other than the service's own (a local service) are reached on their
    // own scheme and port.
    const bool ownHosts = m_options.baseURLs != APIClient::builtInBaseURLs();
    o.controlPlane.followBaseURLs = ownHosts;
    o.triage.followBaseURLs = ownHosts;
    o.controlPlane.pathSources = m_options.pathSources;
    o.triage.pathSources = m_options.pathSources;
    return o;
}

ui::AccountServices AppDependencies::accountServices() const
{
    ui::AccountServices s;
    s.authState = authState();
    s.tunnelController = tunnelController();
    s.subscriptionStore = subscriptionStore();
    s.paymentsService = paymentsService();
    s.meStore = meStore();
    s.appleService = appleService();
    s.googleService = googleService();
    s.appGroup = m_appGroup;
    s.linkOpener = m_urlOpener;
    s.links = m_options.accountLinks;
    return s;
}

} // namespace kovra
