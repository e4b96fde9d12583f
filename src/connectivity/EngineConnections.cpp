#include "connectivity/EngineConnections.h"

#include "catalog/ConnectionStore.h"

namespace kovra {
namespace {

QCoro::Task<void> nothing() { co_return; }
QCoro::Task<bool> refused() { co_return false; }

} // namespace

StoreEngineConnections::StoreEngineConnections(ConnectionStore *store) : m_store(store) {}

QList<Connection> StoreEngineConnections::connections() const
{
    return m_store ? m_store->connections() : QList<Connection>();
}

std::optional<Connection> StoreEngineConnections::currentConnection() const
{
    return m_store ? m_store->currentConnection() : std::nullopt;
}

QString StoreEngineConnections::selectedEntryID() const
{
    return m_store ? m_store->selectedEntryID() : QString();
}

QString StoreEngineConnections::selectedRegionID() const
{
    return m_store ? m_store->selectedRegionID() : QString();
}

std::optional<Connection> StoreEngineConnections::resolvedExitConnection() const
{
    return m_store ? m_store->resolvedExitConnection() : std::nullopt;
}

QCoro::Task<void> StoreEngineConnections::refreshResolvedExit()
{
    return m_store ? m_store->refreshResolvedExit() : nothing();
}

QCoro::Task<bool> StoreEngineConnections::selectConnection(Connection connection, bool automatic,
                                                           bool closeConnections)
{
    if (!m_store)
        return refused();
    return m_store->selectConnection(std::move(connection), automatic, closeConnections);
}

} // namespace kovra
