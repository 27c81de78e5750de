#ifndef TAVLO_MULTICASTGROUP_H
#define TAVLO_MULTICASTGROUP_H

#include <cstdint>
#include <optional>
#include <string>

// Where a terminal's stream goes by RTP multicast: one IPv4 group, its RTP
// port (RTCP on the next one) and the TTL, all derived from the terminal's
// group number, so that two terminals of a classroom never send to one
// group. Clients never choose any of it: the server hands it out.
//
// Group n (0 is the teacher's console) sends to 239.255.(n / 256).(n % 256),
// in the administratively scoped range that stays inside the site, with a
// TTL of 1, so that no router forwards it beyond the classroom's own
// network. Group numbers above LAST_GROUP have no address (they would run
// into 239.255.255.0/24, where SSDP and SLP live): such a terminal serves
// unicast only.
struct MulticastGroup {
    std::string address;  // dotted quad
    uint16_t port = 0;    // even: RTP; port + 1: RTCP
    uint8_t ttl = 0;

    static constexpr uint32_t LAST_GROUP = 0xEFFF;
    // Ports RTP_PORT_FIRST, + 2, ... up to RTP_PORT_FIRST + 2 * (PORTS - 1),
    // clear of the unicast server ports (6970-7969), the classroom's port
    // 55555 and the kernel's ephemeral ports.
    static constexpr uint16_t RTP_PORT_FIRST = 20000;
    static constexpr uint16_t PORTS = 4000;
    static constexpr uint8_t DEFAULT_TTL = 1;

    // The group of terminal number group, or none past LAST_GROUP.
    static std::optional<MulticastGroup> of(uint32_t group);

    // Whether this host has a route to send to address:port (and so an
    // interface to join the group on) right now. Without one the sockets of
    // the multicast road cannot join the group, and their error would take
    // the whole shared pipeline down with every client on it.
    static bool routable(const std::string& address, uint16_t port);
};

#endif
