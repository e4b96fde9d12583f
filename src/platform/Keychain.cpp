#include "platform/Keychain.h"

#include "platform/Log.h"

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

// Runs one asynchronous libsecret call to its end on a private GLib context, so the
// caller gets a synchronous answer without the application's event loop running
// (the same way libsecret's own *_sync calls work). An optional time-out cancels the
// call; the call still ends (with a cancellation error) before the caller goes on.
class PrivateCall {
public:
    explicit PrivateCall(std::optional<std::chrono::milliseconds> timeout)
        : m_context(g_main_context_new()), m_cancellable(g_cancellable_new())
    {
        g_main_context_push_thread_default(m_context);
        if (!timeout)
            return;
        if (timeout->count() <= 0) {
            expire(this);
            return;
        }
        m_timer = g_timeout_source_new(guint(timeout->count()));
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
    bool m_timedOut = false;
};

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

} // namespace

Keychain::Keychain(QString service, std::chrono::milliseconds readTimeout)
    : m_service(std::move(service)), m_readTimeout(readTimeout)
{
}

std::optional<QByteArray> Keychain::read(const QString &account) const
{
    const QByteArray service = m_service.toUtf8(), name = account.toUtf8();
    PrivateCall call(m_readTimeout);
    secret_password_lookup(schema(), call.cancellable(), &PrivateCall::done, &call,
                           "service", service.constData(), "account", name.constData(), nullptr);
    GError *error = nullptr;
    SecretValue *value = secret_password_lookup_binary_finish(call.wait(), &error);
    if (error) {
        const bool cancelled = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
        g_error_free(error);
        if (cancelled && call.timedOut())
            log().error(QStringLiteral("keychain read timed out after %1 ms (service %2, account %3)")
                            .arg(m_readTimeout.count())
                            .arg(m_service, account));
        return std::nullopt;
    }
    if (!value)
        return std::nullopt;
    gsize length = 0;
    const gchar *bytes = secret_value_get(value, &length);
    QByteArray secret(bytes, qsizetype(length));
    secret_value_unref(value);
    return secret;
}

void Keychain::write(const QString &account, const QByteArray &secret) const
{
    const QByteArray service = m_service.toUtf8(), name = account.toUtf8();
    const QByteArray label = (m_service + QLatin1Char('/') + account).toUtf8();
    SecretValue *value = secret_value_new(secret.constData(), secret.size(), "text/plain");
    PrivateCall call(std::nullopt);
    secret_password_store_binary(schema(), SECRET_COLLECTION_DEFAULT, label.constData(), value,
                                 call.cancellable(), &PrivateCall::done, &call,
                                 "service", service.constData(), "account", name.constData(), nullptr);
    secret_value_unref(value);
    GError *error = nullptr;
    if (!secret_password_store_finish(call.wait(), &error))
        throw KeychainError(error ? takeMessage(error) : QStringLiteral("the keyring did not store the item"));
}

bool Keychain::remove(const QString &account) const
{
    const QByteArray service = m_service.toUtf8(), name = account.toUtf8();
    PrivateCall call(std::nullopt);
    secret_password_clear(schema(), call.cancellable(), &PrivateCall::done, &call,
                          "service", service.constData(), "account", name.constData(), nullptr);
    GError *error = nullptr;
    const bool removed = secret_password_clear_finish(call.wait(), &error);
    if (error)
        throw KeychainError(takeMessage(error));
    return removed;
}

} // namespace kovra
