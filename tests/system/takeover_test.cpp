// A takeover end to end on the real kernel: hosts A and B and an observer on one bridged segment,
// each in a network namespace the test makes. What the kernel holds is read back with ip; what
// the segment saw is captured on the observer's bridge.
#include "cping/cping.hpp"
#include "cutil/takeover.hpp"
#include "support/arp_capture.hpp"
#include "support/netns_fixture.hpp"

#include <gtest/gtest.h>

#include <cstdio>

using namespace cutil;

namespace {

constexpr const char* moved = "192.0.2.100";

class Segment : public vttest::segment_test {
protected:
};

std::string hex(std::string_view bytes)
{
    std::string out;
    char two[3];
    for (unsigned char c : bytes) {
        std::snprintf(two, sizeof two, "%02x", c);
        out += two;
    }
    return out;
}

} // namespace

TEST_F(Segment, TakeoverIsSeenOnTheWireAndFollowsTheAddressFromHostToHost)
{
    vttest::arp_capture wire(seg->observer(), "br0");
    ASSERT_TRUE(wire.ok());
    // A host route to the address, as a former owner may have left it; the takeover removes it.
    ASSERT_TRUE(seg->ip(seg->a(), std::string("route add ") + moved + "/32 via 127.0.0.1 dev lo"));
    EXPECT_EQ(in(seg->a(), [] { return do_take_ip("va", moved); }), "SUCCESS");
    EXPECT_EQ(addrs(seg->a(), "va"), "192.0.2.1/24 192.0.2.100/32 ");
    EXPECT_EQ(seg->ip_out(seg->a(), std::string("route show ") + moved), "");

    std::vector<std::string> frames = wire.announcements(moved);
    ASSERT_EQ(frames.size(), 3u);
    const std::string a_hw = "020000000a01", ip = "c0000264";
    for (const auto& f : frames) {
        EXPECT_EQ(f, frames[0]);
        EXPECT_EQ(hex(f), "ffffffffffff" + a_hw + "0806" + "0001080006040001" + a_hw + ip + a_hw + ip);
    }
    // The observer now reaches the address at A.
    EXPECT_EQ(in(seg->observer(), [] { return std::to_string(unix_ping(moved)); }), "0");
    EXPECT_NE(seg->ip_out(seg->observer(), std::string("neigh show ") + moved).find("02:00:00:00:0a:01"), std::string::npos);

    // A gives it back: parked on its loopback, queued, still "configured" here.
    std::string released = in(seg->a(), [] {
        c_ip_init();
        do_release_ip("va", moved, 0);
        return get_released() + (configured_ip("va", moved) ? " configured" : " not configured");
    });
    EXPECT_NE(released.find("192.0.2.100 configured"), std::string::npos) << released;
    EXPECT_EQ(addrs(seg->a(), "va"), "192.0.2.1/24 ");
    EXPECT_EQ(addrs(seg->a(), "lo"), "127.0.0.1/8 192.0.2.100/32 ");

    // B takes it: the observer's entry follows to B without asking.
    EXPECT_EQ(in(seg->b(), [] { return do_take_ip("vb", moved); }), "SUCCESS");
    EXPECT_EQ(wire.announcements(moved).size(), 3u);
    EXPECT_NE(seg->ip_out(seg->observer(), std::string("neigh show ") + moved).find("02:00:00:00:0a:02"), std::string::npos);

    // A forgets the parked address.
    in(seg->a(), [] { return queue_release_ip(moved, 1); });
    EXPECT_EQ(addrs(seg->a(), "lo"), "127.0.0.1/8 ");
}

TEST_F(Segment, CleanupKeepsTheFirstAddressAndTakeRemovesTheParkedCopy)
{
    for (const char* extra : {"198.51.100.1/24", "203.0.113.1/24"})
        ASSERT_TRUE(seg->ip(seg->a(), std::string("addr add ") + extra + " dev va"));
    ASSERT_TRUE(seg->ip(seg->a(), std::string("addr add ") + moved + "/32 dev lo"));
    std::string out = in(seg->a(), [] {
        return device_cleanup("va") + " " + device_cleanup("nosuch0") + " " + find_ip_device("lo0", moved);
    });
    EXPECT_EQ(out, "SUCCESS FAIL lo0");
    EXPECT_EQ(addrs(seg->a(), "va"), "192.0.2.1/24 ");

    EXPECT_EQ(in(seg->a(), [] { return do_take_ip("va", moved); }), "SUCCESS");
    EXPECT_EQ(addrs(seg->a(), "va"), "192.0.2.1/24 192.0.2.100/32 ");
    EXPECT_EQ(addrs(seg->a(), "lo"), "127.0.0.1/8 ");

    // Given back with the interface unknown ("ERROR"): only the loopback is touched.
    in(seg->a(), [] { return do_release_ip("ERROR", moved, 0); });
    EXPECT_EQ(addrs(seg->a(), "va"), "192.0.2.1/24 192.0.2.100/32 ");
    EXPECT_EQ(addrs(seg->a(), "lo"), "127.0.0.1/8 192.0.2.100/32 ");
}
