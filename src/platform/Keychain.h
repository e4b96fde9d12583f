#pragma once

#include "platform/Error.h"

#include <QByteArray>
#include <QString>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <optional>

class QThreadPool;

namespace kovra {

// A failure reported by the Secret Service, carrying its message.
class KeychainError : public Error {
public:
    explicit KeychainError(QString message) : m_message(std::move(message)) {}
    QString description() const override { return m_message; }

private:
    QString m_message;
};

// Generic secret items of the Secret Service (libsecret) in the default collection,
// identified by the attributes "service" and "account". Holds no secret itself:
// every call goes to the keyring. The calls block in libsecret, so they run on worker
// threads and the caller awaits them; each is bounded by the time-out (the keyring
// call is cancelled when it passes). Await them from the GUI thread.
class Keychain {
public:
    static constexpr std::chrono::milliseconds kDefaultTimeout{3000};

    // The calls run on `workers`, or on the keychain's own threads when null.
    explicit Keychain(QString service, std::chrono::milliseconds timeout = kDefaultTimeout,
                      QThreadPool *workers = nullptr);

    QString service() const { return m_service; }

    // The item's bytes, or none when it is absent. Throws KeychainError when it cannot
    // be read, also when the time-out passes (logged, without the secret).
    QCoro::Task<std::optional<QByteArray>> read(QString account) const;
    // Adds the item, or replaces its secret when it exists. Throws KeychainError, also
    // when the time-out passes.
    QCoro::Task<void> write(QString account, QByteArray secret) const;
    // Removes the item; true when there was one. Throws KeychainError, also when the
    // time-out passes.
    QCoro::Task<bool> remove(QString account) const;

private:
    QString m_service;
    std::chrono::milliseconds m_timeout;
    QThreadPool *m_workers;
};

} // namespace kovra
