#pragma once

#include "core/JWTProvider.h"
#include "platform/Keychain.h"

#include <memory>

namespace kovra {

// The session token in the keychain item "jwt" of one service. The item is the one
// place the token is stored; the process keeps what it last read or wrote there in
// memory, shared by every instance over the same service, so only the first read goes
// to the keyring. This relies on the app being the item's only writer. A read or a
// write that fails leaves nothing remembered: the next read asks the keyring again.
// The keyring is reached off the caller's thread (see Keychain). A read or removal
// that fails is logged here (category "kovra.KeychainStore"), once, with the keyring's
// message; a save that fails is thrown for its caller to report.
class KeychainStore final : public JWTStore {
public:
    static inline const QString kDefaultService = QStringLiteral("com.kovra.client-sign-box");

    // The time-outs are the keychain's (see Keychain).
    explicit KeychainStore(const QString &service = kDefaultService,
                           std::chrono::milliseconds timeout = Keychain::kDefaultTimeout, QThreadPool *workers = nullptr,
                           std::chrono::milliseconds promptTimeout = Keychain::kPromptTimeout);

    // None when the item is absent, unreadable (logged) or not valid UTF-8.
    QCoro::Task<std::optional<QString>> currentJWT() const override;
    // Throws KeychainError; logs nothing.
    QCoro::Task<void> saveJWT(QString token) override;
    // A failure is logged, not thrown.
    QCoro::Task<void> deleteJWT() override;

private:
    class Memory;

    Keychain m_keychain;
    std::shared_ptr<Memory> m_memory;
};

} // namespace kovra
