#include "catalog/RegionWakeAck.h"

namespace kovra {

RegionWakeAck RegionWakeAck::decode(const JsonDecodingContainer &c)
{
    return {c.decode<QString>("status")};
}

} // namespace kovra
