// Takeover bookkeeping against the scripted kernel: the released-address queue, the lookups over
// crafted interface lists, and the order of the changes each step asks of the kernel.
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

} // namespace

TEST(ReleasedQueue, HandsAddressesBackOldestFirstAndAppendsAfterRunningEmpty)
{
    EXPECT_EQ(c_ip_init(), "SUCCESS");
    EXPECT_EQ(get_released(), "");
    enqueue_released(inet_addr("192.0.2.1"));
    enqueue_released(inet_addr("192.0.2.2"));
    EXPECT_EQ(c_ip_init(), "SUCCESS"); // again on a full queue: nothing queued is lost
    EXPECT_EQ(drain(), "192.0.2.1 192.0.2.2 ");
    enqueue_released(inet_addr("198.51.100.7")); // the tail was reset when the last one went
    EXPECT_EQ(queue_release_ip("203.0.113.9", 0), "SUCCESS");
    EXPECT_EQ(drain(), "198.51.100.7 203.0.113.9 ");
}

TEST(ReleasedQueue, InvalidAddressEndsTheProcessWithStatusOne)
{
    for (const char* bad : {"0.0.0.0", "host", "192.0.2", "192.0.2.300", ""})
        EXPECT_EXIT(queue_release_ip(bad, 0), testing::ExitedWithCode(1),
                    "^invalid ipaddress \\(" + std::string(bad) + "\\)\n$");
}

using Takeover = scripted_kernel;

TEST_F(Takeover, LookupsFindEveryAddressOfTheNamedInterfaceOnly)
{
    link(1, "em0", hw0);
    addr(1, "192.0.2.10", "255.255.255.0");
    addr(1, "192.0.2.11", "255.255.255.255"); // a second address is found like the first
    link(2, "em1", hw1);
    addr(2, "198.51.100.1", "255.255.255.0");
    link(3, "lo0");
    addr(3, "127.0.0.1", "255.0.0.0");
    addr(3, "203.0.113.5", "255.255.255.255"); // parked
    struct row {
        const char *ifname, *addr, *device;
        bool configured;
    };
    for (auto [ifname, a, device, configured] :
         {row{"em0", "192.0.2.10", "em0", true}, {"em0", "192.0.2.11", "em0", true},
          {"em0", "198.51.100.1", "ERROR", false}, {"em0", "203.0.113.5", "ERROR", true},
          {"em2", "192.0.2.10", "ERROR", false}, {"em2", "203.0.113.5", "ERROR", true},
          {"em0", "192.0.2.12", "ERROR", false}, {"em0", "not an address", "ERROR", false}}) {
        EXPECT_EQ(find_ip_device(ifname, a), device) << ifname << " " << a;
        EXPECT_EQ(configured_ip(ifname, a), configured) << ifname << " " << a;
    }
    EXPECT_EQ(find_ip_device("em0", std::string(79, '1')), "ERROR");

    char name[4] = "xxx";
    EXPECT_EQ(find_local_device("192.0.2.10", name, 1), 1); // no search: yes, without looking
    EXPECT_STREQ(name, "lo0");
    EXPECT_EQ(find_local_device("192.0.2.10", name, 0), 0);
    EXPECT_EQ(find_local_device("203.0.113.5", name, 0), 1);
}

namespace {

class TakeoverSteps : public scripted_kernel {
protected:
    // em0 with two addresses and a third, and 192.0.2.50 parked on lo0.
    void SetUp() override
    {
        link(1, "em0", hw0);
        addr(1, "192.0.2.10", "255.255.255.0");
        addr(1, "192.0.2.11", "255.255.255.255");
        addr(1, "198.51.100.1", "255.255.255.0");
        link(2, "lo0");
        addr(2, "127.0.0.1", "255.0.0.0");
        addr(2, "192.0.2.50", "255.255.255.255");
        kernel.parked_answered.insert("em0");
    }
    // The kernel requests the step made, one per line, with what it printed.
    std::string requests(const std::function<std::string()>& step)
    {
        kernel.writes.clear();
        std::string answer, out, err;
        testing::internal::CaptureStdout();
        err = stderr_of([&] { answer = step(); });
        out = testing::internal::GetCapturedStdout();
        std::string log = answer + "\n";
        for (const auto& s : kernel.summaries())
            if (!s.starts_with("route open") && !s.starts_with("packet version"))
                log += s + "\n";
        // The announcement's debug line carries the time of day; its shape is checked elsewhere.
        return log + "out: " + (out.find("WARNING") != std::string::npos ? "warning " : "")
               + (out.find("do_release_ip") != std::string::npos ? out.substr(0, out.find('\n')) : "") + "\nerr: " + err;
    }
};

} // namespace

TEST_F(TakeoverSteps, EachStepAsksTheKernelInItsOrder)
{
    c_ip_init();
    struct row {
        std::function<std::string()> step;
        const char* want;
    };
    const row rows[] = {
        {[] { return do_take_ip("em0:1", "192.0.2.50"); },
         "SUCCESS\nroute delete 192.0.2.50\nalias em0:1 192.0.2.50/255.255.255.255\ndelete lo0 192.0.2.50\n"
         "packet open 0\npacket bind em0\npacket frame em0 192.0.2.50\npacket frame em0 192.0.2.50\n"
         "packet frame em0 192.0.2.50\nout: \nerr: "},
        {[] { return do_take_ip("em0", "203.0.113.9"); }, // not parked: the loopback is left alone
         "SUCCESS\nroute delete 203.0.113.9\nalias em0 203.0.113.9/255.255.255.255\npacket open 0\n"
         "packet bind em0\npacket frame em0 203.0.113.9\npacket frame em0 203.0.113.9\npacket frame em0 203.0.113.9\n"
         "out: \nerr: "},
        {[] { return do_release_ip("em0", "192.0.2.11", 0); },
         "SUCCESS\ndelete em0 192.0.2.11\nroute delete 192.0.2.11\nalias lo0 192.0.2.11/255.255.255.255\n"
         "out: warning do_release_ip device em0 IP 192.0.2.11 forget 0\nerr: "},
        {[] { return do_release_ip("em0", "192.0.2.11", 0); }, // the warning is said once
         "SUCCESS\ndelete em0 192.0.2.11\nroute delete 192.0.2.11\nalias lo0 192.0.2.11/255.255.255.255\n"
         "out: do_release_ip device em0 IP 192.0.2.11 forget 0\nerr: "},
        {[] { return do_release_ip("ERROR", "192.0.2.50", 1); }, // forgotten: taken off the loopback
         "SUCCESS\ndelete lo0 192.0.2.50\nroute delete 192.0.2.50\nout: do_release_ip device ERROR IP 192.0.2.50 forget 1\nerr: "},
        {[] { return do_release_ip("ERROR", "203.0.113.9", 1); }, // forgotten, but not parked
         "SUCCESS\nout: do_release_ip device ERROR IP 203.0.113.9 forget 1\nerr: "},
        {[] { return queue_release_ip("192.0.2.50", 1); },
         "SUCCESS\ndelete lo0 192.0.2.50\nroute delete 192.0.2.50\nout: \nerr: "},
        {[] { return device_cleanup("em0"); },
         "SUCCESS\ndelete em0 192.0.2.11\ndelete em0 198.51.100.1\nout: \nerr: "},
        {[] { return device_cleanup("lo0") + device_cleanup("em1"); }, "SUCCESSFAIL\ndelete lo0 192.0.2.50\nout: \nerr: "},
    };
    for (const auto& r : rows)
        EXPECT_EQ(requests(r.step), r.want);
    EXPECT_EQ(drain(), "192.0.2.11 192.0.2.11 192.0.2.50 203.0.113.9 192.0.2.50 ");
}

TEST_F(TakeoverSteps, TextThatIsNoAddressIsNotQueuedButTheInterfacesAreStillTidied)
{
    c_ip_init();
    std::string log = requests([] { return do_release_ip("em0", "192.0.2.999", 0); });
    EXPECT_NE(log.find("\nerr: invalid ipaddress (192.0.2.999)\n"), std::string::npos) << log;
    EXPECT_TRUE(log.starts_with("SUCCESS\nout: do_release_ip")) << log; // nothing reached the kernel
    EXPECT_EQ(get_released(), "");
}
