#pragma once

#include "dev-service/DevServiceOptions.h"
#include "dev-service/DevState.h"
#include "loopback-http/LoopbackHosts.h"
#include "platform/Log.h"

#include <QJsonObject>
#include <QObject>
#include <QUrl>

#include <map>
#include <memory>

namespace kovra::devservice {

struct Call;
struct Reply;

// A local stand-in of the service API on three loopback hosts under "/api", with the
// stand-in pages of the external targets at the hosts' roots. It signs a user in
// (Telegram polls, Apple, Google), issues random session tokens and answers 401 to any
// other, serves the account, subscription, tariffs, invoices (paid `payAfter` later),
// the catalogue with on-demand regions that wake, the diagnostics upload and echo,
// and the configuration download behind the subscription URL. Every request gets one
// log line under "DevService" (method, path, status); tokens and nonces never reach
// it. Lives on the GUI thread.
class DevService : public QObject {
    Q_OBJECT
public:
    explicit DevService(DevServiceOptions options, QObject *parent = nullptr);
    ~DevService() override;

    // Loads the state file, starts the hosts and writes the targets file; false with
    // the reason when any of it fails.
    bool start(QString *error = nullptr);

    QList<QUrl> baseURLs() const { return m_hosts.baseURLs(); }
    // "base-urls: <url>,<url>,<url>", printed once the hosts listen.
    QString startLine() const;
    QJsonObject targets() const;

private:
    void receive(const loopback::Request &request, loopback::Exchange *exchange);
    void handle(const loopback::Request &request, loopback::Exchange *exchange);
    Reply route(Call &call, QString &logPath);
    bool save();
    QDateTime now() const { return m_options.clock->now(); }
    QString statusOf(const QString &regionId) const;
    QString pageBase(int host) const;

    Reply startSession(const Call &call);
    Reply poll(const Call &call);
    Reply login(const Call &call);
    Reply link(const Call &call);
    // The sign-in's answer: the account (created on first use) and a new token.
    Reply signedIn(DevState::Identity identity, const QDateTime &now);
    Reply registerPush(const Call &call);
    Reply me(const Call &call);
    Reply subscription(const Call &call);
    Reply tariffs(const Call &call);
    Reply invoice(const Call &call);
    Reply regions(const Call &call);
    Reply wake(const Call &call);
    Reply entries(const Call &call);
    Reply connections(const Call &call);
    Reply clientVersion(const Call &call);
    Reply diagUpload(const Call &call);
    Reply diagEcho(const Call &call);
    Reply configuration(const Call &call);
    Reply probe(const Call &call);
    Reply trace(const Call &call);
    Reply check(const Call &call);
    Reply exitAddress(const Call &call);

    struct RouteEntry;
    static const QList<RouteEntry> &routeTable();

    DevServiceOptions m_options;
    DevState m_state;
    loopback::LoopbackHosts m_hosts;
    std::map<quint64, std::unique_ptr<ClockTimer>> m_delayed;
    quint64 m_nextDelayed = 0;
    bool m_changed = false;
    Logger m_log{QStringLiteral("DevService")};
};

} // namespace kovra::devservice
