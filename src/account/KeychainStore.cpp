#include "account/KeychainStore.h"

#include <QStringDecoder>

namespace kovra {
namespace {
const QString kAccount = QStringLiteral("jwt");
}

KeychainStore::KeychainStore(const QString &service, std::chrono::milliseconds readTimeout)
    : m_keychain(service, readTimeout)
{
}

std::optional<QString> KeychainStore::currentJWT() const
{
    const auto data = m_keychain.read(kAccount);
    if (!data)
        return std::nullopt;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString token = utf8(*data);
    if (utf8.hasError())
        return std::nullopt;
    return token;
}

void KeychainStore::saveJWT(const QString &token)
{
    m_keychain.write(kAccount, token.toUtf8());
}

void KeychainStore::deleteJWT()
{
    try {
        m_keychain.remove(kAccount);
    } catch (const KeychainError &) {
        // Signing out goes on whether or not the item could be removed.
    }
}

} // namespace kovra
