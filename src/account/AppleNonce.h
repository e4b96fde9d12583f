#pragma once

#include <QString>

#include <array>
#include <functional>

namespace kovra {

// Random bytes for a nonce, 16 at a time.
using NonceRandomBatch = std::function<std::array<quint8, 16>()>;

// The alphabet of sign-in nonces (65 characters).
inline constexpr char kNonceAlphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz-._";
inline constexpr int kNonceLength = 32;

// A nonce of 32 alphabet characters by rejection sampling: each byte below 65 picks
// the character at its value, any other byte is skipped, batches are drawn until
// the nonce is complete.
QString makeNonce(const NonceRandomBatch &randomBytes);

// 16 bytes of the system's random source. The source failing cannot be worked
// around: the process stops.
std::array<quint8, 16> systemNonceBatch();

// SHA-256 of the text's UTF-8 bytes in lower-case hex (64 characters).
QString sha256Hex(const QString &text);

} // namespace kovra
