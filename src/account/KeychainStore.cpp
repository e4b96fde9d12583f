#include "account/KeychainStore.h"

#include "platform/Log.h"

#include <QHash>
#include <QMutex>
#include <QStringDecoder>

namespace kovra {
namespace {
const QString kAccount = QStringLiteral("jwt");

// A read or removal whose failure goes no further than here; the line names the keyring's
// message, never the token.
void logFailure(const char *what, const QString &service, const KeychainError &error)
{
    static const Logger log(QStringLiteral("KeychainStore"));
    log.error(QStringLiteral("%1 the session token failed (keychain service %2): %3")
                  .arg(QLatin1String(what), service, error.description()));
}
} // namespace

// What the process knows of one service's token, shared by every store over it.
// A read keeps what it found only when no write or removal began or ended while it
// ran; writes that overlap leave nothing remembered, since the keyring may have
// applied them in either order.
class KeychainStore::Memory {
public:
    // The memory of `service`, the same for the whole process.
    static std::shared_ptr<Memory> of(const QString &service)
    {
        static QMutex lock;
        static QHash<QString, std::shared_ptr<Memory>> memories;
        const QMutexLocker locker(&lock);
        std::shared_ptr<Memory> &memory = memories[service];
        if (!memory)
            memory = std::make_shared<Memory>();
        return memory;
    }

    // The remembered token (none: remembered as absent), or nothing when it must be read.
    std::optional<std::optional<QString>> token(quint64 *generation) const
    {
        const QMutexLocker locker(&m_lock);
        *generation = m_generation;
        return m_token;
    }

    void remember(quint64 generation, const std::optional<QString> &token)
    {
        const QMutexLocker locker(&m_lock);
        if (generation == m_generation)
            m_token = token;
    }

    // One write or removal while it runs: what it leaves in the keyring is remembered
    // only once it has succeeded (done()).
    class Write {
    public:
        explicit Write(std::shared_ptr<Memory> memory) : m_memory(std::move(memory))
        {
            const QMutexLocker locker(&m_memory->m_lock);
            if (m_memory->m_writing++ > 0)
                m_memory->m_overlapped = true;
            ++m_memory->m_generation;
        }
        ~Write()
        {
            Memory &m = *m_memory;
            const QMutexLocker locker(&m.m_lock);
            ++m.m_generation;
            m.m_token = m.m_overlapped ? std::nullopt : m_result;
            if (--m.m_writing == 0)
                m.m_overlapped = false;
        }
        Write(const Write &) = delete;
        Write &operator=(const Write &) = delete;

        void done(std::optional<QString> token) { m_result.emplace(std::move(token)); }

    private:
        std::shared_ptr<Memory> m_memory;
        std::optional<std::optional<QString>> m_result;
    };

private:
    mutable QMutex m_lock;
    std::optional<std::optional<QString>> m_token;
    quint64 m_generation = 0; // moves on when a write or removal begins and when it ends
    int m_writing = 0;
    bool m_overlapped = false;
};

KeychainStore::KeychainStore(const QString &service, std::chrono::milliseconds timeout, QThreadPool *workers,
                             std::chrono::milliseconds promptTimeout)
    : m_keychain(service, timeout, workers, promptTimeout), m_memory(Memory::of(service))
{
}

QCoro::Task<std::optional<QString>> KeychainStore::currentJWT() const
{
    // The frame holds what it uses: this store may go while the read runs.
    const std::shared_ptr<Memory> memory = m_memory;
    quint64 generation = 0;
    if (auto known = memory->token(&generation))
        co_return *known;
    const Keychain keychain = m_keychain;
    std::optional<QByteArray> data;
    try {
        data = co_await keychain.read(kAccount);
    } catch (const KeychainError &error) {
        // Not remembered: the keyring may answer the next read.
        logFailure("reading", keychain.service(), error);
        co_return std::nullopt;
    }
    std::optional<QString> token;
    if (data) {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        token = utf8(*data);
        if (utf8.hasError())
            token.reset();
    }
    memory->remember(generation, token);
    co_return token;
}

QCoro::Task<void> KeychainStore::saveJWT(QString token)
{
    const Keychain keychain = m_keychain;
    Memory::Write write(m_memory);
    const QByteArray bytes = token.toUtf8();
    co_await keychain.write(kAccount, bytes);
    write.done(QString::fromUtf8(bytes));
}

QCoro::Task<void> KeychainStore::deleteJWT()
{
    const Keychain keychain = m_keychain;
    Memory::Write write(m_memory);
    try {
        co_await keychain.remove(kAccount);
        write.done(std::nullopt);
    } catch (const KeychainError &error) {
        // Signing out goes on whether or not the item could be removed.
        logFailure("removing", keychain.service(), error);
    }
}

} // namespace kovra
