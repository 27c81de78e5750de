#include "MulticastGroup.h"

std::optional<MulticastGroup> MulticastGroup::of(uint32_t group)
{
    if (group > LAST_GROUP)
        return std::nullopt;
    MulticastGroup g;
    g.address = "239.255." + std::to_string(group >> 8) + "." + std::to_string(group & 0xff);
    g.port = static_cast<uint16_t>(RTP_PORT_FIRST + 2 * (group % PORTS));
    g.ttl = DEFAULT_TTL;
    return g;
}
