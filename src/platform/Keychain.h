#pragma once

#include "platform/Error.h"

#include <QByteArray>
#include <QString>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <optional>

class QThreadPool;

namespace kovra {

// A failure of a keychain call: what kind of failure, and the keyring's own message
// (or the session bus's, when the bus could not be reached). Carries no secret.
class KeychainError : public Error {
public:
    enum class Kind {
        // Nothing to store in: no session bus, or no Secret Service on it (no process
        // owns org.freedesktop.secrets and none can be started).
        noSecretService,
        // A Secret Service answered but would not do it: its collection is locked (the
        // unlock prompt was dismissed or could not be shown), or access was denied.
        refused,
        // No answer within the keychain's time-out.
        timedOut,
        // Anything else.
        failed,
    };

    explicit KeychainError(QString message, Kind kind = Kind::failed) : m_message(std::move(message)), m_kind(kind) {}

    Kind kind() const { return m_kind; }
    // The message as the keyring (or the bus) gave it.
    QString message() const { return m_message; }
    // The message behind what it means: "no Secret Service: <message>", "the keyring
    // refused: <message>"; a time-out's and any other failure's message as it is.
    QString description() const override;

private:
    QString m_message;
    Kind m_kind;
};

// Generic secret items of the Secret Service (libsecret) in the default collection,
// identified by the attributes "service" and "account". Holds no secret itself:
// every call goes to the keyring. The calls block in libsecret, so they run on worker
// threads and the caller awaits them; each is bounded by a time-out (the keyring
// call is cancelled when it passes, which also dismisses a prompt it showed). A write or
// a removal may have the keyring ask the user to unlock it first, so those are bounded
// by the prompt's time-out, long enough to answer it. Each call first reaches the
// session bus, so that a missing bus reads as such. Nothing is logged here: the callers
// decide. Await them from the GUI thread.
class Keychain {
public:
    static constexpr std::chrono::milliseconds kDefaultTimeout{3000};
    static constexpr std::chrono::milliseconds kPromptTimeout{120000};

    // The calls run on `workers`, or on the keychain's own threads when null. `timeout`
    // bounds a read, `promptTimeout` a write or a removal.
    explicit Keychain(QString service, std::chrono::milliseconds timeout = kDefaultTimeout,
                      QThreadPool *workers = nullptr, std::chrono::milliseconds promptTimeout = kPromptTimeout);

    QString service() const { return m_service; }

    // The item's bytes, or none when it is absent (also when it is in a locked
    // collection that stays locked). Throws KeychainError when it cannot be read.
    QCoro::Task<std::optional<QByteArray>> read(QString account) const;
    // Adds the item, or replaces its secret when it exists. Throws KeychainError.
    QCoro::Task<void> write(QString account, QByteArray secret) const;
    // Removes the item; true when there was one. Throws KeychainError.
    QCoro::Task<bool> remove(QString account) const;

    // Why the session bus the keyring is reached through cannot be reached (the bus
    // library's message), or none when it can. Bounded by `timeout`; runs on the
    // keychain's own threads.
    static QCoro::Task<std::optional<QString>> sessionBusProblem(std::chrono::milliseconds timeout = kDefaultTimeout);

private:
    QString m_service;
    std::chrono::milliseconds m_timeout;
    std::chrono::milliseconds m_promptTimeout;
    QThreadPool *m_workers;
};

} // namespace kovra
