#include "dev-service/DevService.h"

#include "dev-service/DevCatalog.h"
#include "dev-service/DevTargets.h"
#include "platform/AtomicFile.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>
#include <QRandomGenerator>
#include <QUrlQuery>

namespace kovra::devservice {

using namespace Qt::StringLiterals;

namespace {

const QString kPrefix = u"/api"_s;
// What the stand-in pages report as the exit address (a documentation address).
const QString kExitAddress = u"203.0.113.45"_s;

enum class Access { open, token };

// Path segments after the leading "/", each still percent-encoded; "/" has none.
QStringList segmentsOf(const QString &encodedPath)
{
    const QString rest = encodedPath.startsWith(u'/') ? encodedPath.mid(1) : encodedPath;
    return rest.isEmpty() ? QStringList() : rest.split(u'/');
}

// A path that matched no route, for the log: long segments may be secrets sent to the
// wrong place and are masked.
QString maskedPath(const QStringList &segments)
{
    QStringList out;
    for (const QString &s : segments)
        out.append(s.size() >= 16 ? u"***"_s : s);
    return u'/' + out.join(u'/');
}

} // namespace

struct Call {
    const loopback::Request &request;
    QStringList segments; // decoded
    QStringList params;   // the decoded segments the route's "*" stood for
    QJsonObject body;
    QDateTime now;
};

struct Reply {
    enum class Kind { answer, stream, close };
    Kind kind = Kind::answer;
    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/json";
    qint64 length = 0; // of a streamed body
    QString note;      // added to the request's log line

    static Reply json(int status, const QJsonValue &value)
    {
        Reply r;
        r.status = status;
        r.body = value.isArray() ? QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact)
                                 : QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
        return r;
    }
    static Reply detail(int status, const QString &text) { return json(status, QJsonObject{{"detail", text}}); }
    static Reply text(int status, const QByteArray &text)
    {
        Reply r;
        r.status = status;
        r.body = text;
        r.contentType = "text/plain; charset=utf-8";
        return r;
    }
    static Reply empty(int status)
    {
        Reply r;
        r.status = status;
        r.contentType.clear();
        return r;
    }
};

struct DevService::RouteEntry {
    bool api; // below "/api", else a stand-in page at the root
    QByteArray method;
    QStringList pattern; // "*" stands for one segment
    Access access;
    int secret; // the parameter logged as "***", or -1
    QStringList required; // string members the JSON body must carry, not empty
    Reply (DevService::*handle)(const Call &);
};

const QList<DevService::RouteEntry> &DevService::routeTable()
{
    const auto p = [](const char *pattern) {
        return *pattern ? QString::fromLatin1(pattern).split(u'/') : QStringList();
    };
    const QStringList none;
    static const QList<RouteEntry> table{
        {true, "POST", p("auth/start_session"), Access::open, -1, none, &DevService::startSession},
        {true, "GET", p("auth/poll/*"), Access::open, 0, none, &DevService::poll},
        {true, "POST", p("auth/apple"), Access::open, -1, {u"id_token"_s}, &DevService::login},
        {true, "POST", p("auth/google"), Access::open, -1, {u"id_token"_s}, &DevService::login},
        {true, "POST", p("auth/apple/link"), Access::token, -1, {u"id_token"_s}, &DevService::link},
        {true, "POST", p("auth/google/link"), Access::token, -1, {u"id_token"_s}, &DevService::link},
        {true, "POST", p("auth/telegram/link"), Access::token, -1, {u"init_data"_s}, &DevService::link},
        {true, "POST", p("push/register"), Access::token, -1, {u"token"_s}, &DevService::registerPush},
        {true, "GET", p("me"), Access::token, -1, none, &DevService::me},
        {true, "GET", p("me/subscription"), Access::token, -1, none, &DevService::subscription},
        {true, "GET", p("payment/tariffs"), Access::token, -1, none, &DevService::tariffs},
        {true, "POST", p("payment/stars/invoice"), Access::token, -1, {u"plan_id"_s}, &DevService::invoice},
        {true, "POST", p("payment/cryptobot/invoice"), Access::token, -1, {u"plan_id"_s}, &DevService::invoice},
        {true, "GET", p("regions"), Access::token, -1, none, &DevService::regions},
        {true, "POST", p("regions/*/wake"), Access::token, -1, none, &DevService::wake},
        {true, "GET", p("entries"), Access::token, -1, none, &DevService::entries},
        {true, "GET", p("connections"), Access::token, -1, none, &DevService::connections},
        {true, "GET", p("client/version"), Access::open, -1, none, &DevService::clientVersion},
        {true, "POST", p("diag"), Access::open, -1, none, &DevService::diagUpload},
        {true, "GET", p("diag/echo"), Access::open, -1, none, &DevService::diagEcho},
        {true, "GET", p("sub/*"), Access::open, 0, none, &DevService::configuration},
        {true, "GET", p("sub/*/sing_box"), Access::open, 0, none, &DevService::configuration},
        {false, "GET", p("probe/*"), Access::open, -1, none, &DevService::probe},
        {false, "GET", p("cdn-cgi/trace"), Access::open, -1, none, &DevService::trace},
        {false, "GET", p("generate_204"), Access::open, -1, none, &DevService::check},
        {false, "GET", p(""), Access::open, -1, none, &DevService::exitAddress},
    };
    return table;
}

DevService::DevService(DevServiceOptions options, QObject *parent)
    : QObject(parent),
      m_options(std::move(options)),
      m_state(m_options.subscription.value_or(SubscriptionPlan::trial), m_options.clock->now()),
      m_hosts([this](const loopback::Request &request, loopback::Exchange *exchange) { receive(request, exchange); })
{
}

DevService::~DevService()
{
    m_delayed.clear();
}

bool DevService::start(QString *error)
{
    const auto fail = [error](const QString &reason) {
        if (error)
            *error = reason;
        return false;
    };
    if (!m_options.statePath.isEmpty() && QFile::exists(m_options.statePath)) {
        QFile file(m_options.statePath);
        if (!file.open(QIODevice::ReadOnly))
            return fail(u"cannot read %1: %2"_s.arg(m_options.statePath, file.errorString()));
        const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
        file.close();
        auto loaded = DevState::fromJson(document.object());
        if (loaded) {
            m_state = std::move(*loaded);
            if (m_options.subscription)
                m_state.setSubscription(*m_options.subscription, now());
        } else {
            // Not a state of this service: set aside for a look, and start afresh.
            QString asideError;
            const auto aside = files::moveAside(m_options.statePath, now(), &asideError);
            if (!aside)
                return fail(u"%1 holds no state of this service and cannot be set aside: %2"_s.arg(m_options.statePath, asideError));
            m_log.error(u"state file unreadable, moved to %1; starting with a new state"_s.arg(*aside));
        }
    }
    // A state that cannot be written would be lost silently: better not to start.
    if (!save())
        return fail(u"cannot write the state to %1"_s.arg(m_options.statePath));
    loopback::LoopbackHostsOptions hosts;
    hosts.ports = m_options.ports;
    hosts.down = m_options.downHosts;
    hosts.prefix = kPrefix;
    QString reason;
    if (!m_hosts.listen(hosts, &reason))
        return fail(reason);
    if (!m_options.targetsPath.isEmpty()) {
        QString writeError;
        const QByteArray json = QJsonDocument(targets()).toJson(QJsonDocument::Indented);
        if (!files::writeAtomically(m_options.targetsPath, json, &writeError))
            return fail(u"cannot write %1: %2"_s.arg(m_options.targetsPath, writeError));
    }
    return true;
}

QString DevService::startLine() const
{
    return u"base-urls: "_s + QString::fromUtf8(m_hosts.baseURLsText());
}

QString DevService::pageBase(int host) const
{
    return u"http://127.0.0.1:%1"_s.arg(m_hosts.ports().value(host));
}

QJsonObject DevService::targets() const
{
    int host = 0;
    while (m_options.downHosts.contains(host) && host + 1 < m_hosts.ports().size())
        ++host;
    return targetsJson(baseURLs(), QUrl(pageBase(host)));
}

bool DevService::save()
{
    if (m_options.statePath.isEmpty())
        return true;
    QString error;
    if (files::writeAtomically(m_options.statePath, QJsonDocument(m_state.toJson()).toJson(QJsonDocument::Indented), &error))
        return true;
    m_log.error(u"cannot write the state to %1: %2"_s.arg(m_options.statePath, error));
    return false;
}

void DevService::receive(const loopback::Request &request, loopback::Exchange *exchange)
{
    const auto delay = m_options.hostDelays.value(request.host, std::chrono::milliseconds(0));
    if (delay.count() <= 0) {
        handle(request, exchange);
        return;
    }
    const quint64 id = m_nextDelayed++;
    QPointer<loopback::Exchange> guard(exchange);
    m_delayed[id] = m_options.clock->startTimer(delay, [this, id, request, guard] {
        const auto self = m_delayed.extract(id); // released when this call ends
        if (guard)
            handle(request, guard);
    });
}

void DevService::handle(const loopback::Request &request, loopback::Exchange *exchange)
{
    Call call{request, {}, {}, {}, now()};
    QString logPath;
    const Reply reply = route(call, logPath);
    if (m_changed) {
        m_changed = false;
        save();
    }
    // HEAD answers announce no body: the client sends HEAD as a custom verb and would
    // wait for the bytes of any length announced.
    const bool head = request.method == "HEAD";
    QString outcome = QString::number(reply.status);
    loopback::RawResponse response;
    response.status = reply.status;
    response.contentType = reply.contentType;
    switch (reply.kind) {
    case Reply::Kind::close:
        outcome = u"closed without an answer"_s;
        exchange->close();
        break;
    case Reply::Kind::stream: {
        const qint64 sendUpTo = head ? 0 : std::min(reply.length, m_options.echoCutAt.value_or(reply.length));
        if (sendUpTo < reply.length && !head)
            outcome += u", cut after %1 of %2 bytes"_s.arg(sendUpTo).arg(reply.length);
        if (head)
            exchange->respond(response);
        else
            exchange->stream(response, reply.length, sendUpTo);
        break;
    }
    case Reply::Kind::answer:
        if (!head)
            response.body = reply.body;
        exchange->respond(response);
        break;
    }
    if (!reply.note.isEmpty())
        outcome += u", "_s + reply.note;
    m_log.info(u"%1 %2 %3 (host %4)"_s.arg(QString::fromLatin1(request.method), logPath, outcome).arg(request.host + 1));
}

Reply DevService::route(Call &call, QString &logPath)
{
    const loopback::Request &request = call.request;
    QString encoded = request.url.path(QUrl::FullyEncoded);
    if (request.underPrefix)
        encoded = encoded.mid(kPrefix.size());
    const QStringList raw = segmentsOf(encoded);
    for (const QString &s : raw)
        call.segments.append(QUrl::fromPercentEncoding(s.toUtf8()));
    const QString base = request.underPrefix ? kPrefix : QString();
    logPath = base + maskedPath(raw);

    const RouteEntry *pathMatch = nullptr;
    const RouteEntry *match = nullptr;
    const QByteArray method = request.method == "HEAD" ? QByteArray("GET") : request.method;
    for (const RouteEntry &r : routeTable()) {
        if (r.api != request.underPrefix || r.pattern.size() != raw.size())
            continue;
        bool same = true;
        for (int i = 0; same && i < raw.size(); ++i)
            same = r.pattern.at(i) == u"*" || r.pattern.at(i) == call.segments.at(i);
        if (!same)
            continue;
        pathMatch = pathMatch ? pathMatch : &r;
        if (r.method == method) {
            match = &r;
            break;
        }
    }
    if (!pathMatch)
        return Reply::detail(404, u"Not Found"_s);
    const RouteEntry &r = match ? *match : *pathMatch;
    QStringList shown;
    int param = 0;
    for (int i = 0; i < raw.size(); ++i) {
        if (r.pattern.at(i) != u"*") {
            shown.append(raw.at(i));
            continue;
        }
        call.params.append(call.segments.at(i));
        shown.append(param++ == r.secret ? u"***"_s : raw.at(i));
    }
    logPath = base + u'/' + shown.join(u'/');
    if (!match)
        return Reply::detail(405, u"Method Not Allowed"_s);

    if (r.access == Access::token) {
        const QByteArray authorization = request.header("Authorization");
        const bool bearer = authorization.startsWith("Bearer ");
        if (!bearer || !m_state.knowsToken(QString::fromUtf8(authorization.mid(7))))
            return Reply::detail(401, u"Not authenticated"_s);
    }
    if (r.method == "POST") {
        if (request.body.size() > m_options.uploadMaxBytes)
            return Reply::detail(413, u"Request body too large"_s);
        if (!request.body.isEmpty() || !r.required.isEmpty()) {
            const QJsonDocument document = QJsonDocument::fromJson(request.body);
            if (!document.isObject())
                return Reply::detail(422, u"The body must be a JSON object"_s);
            call.body = document.object();
        }
        for (const QString &key : r.required) {
            if (call.body.value(key).toString().isEmpty())
                return Reply::detail(422, u"\"%1\" must be a non-empty string"_s.arg(key));
        }
    }
    return (this->*r.handle)(call);
}

QString DevService::statusOf(const QString &regionId) const
{
    const DevRegion *region = catalog::region(regionId);
    if (!region)
        return u"unknown"_s;
    const auto startedAt = m_state.wakeStartedAt(regionId);
    if (!region->onDemand || !startedAt)
        return region->status;
    const qint64 elapsed = startedAt->msecsTo(now());
    if (elapsed < m_options.wakeStoppedFor.count())
        return u"stopped"_s;
    return elapsed < m_options.wakeAfter.count() ? u"starting"_s : u"online"_s;
}

// Account

namespace {

QJsonObject loginReply(const QString &token, const DevUser &user, bool isNew)
{
    return {{"access_token", token}, {"marzban_username", user.username}, {"is_new", isNew}};
}

DevState::Identity identityNamed(const QString &name)
{
    if (name == u"apple")
        return DevState::Identity::apple;
    return name == u"google" ? DevState::Identity::google : DevState::Identity::telegram;
}

} // namespace

Reply DevService::startSession(const Call &call)
{
    const QString nonce = m_state.startSession(call.now, m_options.sessionLifetime);
    m_changed = true;
    const QString start = u"start="_s + nonce;
    return Reply::json(200, QJsonObject{{"nonce", nonce},
                                        {"deep_link", u"tg://resolve?domain=kovra_dev_bot&"_s + start},
                                        {"https_link", u"https://127.0.0.1:%1/t/kovra_dev_bot?"_s.arg(m_hosts.ports().value(call.request.host)) + start},
                                        {"expires_in_seconds", double(m_options.sessionLifetime.count() / 1000)}});
}

Reply DevService::poll(const Call &call)
{
    const DevState::PollOutcome outcome = m_state.poll(call.params.at(0), call.now, m_options.confirmAfter);
    switch (outcome) {
    case DevState::PollOutcome::gone:
        return Reply::detail(410, u"Sign-in session unknown, used or expired"_s);
    case DevState::PollOutcome::waiting:
        m_changed = true;
        return Reply::json(202, QJsonObject{{"status", "pending"}});
    case DevState::PollOutcome::confirmed:
        break;
    }
    return signedIn(DevState::Identity::telegram, call.now);
}

Reply DevService::login(const Call &call)
{
    return signedIn(identityNamed(call.segments.at(1)), call.now);
}

Reply DevService::link(const Call &call)
{
    // The account exists for any token issued here; signing in with the identity links it.
    return signedIn(identityNamed(call.segments.at(1)), call.now);
}

Reply DevService::signedIn(DevState::Identity identity, const QDateTime &now)
{
    const bool isNew = m_state.signIn(identity, now);
    // A new account starts with the trial the app announces, unless a plan was asked for.
    if (isNew && !m_options.subscription)
        m_state.setSubscription(SubscriptionPlan::trial, now);
    m_changed = true;
    return Reply::json(200, loginReply(m_state.issueToken(), m_state.user(), isNew));
}

Reply DevService::registerPush(const Call &)
{
    return Reply::json(200, QJsonObject{{"ok", true}});
}

Reply DevService::me(const Call &)
{
    const DevUser &u = m_state.user();
    const QJsonValue null(QJsonValue::Null);
    return Reply::json(200, QJsonObject{
                                {"telegram_id", u.hasTelegram ? QJsonValue(double(u.telegramId)) : null},
                                {"marzban_username", u.username},
                                // The service writes this date with a blank and no zone.
                                {"created_at", u.createdAt.toUTC().toString(u"yyyy-MM-dd HH:mm:ss"_s)},
                                {"has_telegram", u.hasTelegram},
                                {"has_apple", u.hasApple},
                                {"apple_email", u.hasApple ? QJsonValue(u.appleEmail) : null},
                                {"has_google", u.hasGoogle},
                                {"google_email", u.hasGoogle ? QJsonValue(u.googleEmail) : null},
                            });
}

Reply DevService::subscription(const Call &call)
{
    if (m_state.applyPayments(call.now, m_options.payAfter))
        m_changed = true;
    const DevSubscription &s = m_state.subscription();
    QJsonObject out{{"subscription_url", pageBase(call.request.host) + kPrefix + u"/sub/"_s + s.accessKey},
                    {"status", s.status},
                    {"data_limit_bytes", double(s.dataLimitBytes)},
                    {"used_bytes", double(s.usedBytes)}};
    if (s.expireUnix) {
        out.insert("expire_unix", double(*s.expireUnix));
        out.insert("expires_in_seconds", double(std::max<qint64>(0, *s.expireUnix - call.now.toSecsSinceEpoch())));
    }
    return Reply::json(200, out);
}

Reply DevService::tariffs(const Call &)
{
    return Reply::json(200, catalog::tariffsJson());
}

Reply DevService::invoice(const Call &call)
{
    const DevTariff *plan = catalog::tariff(call.body.value("plan_id").toString());
    if (!plan)
        return Reply::detail(404, u"Unknown plan"_s);
    const qint64 quotaBytes = qint64(plan->monthlyQuotaGb) * 1024 * 1024 * 1024;
    const QString paymentId = m_state.addInvoice(plan->planId, plan->months, quotaBytes, call.now);
    m_changed = true;
    const bool stars = call.segments.at(1) == u"stars";
    const QString link = u"https://127.0.0.1:%1/pay/%2/%3"_s.arg(m_hosts.ports().value(call.request.host))
                             .arg(stars ? u"stars"_s : u"crypto"_s, paymentId);
    return Reply::json(200, QJsonObject{{"payment_id", paymentId}, {stars ? "invoice_url" : "pay_url", link}});
}

// Catalogue

Reply DevService::regions(const Call &)
{
    return Reply::json(200, catalog::regionsJson([this](const DevRegion &r) { return statusOf(r.id); }));
}

Reply DevService::wake(const Call &call)
{
    const DevRegion *region = catalog::region(call.params.at(0));
    if (!region)
        return Reply::detail(404, u"Unknown region"_s);
    if (!region->onDemand)
        return Reply::detail(409, u"Region is not on demand"_s);
    if (!m_state.wakeStartedAt(region->id)) {
        m_state.startWake(region->id, call.now);
        m_changed = true;
    }
    const bool online = statusOf(region->id) == u"online";
    return Reply::json(200, QJsonObject{{"status", online ? "online" : "starting"}});
}

Reply DevService::entries(const Call &)
{
    return Reply::json(200, catalog::entriesJson());
}

Reply DevService::connections(const Call &)
{
    return Reply::json(200, catalog::connectionsJson([this](const DevRegion &r) { return statusOf(r.id); }));
}

Reply DevService::clientVersion(const Call &call)
{
    return Reply::json(200, QJsonObject{{"latest_version", "1.0.0"},
                                        {"min_supported_version", "1.0.0"},
                                        {"update_url", u"https://127.0.0.1:%1/download"_s.arg(m_hosts.ports().value(call.request.host))},
                                        {"message", QJsonValue(QJsonValue::Null)}});
}

// Diagnostics

Reply DevService::diagUpload(const Call &call)
{
    static const QStringList keys{u"app_version"_s, u"platform"_s, u"device_model"_s, u"device_id"_s,
                                  u"entry"_s,       u"region"_s,   u"logs"_s};
    for (const QString &key : keys) {
        const QJsonValue value = call.body.value(key);
        if (!value.isString() && !(value.isUndefined() && key != u"logs"))
            return Reply::detail(422, u"\"%1\" must be a string"_s.arg(key));
    }
    static const QByteArray alphabet("ABCDEFGHJKLMNPQRSTUVWXYZ23456789");
    QString incident = u"DEV-"_s;
    for (int i = 0; i < 6; ++i)
        incident += QChar::fromLatin1(alphabet.at(QRandomGenerator::global()->bounded(int(alphabet.size()))));
    Reply r = Reply::json(200, QJsonObject{{"ok", true}, {"incident", incident}});
    r.note = u"incident "_s + incident;
    return r;
}

Reply DevService::diagEcho(const Call &call)
{
    bool ok = false;
    const QString text = QUrlQuery(call.request.url).queryItemValue(u"bytes"_s);
    const qint64 bytes = text.toLongLong(&ok);
    if (!ok || bytes < 0 || bytes > m_options.echoMaxBytes)
        return Reply::detail(400, u"\"bytes\" must be a whole number from 0 to %1"_s.arg(m_options.echoMaxBytes));
    Reply r;
    r.kind = Reply::Kind::stream;
    r.contentType = "application/octet-stream";
    r.length = bytes;
    return r;
}

Reply DevService::configuration(const Call &call)
{
    if (call.params.at(0) != m_state.subscription().accessKey)
        return Reply::detail(404, u"Not Found"_s);
    return Reply::json(200, catalog::configurationJson());
}

// Stand-ins of the external targets

Reply DevService::probe(const Call &call)
{
    static const QStringList known{u"1"_s, u"2"_s, u"3"_s, u"4"_s, u"5"_s};
    if (!known.contains(call.params.at(0)))
        return Reply::detail(404, u"Not Found"_s);
    if (m_options.probesFail) {
        Reply r;
        r.kind = Reply::Kind::close;
        return r;
    }
    return Reply::empty(204);
}

Reply DevService::trace(const Call &call)
{
    const QString page = u"fl=dev\nh=127.0.0.1\nip=%1\nts=%2\nvisit_scheme=http\ncolo=AMS\nhttp=http/1.1\nloc=NL\ntls=off\n"_s
                             .arg(kExitAddress)
                             .arg(call.now.toSecsSinceEpoch());
    return Reply::text(200, page.toUtf8());
}

Reply DevService::check(const Call &)
{
    return Reply::empty(204);
}

Reply DevService::exitAddress(const Call &)
{
    return Reply::text(200, kExitAddress.toUtf8() + '\n');
}

} // namespace kovra::devservice
