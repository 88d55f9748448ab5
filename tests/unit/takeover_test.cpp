// Takeover bookkeeping against the scripted kernel: the released-address queue, the lookups over
// crafted interface lists, and the order of the changes each step asks of the kernel.
#include "cutil/arpcast.hpp"
#include "cutil/takeover.hpp"
#include "support/scripted_kernel.hpp"

using namespace cutil;
using namespace vttest;

namespace {

std::string drain()
{
    std::string out;
    for (std::string a = get_released(); !a.empty(); a = get_released())
        out += a + " ";
    return out;
}

// em0 with two addresses and a third, em1 with one, and 192.0.2.50 parked on lo0.
class Takeover : public scripted_kernel {
protected:
    void SetUp() override
    {
        link(1, "em0", hw0);
        addr(1, "192.0.2.10", "255.255.255.0");
        addr(1, "192.0.2.11", "255.255.255.255"); // a second address is found like the first
        addr(1, "198.51.100.1", "255.255.255.0");
        link(2, "em1", hw1);
        addr(2, "203.0.113.1", "255.255.255.0");
        link(3, "lo0");
        addr(3, "127.0.0.1", "255.0.0.0");
        addr(3, "192.0.2.50", "255.255.255.255");
        kernel.parked_answered.insert("em0");
        c_ip_init();
        bpf_first_time = true;
    }
};

} // namespace

TEST(ReleasedQueue, HandsAddressesBackOldestFirstAndAppendsAfterRunningEmpty)
{
    EXPECT_EQ(c_ip_init() + drain(), "SUCCESS");
    enqueue_released(inet_addr("192.0.2.1"));
    enqueue_released(inet_addr("192.0.2.2"));
    EXPECT_EQ(c_ip_init(), "SUCCESS"); // again on a full queue: nothing queued is lost
    EXPECT_EQ(drain(), "192.0.2.1 192.0.2.2 ");
    enqueue_released(inet_addr("198.51.100.7")); // the tail was reset when the last one went
    EXPECT_EQ(queue_release_ip("203.0.113.9", 0), "SUCCESS");
    EXPECT_EQ(drain(), "198.51.100.7 203.0.113.9 ");
    for (const char* bad : {"0.0.0.0", "host", "192.0.2", "192.0.2.300", ""})
        EXPECT_EXIT(queue_release_ip(bad, 0), testing::ExitedWithCode(1), "^invalid ipaddress \\(" + std::string(bad) + "\\)\n$");
}

TEST_F(Takeover, LookupsFindEveryAddressOfTheNamedInterfaceOnly)
{
    for (auto [ifname, a, device, configured] :
         {std::tuple{"em0", "192.0.2.10", "em0", true}, {"em0", "192.0.2.11", "em0", true}, {"em0", "203.0.113.1", "ERROR", false},
          {"em0", "192.0.2.50", "ERROR", true} /* parked */, {"em2", "192.0.2.10", "ERROR", false}, {"em2", "192.0.2.50", "ERROR", true},
          {"em0", "192.0.2.12", "ERROR", false}, {"em0", "not an address", "ERROR", false}}) {
        EXPECT_EQ(find_ip_device(ifname, a), device) << ifname << " " << a;
        EXPECT_EQ(configured_ip(ifname, a), configured) << ifname << " " << a;
    }
    EXPECT_EQ(find_ip_device("em0", std::string(79, '1')), "ERROR");
    char name[4] = "xxx";
    EXPECT_EQ(find_local_device("192.0.2.10", name, 1), 1); // no search: yes, without looking
    EXPECT_STREQ(name, "lo0");
    EXPECT_EQ(find_local_device("192.0.2.10", name, 0), 0);
    EXPECT_EQ(find_local_device("192.0.2.50", name, 0), 1);
}

TEST_F(Takeover, EachStepAsksTheKernelInItsOrder)
{
    const std::string frames = "packet bind em0\npacket frame em0 %\npacket frame em0 %\npacket frame em0 %\n"
                               "out: DEBUG (T):: [ % -> 00:a0:c9:01:02:03 ]\nerr: ";
    const auto with = [](std::string text, const std::string& addr) {
        for (std::size_t at; (at = text.find('%')) != std::string::npos;)
            text.replace(at, 1, addr);
        return text;
    };
    const std::string back = "delete em0 192.0.2.11\nroute open\nroute delete 192.0.2.11\nalias lo0 192.0.2.11/255.255.255.255\n"
                             "out: do_release_ip device em0 IP 192.0.2.11 forget 0\n";
    const std::string take = "SUCCESS route open\nroute delete ";
    // Each step with its answer, then what it asked of the kernel and printed.
    const std::pair<std::function<std::string()>, std::string> rows[] = {
        {[] { return do_take_ip("em0:1", "192.0.2.50"); }, take + "192.0.2.50\nalias em0:1 192.0.2.50/255.255.255.255\n"
                                                           "delete lo0 192.0.2.50\npacket open 0\npacket version\n" + with(frames, "192.0.2.50")},
        {[] { return do_take_ip("em0", "203.0.113.9"); }, // not parked: the loopback is left alone
         take + "203.0.113.9\nalias em0 203.0.113.9/255.255.255.255\npacket open 0\n" + with(frames, "203.0.113.9")},
        {[] { return do_release_ip("em0", "192.0.2.11", 0); }, "SUCCESS " + back + "WARNING (T):: addresses parked on lo0 are "
                                                               "still claimed by ARP on em0: set net.ipv4.conf.em0.arp_ignore=1 and "
                                                               "arp_announce=2\nerr: "},
        {[] { return do_release_ip("em0", "192.0.2.11", 0); }, "SUCCESS " + back + "err: "}, // the warning is said once
        {[] { return do_release_ip("ERROR", "192.0.2.50", 1); }, // forgotten: taken off the loopback
         "SUCCESS delete lo0 192.0.2.50\nroute open\nroute delete 192.0.2.50\nout: do_release_ip device ERROR IP 192.0.2.50 forget 1\nerr: "},
        {[] { return do_release_ip("ERROR", "203.0.113.9", 1); }, "SUCCESS out: do_release_ip device ERROR IP 203.0.113.9 forget 1\nerr: "},
        {[] { return queue_release_ip("192.0.2.50", 1); }, "SUCCESS delete lo0 192.0.2.50\nroute open\nroute delete 192.0.2.50\nout: err: "},
        // Text that is no address is not queued and reaches no kernel.
        {[] { return do_release_ip("em0", "192.0.2.999", 0); }, "SUCCESS out: do_release_ip device em0 IP 192.0.2.999 forget 0\n"
                                                                 "err: invalid ipaddress (192.0.2.999)\nERR (T):: unix_ifconfig was "
                                                                 "called with bad IP: Success\nERR (T):: unix_route was called with "
                                                                 "bad IP address\nERR (T):: unix_ifconfig was called with bad IP: Success\n"},
        {[] { return device_cleanup("em0"); }, "SUCCESS delete em0 192.0.2.11\ndelete em0 198.51.100.1\nout: err: "},
        {[] { return device_cleanup("lo0") + device_cleanup("em1") + device_cleanup("em9"); },
         "SUCCESSSUCCESSFAIL delete lo0 192.0.2.50\nout: err: "},
    };
    for (const auto& [step, want] : rows) {
        std::string answer;
        std::string t = trace([&] { errno = 0, answer = step(); });
        EXPECT_EQ(answer + " " + t, want);
    }
    EXPECT_EQ(drain(), "192.0.2.11 192.0.2.11 192.0.2.50 203.0.113.9 192.0.2.50 ");
}
