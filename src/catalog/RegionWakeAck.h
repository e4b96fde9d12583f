#pragma once

#include "platform/Json.h"

#include <QString>

namespace kovra {

// The service's answer to a wake request. Its status is only logged.
struct RegionWakeAck {
    QString status;

    bool operator==(const RegionWakeAck &) const = default;

    // "status" is required.
    static RegionWakeAck decode(const JsonDecodingContainer &c);
};

} // namespace kovra
