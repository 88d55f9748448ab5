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
