#include "platform/Keychain.h"

#include <QCoreApplication>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <qcoro/qcorofuture.h>

#include <libsecret/secret.h>

#include <utility>

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

// Runs asynchronous libsecret and GDBus calls to their end on a private GLib context
// of the calling (worker) thread, the way libsecret's own *_sync calls work. The
// time-out cancels the call; the call still ends (with a cancellation error) before
// the caller goes on.
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
        if (m_bus)
            g_object_unref(m_bus);
        g_main_context_pop_thread_default(m_context);
        while (g_main_context_iteration(m_context, FALSE)) {
        }
        g_main_context_unref(m_context);
        g_object_unref(m_cancellable);
        if (m_result)
            g_object_unref(m_result);
        if (m_taken)
            g_object_unref(m_taken);
    }

    PrivateCall(const PrivateCall &) = delete;
    PrivateCall &operator=(const PrivateCall &) = delete;

    GCancellable *cancellable() const { return m_cancellable; }
    static void done(GObject *, GAsyncResult *result, gpointer self)
    {
        static_cast<PrivateCall *>(self)->m_result = G_ASYNC_RESULT(g_object_ref(result));
    }

    // The result of the step under way, once it has ended; valid until the next step.
    GAsyncResult *wait()
    {
        if (m_taken)
            g_clear_object(&m_taken);
        while (!m_result)
            g_main_context_iteration(m_context, TRUE);
        m_taken = std::exchange(m_result, nullptr);
        return m_taken;
    }

    // Reaches the session bus (the process's one connection, which libsecret uses too)
    // and holds it for the call. The bus library's error when it cannot.
    GError *reachSessionBus()
    {
        g_bus_get(G_BUS_TYPE_SESSION, m_cancellable, &PrivateCall::done, this);
        GError *error = nullptr;
        m_bus = g_bus_get_finish(wait(), &error);
        if (m_bus && g_dbus_connection_is_closed(m_bus))
            g_set_error_literal(&error, G_IO_ERROR, G_IO_ERROR_CLOSED, "the connection is closed");
        return error;
    }

    // Whether the time-out has passed (and cancelled the call).
    bool timedOut() const { return m_timedOut; }

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
    GAsyncResult *m_taken = nullptr;
    GDBusConnection *m_bus = nullptr;
    bool m_timedOut = false;
};

// What a call on a worker thread hands back; nothing is thrown across threads.
struct Outcome {
    std::optional<QByteArray> secret;
    bool removed = false;
    std::optional<KeychainError> failure;
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

// Nobody provides the Secret Service on the bus: no owner of its name, and none the
// bus could start (no service file, or its program failed to start or exited).
bool noProvider(const GError *error)
{
    if (error->domain != G_DBUS_ERROR)
        return false;
    return error->code == G_DBUS_ERROR_SERVICE_UNKNOWN || error->code == G_DBUS_ERROR_NAME_HAS_NO_OWNER
           || (error->code >= G_DBUS_ERROR_SPAWN_EXEC_FAILED && error->code <= G_DBUS_ERROR_SPAWN_NO_MEMORY);
}

// The Secret Service answered but would not: a locked collection (libsecret asks to
// unlock it first, so the prompt was dismissed or could not be shown), a cancelled
// prompt, or access denied.
bool refusal(const GError *error)
{
    return g_error_matches(error, SECRET_ERROR, SECRET_ERROR_IS_LOCKED)
           || g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)
           || g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_ACCESS_DENIED);
}

KeychainError timeoutError(const char *what, std::chrono::milliseconds timeout)
{
    return KeychainError(QStringLiteral("keychain %1 timed out after %2 ms").arg(QLatin1String(what)).arg(timeout.count()),
                         KeychainError::Kind::timedOut);
}

// The error of a keychain call that `error` ended (freed here). A call the time-out
// cancelled counts as timed out, unless the bus had said there was no Secret Service.
KeychainError keychainFailure(const char *what, GError *error, const PrivateCall &call, std::chrono::milliseconds timeout)
{
    using Kind = KeychainError::Kind;
    const QString message = QString::fromUtf8(error->message);
    const Kind kind = noProvider(error) ? Kind::noSecretService
                      : call.timedOut() ? Kind::timedOut
                      : refusal(error)  ? Kind::refused
                                        : Kind::failed;
    g_error_free(error);
    return kind == Kind::timedOut ? timeoutError(what, timeout) : KeychainError(message, kind);
}

// The error when the session bus cannot be reached (`error`, freed here).
KeychainError busFailure(const char *what, GError *error, const PrivateCall &call, std::chrono::milliseconds timeout)
{
    const QString message = QString::fromUtf8(error->message);
    g_error_free(error);
    if (call.timedOut())
        return timeoutError(what, timeout);
    return KeychainError(QStringLiteral("no session bus: ") + message, KeychainError::Kind::noSecretService);
}

Outcome lookup(const QByteArray &service, const QByteArray &account, std::chrono::milliseconds timeout)
{
    Outcome out;
    PrivateCall call(timeout);
    if (GError *error = call.reachSessionBus()) {
        out.failure = busFailure("read", error, call, timeout);
        return out;
    }
    secret_password_lookup(schema(), call.cancellable(), &PrivateCall::done, &call,
                           "service", service.constData(), "account", account.constData(), nullptr);
    GError *error = nullptr;
    SecretValue *value = secret_password_lookup_binary_finish(call.wait(), &error);
    if (error) {
        out.failure = keychainFailure("read", error, call, timeout);
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
    PrivateCall call(timeout);
    if (GError *error = call.reachSessionBus()) {
        out.failure = busFailure("write", error, call, timeout);
        return out;
    }
    SecretValue *value = secret_value_new(secret.constData(), secret.size(), "text/plain");
    secret_password_store_binary(schema(), SECRET_COLLECTION_DEFAULT, label.constData(), value, call.cancellable(),
                                 &PrivateCall::done, &call, "service", service.constData(), "account",
                                 account.constData(), nullptr);
    secret_value_unref(value);
    GError *error = nullptr;
    if (!secret_password_store_finish(call.wait(), &error)) {
        out.failure = error ? keychainFailure("write", error, call, timeout)
                            : KeychainError(QStringLiteral("the keyring did not store the item"));
    }
    return out;
}

Outcome clear(const QByteArray &service, const QByteArray &account, std::chrono::milliseconds timeout)
{
    Outcome out;
    PrivateCall call(timeout);
    if (GError *error = call.reachSessionBus()) {
        out.failure = busFailure("remove", error, call, timeout);
        return out;
    }
    secret_password_clear(schema(), call.cancellable(), &PrivateCall::done, &call,
                          "service", service.constData(), "account", account.constData(), nullptr);
    GError *error = nullptr;
    out.removed = secret_password_clear_finish(call.wait(), &error);
    if (error)
        out.failure = keychainFailure("remove", error, call, timeout);
    return out;
}

std::optional<QString> busProblem(std::chrono::milliseconds timeout)
{
    PrivateCall call(timeout);
    GError *error = call.reachSessionBus();
    if (!error)
        return std::nullopt;
    const QString message = call.timedOut() ? QStringLiteral("no answer within %1 ms").arg(timeout.count())
                                            : QString::fromUtf8(error->message);
    g_error_free(error);
    return message;
}

} // namespace

QString KeychainError::description() const
{
    switch (m_kind) {
    case Kind::noSecretService: return QStringLiteral("no Secret Service (%1)").arg(m_message);
    case Kind::refused: return QStringLiteral("the keyring refused (%1)").arg(m_message);
    case Kind::timedOut:
    case Kind::failed: break;
    }
    return m_message;
}

Keychain::Keychain(QString service, std::chrono::milliseconds timeout, QThreadPool *workers,
                   std::chrono::milliseconds promptTimeout)
    : m_service(std::move(service)), m_timeout(timeout), m_promptTimeout(promptTimeout),
      m_workers(workers ? workers : ownWorkers())
{
}

QCoro::Task<std::optional<QByteArray>> Keychain::read(QString account) const
{
    QFuture<Outcome> call = QtConcurrent::run(m_workers, lookup, m_service.toUtf8(), account.toUtf8(), m_timeout);
    const Outcome outcome = co_await call;
    if (outcome.failure)
        throw *outcome.failure;
    co_return outcome.secret;
}

QCoro::Task<void> Keychain::write(QString account, QByteArray secret) const
{
    const QByteArray label = (m_service + QLatin1Char('/') + account).toUtf8();
    QFuture<Outcome> call =
        QtConcurrent::run(m_workers, store, m_service.toUtf8(), account.toUtf8(), label, secret, m_promptTimeout);
    const Outcome outcome = co_await call;
    if (outcome.failure)
        throw *outcome.failure;
}

QCoro::Task<bool> Keychain::remove(QString account) const
{
    QFuture<Outcome> call =
        QtConcurrent::run(m_workers, clear, m_service.toUtf8(), account.toUtf8(), m_promptTimeout);
    const Outcome outcome = co_await call;
    if (outcome.failure)
        throw *outcome.failure;
    co_return outcome.removed;
}

QCoro::Task<std::optional<QString>> Keychain::sessionBusProblem(std::chrono::milliseconds timeout)
{
    QFuture<std::optional<QString>> call = QtConcurrent::run(ownWorkers(), busProblem, timeout);
    co_return co_await call;
}

} // namespace kovra
