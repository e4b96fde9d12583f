#pragma once

#include "catalog/Connection.h"

#include <QList>
#include <QPointer>
#include <QString>

#include <qcoro/qcorotask.h>

#include <optional>

namespace kovra {

class ConnectionStore;

// The route catalogue and selection as the connectivity engine uses them: what it
// reads to choose a route, and the one way it moves (the same selection a user's pick
// makes). Used on the GUI thread.
class EngineConnections {
public:
    virtual ~EngineConnections() = default;

    // The catalogue in its order.
    virtual QList<Connection> connections() const = 0;
    // The route in use, none for an empty catalogue. Composed from the selection: with
    // the "auto" entry it is the route "auto" whatever exit region is selected.
    virtual std::optional<Connection> currentConnection() const = 0;
    // "auto" for the automatic entry.
    virtual QString selectedEntryID() const = 0;
    // The selected exit region; "auto" for the automatic one.
    virtual QString selectedRegionID() const = 0;
    // The route the running tunnel was last found to use.
    virtual std::optional<Connection> resolvedExitConnection() const = 0;
    // Asks the running tunnel which route it uses. Never throws.
    virtual QCoro::Task<void> refreshResolvedExit() = 0;
    // Applies a route; true when the selection now points at it. Never throws.
    virtual QCoro::Task<bool> selectConnection(Connection connection, bool automatic, bool closeConnections) = 0;
};

// Over the app's connection store, held weakly: once the store is gone the catalogue
// reads empty and every move is refused.
class StoreEngineConnections final : public EngineConnections {
public:
    explicit StoreEngineConnections(ConnectionStore *store);

    QList<Connection> connections() const override;
    std::optional<Connection> currentConnection() const override;
    QString selectedEntryID() const override;
    QString selectedRegionID() const override;
    std::optional<Connection> resolvedExitConnection() const override;
    QCoro::Task<void> refreshResolvedExit() override;
    QCoro::Task<bool> selectConnection(Connection connection, bool automatic, bool closeConnections) override;

private:
    QPointer<ConnectionStore> m_store;
};

} // namespace kovra
