#pragma once

#include "platform/Error.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <optional>

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
// every call goes to the keyring. Usable from any thread.
class Keychain {
public:
    static constexpr std::chrono::milliseconds kDefaultReadTimeout{3000};

    explicit Keychain(QString service, std::chrono::milliseconds readTimeout = kDefaultReadTimeout);

    QString service() const { return m_service; }

    // The item's bytes, or none when it is absent, cannot be read or the keyring does
    // not answer within the read time-out (logged, without the secret).
    std::optional<QByteArray> read(const QString &account) const;
    // Adds the item, or replaces its secret when it exists. Throws KeychainError.
    void write(const QString &account, const QByteArray &secret) const;
    // Removes the item; true when there was one. Throws KeychainError.
    bool remove(const QString &account) const;

private:
    QString m_service;
    std::chrono::milliseconds m_readTimeout;
};

} // namespace kovra
