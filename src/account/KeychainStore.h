#pragma once

#include "core/JWTProvider.h"
#include "platform/Keychain.h"

namespace kovra {

// The session token in the keychain item "jwt" of one service. Keeps no copy:
// every read goes to the keyring, so every instance over the same service sees the
// same token. The keyring is reached off the caller's thread (see Keychain).
class KeychainStore final : public JWTStore {
public:
    static inline const QString kDefaultService = QStringLiteral("com.kovra.client-sign-box");

    explicit KeychainStore(const QString &service = kDefaultService,
                           std::chrono::milliseconds timeout = Keychain::kDefaultTimeout, QThreadPool *workers = nullptr);

    // None when the item is absent, unreadable or not valid UTF-8.
    QCoro::Task<std::optional<QString>> currentJWT() const override;
    // Throws KeychainError.
    QCoro::Task<void> saveJWT(QString token) override;
    QCoro::Task<void> deleteJWT() override;

private:
    Keychain m_keychain;
};

} // namespace kovra
