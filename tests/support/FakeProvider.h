#pragma once

#include "provider-kit/ProviderServer.h"

#include <QString>

#include <chrono>

namespace kovra::test {

// The tunnel provider in-process, on a short unique socket under /tmp (socket paths
// are limited to 108 bytes). Listens from construction; kill() and listen() take it
// down and bring it back.
class FakeProvider : public provider::ProviderServer {
    Q_OBJECT
public:
    explicit FakeProvider(QObject *parent = nullptr);

    // Runs the event loop until `count` requests of the method have arrived.
    bool waitForRequests(const QString &method, int count = 1,
                         std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    // Runs the event loop until at least `count` clients are connected.
    bool waitForClients(int count = 1, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
};

} // namespace kovra::test
