#pragma once

#include <QtGlobal>

#include <span>

namespace kovra {

// Fills `bytes` from the kernel's random source (getrandom). Returns 0, or the errno
// of a source that failed; the caller decides whether it can go on without.
int fillSecureRandom(std::span<quint8> bytes);

} // namespace kovra
