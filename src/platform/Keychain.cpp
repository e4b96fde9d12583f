#include "platform/Keychain.h"

#include "platform/Log.h"

#include <QCoreApplication>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <qcoro/qcorofuture.h>

#include <libsecret/secret.h>

namespace kovra {
namespace {

const SecretSchema *schema()
{
    static const SecretSchema s = {
        "org.kovra.Password",
        SECRET_SCHEMA_NONE,
        {
            {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
        },
        0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    };
    return &s;
}

// Runs one asynchronous libsecret call to its end on a private GLib context of the
// calling (worker) thread, the way libsecret's own *_sync calls work. The time-out
// cancels the call; the call still ends (with a cancellation error) before the
// caller goes on.
class PrivateCall {
public:
    explicit PrivateCall(std::chrono::milliseconds timeout)
        : m_context(g_main_context_new()), m_cancellable(g_cancellable_new())
    {
        g_main_context_push_thread_default(m_context);
        if (timeout.count() <= 0) {
            expire(this);
            return;
        }
        m_timer = g_timeout_source_new(guint(timeout.count()));
        g_source_set_callback(m_timer, &PrivateCall::expire, this, nullptr);
        g_source_attach(m_timer, m_context);
    }

    ~PrivateCall()
    {
        if (m_timer) {
            g_source_destroy(m_timer);
            g_source_unref(m_timer);
        }
        g_main_context_pop_thread_default(m_context);
        while (g_main_context_iteration(m_context, FALSE)) {
        }
        g_main_context_unref(m_context);
        g_object_unref(m_cancellable);
        if (m_result)
            g_object_unref(m_result);
    }

    PrivateCall(const PrivateCall &) = delete;
    PrivateCall &operator=(const PrivateCall &) = delete;

    GCancellable *cancellable() const { return m_cancellable; }
    static void done(GObject *, GAsyncResult *result, gpointer self)
    {
        static_cast<PrivateCall *>(self)->m_result = G_ASYNC_RESULT(g_object_ref(result));
    }

    GAsyncResult *wait()
    {
        while (!m_result)
            g_main_context_iteration(m_context, TRUE);
        return m_result;
    }

    // Whether an error ended the call because the time-out passed.
    bool timedOut(const GError *error) const
    {
        return m_timedOut && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
    }

private:
    static gboolean expire(gpointer self)
    {
        auto *call = static_cast<PrivateCall *>(self);
        call->m_timedOut = true;
        g_cancellable_cancel(call->m_cancellable);
        return G_SOURCE_REMOVE;
    }

    GMainContext *m_context;
    GCancellable *m_cancellable;
    GSource *m_timer = nullptr;
    GAsyncResult *m_result = nullptr;
    bool m_timedOut = false;
};

// What a call on a worker thread hands back; nothing is thrown across threads.
struct Outcome {
    std::optional<QByteArray> secret;
    bool removed = false;
    bool timedOut = false;
    std::optional<QString> error;
};

QThreadPool *ownWorkers()
{
    static QThreadPool *pool = [] {
        auto *p = new QThreadPool;
        p->setMaxThreadCount(2);
        // Waits for running calls (each bounded) when the application object goes.
        qAddPostRoutine([] { ownWorkers()->waitForDone(); });
        return p;
    }();
    return pool;
}

// Takes ownership of a GError: its message, freed.
QString takeMessage(GError *error)
{
    const QString message = QString::fromUtf8(error->message);
    g_error_free(error);
    return message;
}

const Logger &log()
{
    static const Logger l(QStringLiteral("Keychain"));
    return l;
}

Outcome lookup(const QByteArray &service, const QByteArray &account, std::chrono::milliseconds timeout)
{
    Outcome out;
    PrivateCall call(timeout);
    secret_password_lookup(schema(), call.cancellable(), &PrivateCall::done, &call,
                           "service", service.constData(), "account", account.constData(), nullptr);
    GError *error = nullptr;
    SecretValue *value = secret_password_lookup_binary_finish(call.wait(), &error);
    if (error) {
        out.timedOut = call.timedOut(error);
        out.error = takeMessage(error);
        return out;
    }
    if (value) {
        gsize length = 0;
        const gchar *bytes = secret_value_get(value, &length);
        out.secret = QByteArray(bytes, qsizetype(length));
        secret_value_unref(value);
    }
    return out;
}

Outcome store(const QByteArray &service, const QByteArray &account, const QByteArray &label, const QByteArray &secret,
              std::chrono::milliseconds timeout)
{
    Outcome out;
    SecretValue *value = secret_value_new(secret.constData(), secret.size(), "text/plain");
    PrivateCall call(timeout);
    secret_password_store_binary(schema(), SECRET_COLLECTION_DEFAULT, label.constData(), value, call.cancellable(),
                                 &PrivateCall::done, &call, "service", service.constData(), "account",
                                 account.constData(), nullptr);
    secret_value_unref(value);
    GError *error = nullptr;
    if (!secret_password_store_finish(call.wait(), &error)) {
        out.timedOut = error && call.timedOut(error);
        out.error = error ? takeMessage(error) : QStringLiteral("the keyring did not store the item");
    }
    return out;
}

Outcome clear(const QByteArray &service, const QByteArray &account, std::chrono::milliseconds timeout)
{
    Outcome out;
    PrivateCall call(timeout);
    secret_password_clear(schema(), call.cancellable(), &PrivateCall::done, &call,
                          "service", service.constData(), "account", account.constData(), nullptr);
    GError *error = nullptr;
    out.removed = secret_password_clear_finish(call.wait(), &error);
    if (error) {
        out.timedOut = call.timedOut(error);
        out.error = takeMessage(error);
    }
    return out;
}

// The error a failed write or removal throws.
KeychainError failure(const char *what, const Outcome &outcome, std::chrono::milliseconds timeout)
{
    if (outcome.timedOut)
        return KeychainError(QStringLiteral("keychain %1 timed out after %2 ms").arg(QLatin1String(what)).arg(timeout.count()));
    return KeychainError(*outcome.error);
}

} // namespace

Keychain::Keychain(QString service, std::chrono::milliseconds timeout, QThreadPool *workers)
    : m_service(std::move(service)), m_timeout(timeout), m_workers(workers ? workers : ownWorkers())
{
}

QCoro::Task<std::optional<QByteArray>> Keychain::read(QString account) const
{
    const QString service = m_service;
    const auto timeout = m_timeout;
    QFuture<Outcome> call = QtConcurrent::run(m_workers, lookup, service.toUtf8(), account.toUtf8(), timeout);
    const Outcome outcome = co_await call;
    if (outcome.timedOut)
        log().error(QStringLiteral("keychain read timed out after %1 ms (service %2, account %3)")
                        .arg(timeout.count())
                        .arg(service, account));
    if (outcome.error)
        throw failure("read", outcome, timeout);
    co_return outcome.secret;
}

QCoro::Task<void> Keychain::write(QString account, QByteArray secret) const
{
    const auto timeout = m_timeout;
    const QByteArray label = (m_service + QLatin1Char('/') + account).toUtf8();
    QFuture<Outcome> call =
        QtConcurrent::run(m_workers, store, m_service.toUtf8(), account.toUtf8(), label, secret, timeout);
    const Outcome outcome = co_await call;
    if (outcome.error)
        throw failure("write", outcome, timeout);
}

QCoro::Task<bool> Keychain::remove(QString account) const
{
    const auto timeout = m_timeout;
    QFuture<Outcome> call = QtConcurrent::run(m_workers, clear, m_service.toUtf8(), account.toUtf8(), timeout);
    const Outcome outcome = co_await call;
    if (outcome.error)
        throw failure("remove", outcome, timeout);
    co_return outcome.removed;
}

} // namespace kovra
