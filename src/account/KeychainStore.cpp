#include "account/KeychainStore.h"

#include <QStringDecoder>

namespace kovra {
namespace {
const QString kAccount = QStringLiteral("jwt");
}

KeychainStore::KeychainStore(const QString &service, std::chrono::milliseconds timeout, QThreadPool *workers)
    : m_keychain(service, timeout, workers)
{
}

QCoro::Task<std::optional<QString>> KeychainStore::currentJWT() const
{
    // The keychain is copied into the frame: this store may go while the read runs.
    const Keychain keychain = m_keychain;
    const std::optional<QByteArray> data = co_await keychain.read(kAccount);
    if (!data)
        co_return std::nullopt;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString token = utf8(*data);
    if (utf8.hasError())
        co_return std::nullopt;
    co_return token;
}

QCoro::Task<void> KeychainStore::saveJWT(QString token)
{
    const Keychain keychain = m_keychain;
    co_await keychain.write(kAccount, token.toUtf8());
}

QCoro::Task<void> KeychainStore::deleteJWT()
{
    const Keychain keychain = m_keychain;
    try {
        co_await keychain.remove(kAccount);
    } catch (const KeychainError &) {
        // Signing out goes on whether or not the item could be removed.
    }
}

} // namespace kovra
