#include "MulticastGroup.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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

bool MulticastGroup::routable(const std::string& address, uint16_t port)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &to.sin_addr) != 1)
        return false;
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    // A UDP connect sends nothing: it only looks the route up.
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0;
    ::close(fd);
    return ok;
}
