#include "support/FakeProvider.h"

#include <QTest>
#include <QUuid>

namespace kovra::test {

FakeProvider::FakeProvider(QObject *parent)
    : ProviderServer(QStringLiteral("/tmp/kv-%1.sock").arg(QUuid::createUuid().toString(QUuid::Id128).left(12)), parent)
{
    if (!listen())
        qWarning("FakeProvider: cannot listen on %s", qPrintable(socketPath()));
}

bool FakeProvider::waitForRequests(const QString &method, int count, std::chrono::milliseconds timeout) const
{
    return QTest::qWaitFor([&] { return requests(method).size() >= count; }, int(timeout.count()));
}

bool FakeProvider::waitForClients(int count, std::chrono::milliseconds timeout) const
{
    return QTest::qWaitFor([&] { return clientCount() >= count; }, int(timeout.count()));
}

} // namespace kovra::test
