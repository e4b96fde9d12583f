#pragma once

#include "core/APIClient.h"

#include <QObject>
#include <QString>
#include <QUrl>

#include <memory>

namespace kovra {

// The client-version check's service. It keeps an API client of its own; nothing
// asks the service for the client version yet.
class ClientVersionService {
public:
    explicit ClientVersionService(std::unique_ptr<APIClient> api) : m_api(std::move(api)) {}

    APIClient &api() const { return *m_api; }

private:
    std::unique_ptr<APIClient> m_api;
};

// Whether this build may or must be updated, with the link and text to show.
// Starts as current with no link and no text; nothing changes it yet.
class ClientUpdateStore : public QObject {
    Q_OBJECT
    Q_PROPERTY(State state READ state CONSTANT)
    Q_PROPERTY(QUrl updateURL READ updateURL CONSTANT)
    Q_PROPERTY(QString message READ message CONSTANT)
public:
    enum class State { current, optional, required };
    Q_ENUM(State)

    explicit ClientUpdateStore(std::shared_ptr<ClientVersionService> service, QObject *parent = nullptr)
        : QObject(parent), m_service(std::move(service))
    {
    }

    State state() const { return m_state; }
    // Empty when there is no link.
    QUrl updateURL() const { return m_updateURL; }
    // Null when there is no text.
    QString message() const { return m_message; }
    const std::shared_ptr<ClientVersionService> &service() const { return m_service; }

private:
    State m_state = State::current;
    QUrl m_updateURL;
    QString m_message;
    std::shared_ptr<ClientVersionService> m_service;
};

using ClientUpdateState = ClientUpdateStore::State;

} // namespace kovra
