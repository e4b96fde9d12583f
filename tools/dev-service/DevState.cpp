#include "dev-service/DevState.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QRandomGenerator>

#include <cmath>

namespace kovra::devservice {

namespace {

constexpr qint64 kMiB = qint64(1024) * 1024;
constexpr qint64 kGiB = 1024 * kMiB;
constexpr qint64 kDay = 24 * 3600;

QByteArray digestOf(const QString &secret)
{
    return QCryptographicHash::hash(secret.toUtf8(), QCryptographicHash::Sha256).toHex();
}

QString dateText(const QDateTime &t)
{
    return t.toUTC().toString(Qt::ISODateWithMs);
}

std::optional<QDateTime> dateOf(const QJsonValue &v)
{
    const QDateTime t = QDateTime::fromString(v.toString(), Qt::ISODateWithMs);
    return t.isValid() ? std::optional(t.toUTC()) : std::nullopt;
}

// A whole number that a double holds exactly (JSON numbers are doubles here).
std::optional<qint64> integerOf(const QJsonValue &v)
{
    if (!v.isDouble())
        return std::nullopt;
    const double d = v.toDouble();
    if (!std::isfinite(d) || std::abs(d) > 9.0e15 || d != std::trunc(d))
        return std::nullopt;
    return qint64(d);
}

template<class T>
void keepLast(QList<T> &list, int max)
{
    if (list.size() > max)
        list.erase(list.begin(), list.begin() + (list.size() - max));
}

} // namespace

QString randomText(int bytes)
{
    QByteArray raw(bytes, Qt::Uninitialized);
    for (char &c : raw)
        c = char(QRandomGenerator::system()->bounded(256));
    return QString::fromLatin1(raw.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

DevState::DevState(SubscriptionPlan plan, const QDateTime &now)
{
    setSubscription(plan, now);
}

QString DevState::startSession(const QDateTime &now, std::chrono::milliseconds lifetime)
{
    m_sessions.removeIf([&now](const Session &s) { return s.used || s.expiresAt <= now; });
    const QString nonce = randomText(24);
    m_sessions.append({digestOf(nonce), now.addMSecs(lifetime.count()), 0, false});
    keepLast(m_sessions, kMaxSessions);
    return nonce;
}

DevState::PollOutcome DevState::poll(const QString &nonce, const QDateTime &now, int confirmAfter)
{
    const QByteArray digest = digestOf(nonce);
    const auto it = std::find_if(m_sessions.begin(), m_sessions.end(), [&digest](const Session &s) { return s.nonceDigest == digest; });
    if (it == m_sessions.end() || it->used || it->expiresAt <= now)
        return PollOutcome::gone;
    if (++it->polls <= confirmAfter)
        return PollOutcome::waiting;
    it->used = true;
    return PollOutcome::confirmed;
}

QString DevState::issueToken()
{
    const QString token = randomText(32);
    m_tokenDigests.append(digestOf(token));
    keepLast(m_tokenDigests, kMaxTokens);
    return token;
}

bool DevState::knowsToken(const QString &token) const
{
    return !token.isEmpty() && m_tokenDigests.contains(digestOf(token));
}

bool DevState::signIn(Identity identity, const QDateTime &now)
{
    const bool isNew = !m_user.exists;
    if (isNew) {
        m_user.exists = true;
        m_user.createdAt = now.toUTC().addMSecs(-now.time().msec());
        m_user.username = QStringLiteral("kovra_dev_") + randomText(6).toLower().remove(u'-').remove(u'_');
    }
    link(identity);
    return isNew;
}

void DevState::link(Identity identity)
{
    switch (identity) {
    case Identity::telegram:
        m_user.hasTelegram = true;
        if (m_user.telegramId == 0)
            m_user.telegramId = 700'000'000 + QRandomGenerator::global()->bounded(100'000'000);
        break;
    case Identity::apple:
        m_user.hasApple = true;
        m_user.appleEmail = QStringLiteral("dev.apple@example.com");
        break;
    case Identity::google:
        m_user.hasGoogle = true;
        m_user.googleEmail = QStringLiteral("dev.google@example.com");
        break;
    }
}

void DevState::setSubscription(SubscriptionPlan plan, const QDateTime &now)
{
    const qint64 nowUnix = now.toSecsSinceEpoch();
    DevSubscription s;
    s.accessKey = m_subscription.accessKey.isEmpty() ? randomText(18) : m_subscription.accessKey;
    switch (plan) {
    case SubscriptionPlan::trial:
        s = {QStringLiteral("active"), 200 * kMiB, 0, nowUnix + 7 * kDay, s.accessKey};
        break;
    case SubscriptionPlan::active:
        s = {QStringLiteral("active"), 100 * kGiB, 3 * kGiB + 123'456'789, nowUnix + 30 * kDay, s.accessKey};
        break;
    case SubscriptionPlan::expired:
        s = {QStringLiteral("expired"), 100 * kGiB, 12 * kGiB, nowUnix - 2 * kDay, s.accessKey};
        break;
    case SubscriptionPlan::exhausted:
        s = {QStringLiteral("limited"), 100 * kGiB, 100 * kGiB, nowUnix + 12 * kDay, s.accessKey};
        break;
    case SubscriptionPlan::unlimited:
        s = {QStringLiteral("active"), 0, 5 * kGiB, std::nullopt, s.accessKey};
        break;
    }
    m_subscription = s;
}

QString DevState::addInvoice(const QString &planId, int months, qint64 quotaBytes, const QDateTime &now)
{
    // Paid invoices go first when the list is full; unpaid ones are kept as long as possible.
    if (m_invoices.size() >= kMaxInvoices) {
        const auto paid = std::find_if(m_invoices.begin(), m_invoices.end(), [](const DevInvoice &i) { return i.applied; });
        m_invoices.erase(paid != m_invoices.end() ? paid : m_invoices.begin());
    }
    const QString paymentId = QStringLiteral("pay_") + randomText(9);
    m_invoices.append({paymentId, planId, months, quotaBytes, now, false});
    return paymentId;
}

bool DevState::applyPayments(const QDateTime &now, std::chrono::milliseconds payAfter)
{
    bool changed = false;
    for (DevInvoice &invoice : m_invoices) {
        // Counted from when it was paid, not from when the state was next looked at.
        const QDateTime paidAt = invoice.createdAt.addMSecs(payAfter.count());
        if (invoice.applied || paidAt > now)
            continue;
        applyInvoice(invoice, paidAt);
        invoice.applied = true;
        changed = true;
    }
    return changed;
}

// A payment makes the subscription active, moves a set expiry `months` later (from the
// payment when it lay in the past) and starts a fresh traffic allowance; an unlimited
// subscription has no expiry and no limit to extend.
void DevState::applyInvoice(const DevInvoice &invoice, const QDateTime &paidAt)
{
    m_subscription.status = QStringLiteral("active");
    if (m_subscription.expireUnix)
        m_subscription.expireUnix = std::max(*m_subscription.expireUnix, paidAt.toSecsSinceEpoch()) + invoice.months * 30 * kDay;
    if (m_subscription.dataLimitBytes > 0) {
        m_subscription.dataLimitBytes = std::max(m_subscription.dataLimitBytes, invoice.quotaBytes * invoice.months);
        m_subscription.usedBytes = 0;
    }
}

std::optional<QDateTime> DevState::wakeStartedAt(const QString &regionId) const
{
    const auto it = m_wakes.find(regionId);
    return it == m_wakes.end() ? std::nullopt : std::optional(*it);
}

void DevState::startWake(const QString &regionId, const QDateTime &now)
{
    if (!m_wakes.contains(regionId))
        m_wakes.insert(regionId, now);
}

QJsonObject DevState::toJson() const
{
    QJsonObject user{{"exists", m_user.exists},
                     {"telegram_id", double(m_user.telegramId)},
                     {"username", m_user.username},
                     {"created_at", m_user.createdAt.isValid() ? dateText(m_user.createdAt) : QString()},
                     {"has_telegram", m_user.hasTelegram},
                     {"has_apple", m_user.hasApple},
                     {"has_google", m_user.hasGoogle},
                     {"apple_email", m_user.appleEmail},
                     {"google_email", m_user.googleEmail}};
    QJsonObject subscription{{"status", m_subscription.status},
                             {"data_limit_bytes", double(m_subscription.dataLimitBytes)},
                             {"used_bytes", double(m_subscription.usedBytes)},
                             {"access_key", m_subscription.accessKey}};
    if (m_subscription.expireUnix)
        subscription.insert("expire_unix", double(*m_subscription.expireUnix));
    QJsonArray tokens;
    for (const QByteArray &digest : m_tokenDigests)
        tokens.append(QString::fromLatin1(digest));
    QJsonArray sessions;
    for (const Session &s : m_sessions) {
        sessions.append(QJsonObject{{"nonce_digest", QString::fromLatin1(s.nonceDigest)},
                                    {"expires_at", dateText(s.expiresAt)},
                                    {"polls", s.polls},
                                    {"used", s.used}});
    }
    QJsonArray invoices;
    for (const DevInvoice &i : m_invoices) {
        invoices.append(QJsonObject{{"payment_id", i.paymentId},
                                    {"plan_id", i.planId},
                                    {"months", i.months},
                                    {"quota_bytes", double(i.quotaBytes)},
                                    {"created_at", dateText(i.createdAt)},
                                    {"applied", i.applied}});
    }
    QJsonObject wakes;
    for (auto it = m_wakes.begin(); it != m_wakes.end(); ++it)
        wakes.insert(it.key(), dateText(it.value()));
    return {{"user", user},       {"subscription", subscription}, {"token_digests", tokens},
            {"sessions", sessions}, {"invoices", invoices},       {"wakes", wakes}};
}

std::optional<DevState> DevState::fromJson(const QJsonObject &object)
{
    DevState state;
    const QJsonObject user = object.value("user").toObject();
    const QJsonObject subscription = object.value("subscription").toObject();
    const auto telegramId = integerOf(user.value("telegram_id"));
    const auto limit = integerOf(subscription.value("data_limit_bytes"));
    const auto used = integerOf(subscription.value("used_bytes"));
    const QString accessKey = subscription.value("access_key").toString();
    if (!telegramId || !limit || !used || accessKey.isEmpty() || !subscription.value("status").isString())
        return std::nullopt;
    state.m_user = {user.value("exists").toBool(),
                    *telegramId,
                    user.value("username").toString(),
                    dateOf(user.value("created_at")).value_or(QDateTime()),
                    user.value("has_telegram").toBool(),
                    user.value("has_apple").toBool(),
                    user.value("has_google").toBool(),
                    user.value("apple_email").toString(),
                    user.value("google_email").toString()};
    if (state.m_user.exists && !state.m_user.createdAt.isValid())
        return std::nullopt;
    state.m_subscription = {subscription.value("status").toString(), *limit, *used, std::nullopt, accessKey};
    if (subscription.contains("expire_unix")) {
        state.m_subscription.expireUnix = integerOf(subscription.value("expire_unix"));
        if (!state.m_subscription.expireUnix)
            return std::nullopt;
    }
    for (const QJsonValue &v : object.value("token_digests").toArray())
        state.m_tokenDigests.append(v.toString().toLatin1());
    for (const QJsonValue &v : object.value("sessions").toArray()) {
        const QJsonObject s = v.toObject();
        const auto expiresAt = dateOf(s.value("expires_at"));
        const auto polls = integerOf(s.value("polls"));
        if (!expiresAt || !polls || *polls < 0 || *polls > INT_MAX)
            return std::nullopt;
        state.m_sessions.append({s.value("nonce_digest").toString().toLatin1(), *expiresAt, int(*polls), s.value("used").toBool()});
    }
    for (const QJsonValue &v : object.value("invoices").toArray()) {
        const QJsonObject i = v.toObject();
        const auto createdAt = dateOf(i.value("created_at"));
        const auto months = integerOf(i.value("months"));
        const auto quota = integerOf(i.value("quota_bytes"));
        if (!createdAt || !months || *months < 0 || *months > 1200 || !quota || *quota < 0 || *quota > (qint64(1) << 50))
            return std::nullopt;
        state.m_invoices.append({i.value("payment_id").toString(), i.value("plan_id").toString(), int(*months), *quota,
                                 *createdAt, i.value("applied").toBool()});
    }
    const QJsonObject wakes = object.value("wakes").toObject();
    for (auto it = wakes.begin(); it != wakes.end(); ++it) {
        const auto startedAt = dateOf(it.value());
        if (!startedAt)
            return std::nullopt;
        state.m_wakes.insert(it.key(), *startedAt);
    }
    keepLast(state.m_tokenDigests, kMaxTokens);
    keepLast(state.m_sessions, kMaxSessions);
    keepLast(state.m_invoices, kMaxInvoices);
    return state;
}

} // namespace kovra::devservice
