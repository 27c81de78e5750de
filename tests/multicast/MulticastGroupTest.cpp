// Which multicast group, port and TTL a terminal's stream gets, and what is
// left of a client's own choice of them.
#include "MulticastGroup.h"
#include "TavloRtspServer.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>

namespace {

uint32_t parse(const std::string& dotted)
{
    in_addr a{};
    return inet_pton(AF_INET, dotted.c_str(), &a) == 1 ? ntohl(a.s_addr) : 0;
}

}  // namespace

// Every group number has its own address in 239.255.0.0/16, below the
// block where SSDP and SLP live, an even port clear of the classroom's own
// and of the unicast server ports, and TTL 1.
TEST(MulticastGroup, EveryGroupHasItsOwnScopedAddress)
{
    std::set<uint32_t> seen;
    for (uint32_t group = 0; group <= MulticastGroup::LAST_GROUP; ++group) {
        const std::optional<MulticastGroup> g = MulticastGroup::of(group);
        ASSERT_TRUE(g) << group;
        const uint32_t address = parse(g->address);
        ASSERT_EQ(address >> 16, 0xEFFFu) << g->address;
        ASSERT_LT(address & 0xFFFF, 0xFF00u) << g->address;
        ASSERT_TRUE(seen.insert(address).second) << "group " << group << " shares " << g->address;
        ASSERT_EQ(g->port % 2, 0) << group;
        ASSERT_GE(g->port, 1024);
        ASSERT_TRUE(g->port + 1 < 6970 || g->port > 7969) << g->port;
        ASSERT_NE(g->port, 55555);
        ASSERT_NE(g->port + 1, 55555);
        ASSERT_LT(g->port + 1, 32768) << "clear of the ephemeral ports";
        ASSERT_EQ(g->ttl, 1);
    }
    EXPECT_EQ(MulticastGroup::of(3)->address, "239.255.0.3");
    EXPECT_EQ(MulticastGroup::of(258)->address, "239.255.1.2");
    // Neighbours differ in port too, so a receiver bound to the port alone
    // still tells them apart.
    EXPECT_NE(MulticastGroup::of(3)->port, MulticastGroup::of(4)->port);
}

TEST(MulticastGroup, GroupsPastTheLastHaveNone)
{
    EXPECT_FALSE(MulticastGroup::of(MulticastGroup::LAST_GROUP + 1));
    EXPECT_FALSE(MulticastGroup::of(0xFFFA));  // would be 239.255.255.250, SSDP's
    EXPECT_FALSE(MulticastGroup::of(UINT32_MAX));
}

// A multicast transport loses its destination, port and TTL (the server
// fills in its own); unicast transports keep theirs.
TEST(MulticastGroup, ClientChoiceOfGroupPortAndTtlIsForgotten)
{
    GstRTSPTransport* t = nullptr;
    ASSERT_EQ(gst_rtsp_transport_new(&t), GST_RTSP_OK);
    ASSERT_EQ(gst_rtsp_transport_parse("RTP/AVP;multicast;destination=224.0.0.1;port=5000-5001;ttl=64", t),
              GST_RTSP_OK);
    ASSERT_EQ(t->lower_transport, GST_RTSP_LOWER_TRANS_UDP_MCAST);
    tavlo_forget_client_multicast_choice(t);
    EXPECT_EQ(t->destination, nullptr);
    EXPECT_EQ(t->ttl, 0u);
    EXPECT_EQ(t->port.min, -1);
    EXPECT_EQ(t->port.max, -1);
    gst_rtsp_transport_free(t);

    ASSERT_EQ(gst_rtsp_transport_new(&t), GST_RTSP_OK);
    ASSERT_EQ(gst_rtsp_transport_parse("RTP/AVP;unicast;destination=10.0.0.9;client_port=40000-40001", t),
              GST_RTSP_OK);
    tavlo_forget_client_multicast_choice(t);
    ASSERT_NE(t->destination, nullptr);
    EXPECT_STREQ(t->destination, "10.0.0.9");
    EXPECT_EQ(t->client_port.min, 40000);
    gst_rtsp_transport_free(t);
}

// Whether the host can send to a group follows its routes: none in a
// namespace with only its loopback, one once a route covers the group.
// (This binary runs in a namespace of its own, as root.)
TEST(MulticastGroup, RoutableOnlyWithARouteForTheGroup)
{
    ASSERT_EQ(std::system("ip link set lo up && ! ip route show | grep -q ."), 0)
        << "needs a private network namespace without routes (run through CTest)";
    EXPECT_FALSE(MulticastGroup::routable("239.255.0.3", 20006));
    ASSERT_EQ(std::system("ip route add 239.255.0.0/16 dev lo"), 0);
    EXPECT_TRUE(MulticastGroup::routable("239.255.0.3", 20006));
    EXPECT_FALSE(MulticastGroup::routable("not an address", 20006));
    ASSERT_EQ(std::system("ip route del 239.255.0.0/16 dev lo"), 0);
    EXPECT_FALSE(MulticastGroup::routable("239.255.0.3", 20006));
}
