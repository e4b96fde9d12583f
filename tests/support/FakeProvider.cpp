#include "support/FakeProvider.h"

#include "support/Await.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>
#include <QUuid>

namespace kovra::test {

FakeProvider::FakeProvider(QObject *parent)
    : ProviderServer(QStringLiteral("/tmp/kv-%1/p.sock").arg(QUuid::createUuid().toString(QUuid::Id128).left(12)), parent)
{
    if (!listen())
        qWarning("FakeProvider: cannot listen on %s", qPrintable(socketPath()));
}

FakeProvider::~FakeProvider()
{
    kill();
    QDir(QFileInfo(socketPath()).absolutePath()).removeRecursively();
}

bool FakeProvider::waitForRequests(const QString &method, int count, std::chrono::milliseconds timeout) const
{
    return QTest::qWaitFor([&] { return requests(method).size() >= count; }, int(timeout.count()));
}

TunnelPreferencesOptions tunnelOptions(const PlatformPaths &paths, const QString &socketPath,
                                       std::shared_ptr<Clock> clock, std::chrono::milliseconds replyBound,
                                       std::chrono::milliseconds retry)
{
    TunnelPreferencesOptions options = TunnelPreferencesOptions::in(paths, socketPath);
    options.messageReplyTimeout = replyBound;
    options.reconnectInterval = retry;
    options.clock = std::move(clock);
    return options;
}

TunnelProviderManager *saveConfiguration(TunnelPreferences &preferences, const QString &bundleID,
                                         QVariantMap providerConfiguration)
{
    TunnelProviderManager *m = preferences.createManager();
    m->setProtocolConfiguration(TunnelProviderProtocol{bundleID, QStringLiteral("Kovra"), std::move(providerConfiguration)});
    m->setEnabled(true);
    await(m->saveToPreferences());
    return m;
}

} // namespace kovra::test
