#include "account/AppleNonce.h"

#include "platform/SecureRandom.h"

#include <QCryptographicHash>

namespace kovra {

QString makeNonce(const NonceRandomBatch &randomBytes)
{
    constexpr int alphabetSize = int(sizeof(kNonceAlphabet)) - 1;
    static_assert(alphabetSize == 65);
    QString nonce;
    nonce.reserve(kNonceLength);
    while (nonce.size() < kNonceLength) {
        for (const quint8 byte : randomBytes()) {
            if (nonce.size() == kNonceLength)
                break;
            if (byte < alphabetSize)
                nonce.append(QLatin1Char(kNonceAlphabet[byte]));
        }
    }
    return nonce;
}

std::array<quint8, 16> systemNonceBatch()
{
    std::array<quint8, 16> batch{};
    if (const int error = fillSecureRandom(batch))
        qFatal("Unable to generate nonce. getrandom failed with errno %d", error);
    return batch;
}

QString sha256Hex(const QString &text)
{
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256).toHex());
}

} // namespace kovra
