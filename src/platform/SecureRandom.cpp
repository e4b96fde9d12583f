#include "platform/SecureRandom.h"

#include <sys/random.h>

#include <cerrno>

namespace kovra {

int fillSecureRandom(std::span<quint8> bytes)
{
    size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t n = getrandom(bytes.data() + filled, bytes.size() - filled, 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        filled += size_t(n);
    }
    return 0;
}

} // namespace kovra
