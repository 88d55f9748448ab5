// A takeover end to end on the real kernel: hosts A and B and an observer on one bridged segment,
// each in a network namespace the test makes. What the kernel holds is read back with ip; what
// the segment saw is captured on the observer's bridge.
#include "cping/cping.hpp"
#include "cutil/takeover.hpp"
#include "support/arp_capture.hpp"
#include "support/netns_fixture.hpp"

using namespace cutil;

namespace {

constexpr const char* moved = "192.0.2.100";

class Segment : public vttest::segment_test {
protected:
    std::string neighbour(const std::string& ns) { return seg->ip_out(ns, std::string("neigh show ") + moved); }
};

// In hex, one a line, the frames the capture saw announce the moved address.
std::string announced(vttest::arp_capture& wire)
{
    std::string out;
    for (const std::string& frame : wire.announcements(moved)) {
        for (unsigned char c : frame)
            out += "0123456789abcdef"[c >> 4], out += "0123456789abcdef"[c & 15];
        out += "\n";
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
    EXPECT_EQ(said_in(seg->a(), [] { return do_take_ip("va:1", moved); }), "SUCCESS DEBUG (T):: [ 192.0.2.100 -> 02:00:00:00:0a:01 ]\n");
    EXPECT_EQ(addrs(seg->a(), "va"), "192.0.2.1/24 192.0.2.100/32 ");
    EXPECT_EQ(seg->ip_out(seg->a(), std::string("route show ") + moved), "");
    // Three announcements from A's own hardware address, which also stands as the target's.
    const std::string a_hw = "020000000a01", ip = "c0000264";
    const std::string frame = "ffffffffffff" + a_hw + "0806" + "0001080006040001" + a_hw + ip + a_hw + ip + "\n";
    EXPECT_EQ(announced(wire), frame + frame + frame);
    // The observer now reaches the address at A.
    EXPECT_EQ(in(seg->observer(), [] { return unix_ping(moved); }), "0");
    EXPECT_NE(neighbour(seg->observer()).find("02:00:00:00:0a:01"), std::string::npos);

    // A gives it back: parked on its loopback, queued, still "configured" here.
    EXPECT_EQ(said_in(seg->a(), [] {
        c_ip_init();
        const std::string answer = do_release_ip("va", moved, 0);
        return answer + " " + get_released() + (configured_ip("va", moved) ? " configured" : "");
    }), "SUCCESS 192.0.2.100 configured do_release_ip device va IP 192.0.2.100 forget 0\nWARNING (T):: addresses parked on "
        "lo0 are still claimed by ARP on va: set net.ipv4.conf.va.arp_ignore=1 and arp_announce=2\n");
    EXPECT_EQ(addrs(seg->a(), "va"), "192.0.2.1/24 ");
    EXPECT_EQ(addrs(seg->a(), "lo"), "127.0.0.1/8 192.0.2.100/32 ");

    // B takes it: the observer's entry follows to B without asking.
    EXPECT_EQ(said_in(seg->b(), [] { return do_take_ip("vb", moved); }), "SUCCESS DEBUG (T):: [ 192.0.2.100 -> 02:00:00:00:0a:02 ]\n");
    const std::string b_hw = "020000000a02", by_b = "ffffffffffff" + b_hw + "0806" + "0001080006040001" + b_hw + ip + b_hw + ip + "\n";
    EXPECT_EQ(announced(wire), by_b + by_b + by_b);
    EXPECT_NE(neighbour(seg->observer()).find("02:00:00:00:0a:02"), std::string::npos);

    // A forgets the parked address.
    in(seg->a(), [] { return queue_release_ip(moved, 1); });
    EXPECT_EQ(addrs(seg->a(), "lo"), "127.0.0.1/8 ");
}

TEST_F(Segment, CleanupKeepsTheFirstAddressAndTakeRemovesTheParkedCopy)
{
    ASSERT_TRUE(configure(seg->a(), {"addr add 198.51.100.1/24 dev va", "addr add 203.0.113.1/24 dev va",
                                     std::string("addr add ") + moved + "/32 dev lo"}));
    EXPECT_EQ(in(seg->a(), [] { return device_cleanup("va") + " " + device_cleanup("nosuch0") + " " + find_ip_device("lo0", moved); }),
              "SUCCESS FAIL lo0");
    EXPECT_EQ(addrs(seg->a(), "va"), "192.0.2.1/24 ");
    EXPECT_EQ(said_in(seg->a(), [] { return do_take_ip("va", moved); }), "SUCCESS DEBUG (T):: [ 192.0.2.100 -> 02:00:00:00:0a:01 ]\n");
    EXPECT_EQ(addrs(seg->a(), "va") + "| " + addrs(seg->a(), "lo"), "192.0.2.1/24 192.0.2.100/32 | 127.0.0.1/8 ");
    // Given back with the interface unknown ("ERROR"): only the loopback is touched.
    in(seg->a(), [] { return do_release_ip("ERROR", moved, 0); });
    EXPECT_EQ(addrs(seg->a(), "va") + "| " + addrs(seg->a(), "lo"), "192.0.2.1/24 192.0.2.100/32 | 127.0.0.1/8 192.0.2.100/32 ");
}
