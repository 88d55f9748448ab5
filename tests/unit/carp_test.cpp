// The ARP table lookup against crafted ARP-table bytes.
#include "carp/carp.hpp"
#include "support/scripted_kernel.hpp"

using namespace cutil;
using namespace vttest;

using Arp = scripted_kernel;

TEST_F(Arp, AnswersTheRawBytesOfTheFirstResolvedEntry)
{
    arp("192.0.2.1", "em0", hw1);
    arp("192.0.2.7", "em0");          // still being resolved: no answer
    arp("192.0.2.7", "em1", vrrp);    // the first resolved entry wins...
    arp("192.0.2.7", "longname1", hw1); // ...over a later one on another interface
    arp("192.0.2.9", "em0");
    for (auto [a, want] : {std::pair{"192.0.2.7", raw(vrrp)}, {"192.0.2.1", raw(hw1)}, {"192.0.2.9", "ERROR"},
                           {"192.0.2.8", "ERROR"}, {"0.0.0.0", "ERROR"}})
        EXPECT_EQ(stderr_of([&] { EXPECT_EQ(get_arp(a), want) << a; }), "");
}

TEST_F(Arp, BadAddressAndUnreadableTableAreReported)
{
    for (std::string bad : {"255.255.255.255", "192.0.2.256", "host"})
        EXPECT_EQ(stderr_of([&] { EXPECT_EQ(get_arp(bad), "ERROR"); }), "ERR:: get_arp: called with bad IP address " + bad + "\n");
    EXPECT_EQ(stderr_of([&] { EXPECT_EQ(get_arp(std::string("192.0.2.7\0junk", 14)), "ERROR"); }),
              "ERR:: get_arp: called with bad IP address 192.0.2.7\n");
    kernel.size_errno = EPERM;
    EXPECT_EQ(stderr_of([&] { EXPECT_EQ(get_arp("192.0.2.7"), "ERROR"); }), "ERR:: get_arp: unable to open mib database\n");
    kernel.size_errno = 0;
    kernel.read_errno = ENOMEM;
    EXPECT_EQ(stderr_of([&] { EXPECT_EQ(get_arp("192.0.2.7"), "ERROR"); }), "ERR:: get_arp: failed to retrive ARP info\n");
}

TEST_F(Arp, HostileTablesEndTheWalkInsideTheBuffer)
{
    arp("192.0.2.1", "em0", hw1);
    arp("192.0.2.7", "em0", vrrp);
    const bsd::bytes good = kernel.arp;
    const std::uint32_t target = inet_addr("192.0.2.7");
    ASSERT_TRUE(find_arp_entry(good, target));
    auto with_u16 = [&](std::size_t at, std::uint16_t v) { bsd::bytes b = good; std::memcpy(b.data() + at, &v, 2); return b; };
    EXPECT_FALSE(find_arp_entry(with_u16(0, 0), target));        // zero length: nothing after it is trusted
    EXPECT_FALSE(find_arp_entry(with_u16(164, 0xfff0), target)); // longer than the table
    bsd::bytes b = good;
    b[164 + 113] = std::byte{60}; // a name length that puts the address past the message
    EXPECT_FALSE(find_arp_entry(b, target));

    b = with_u16(0, 100); // a message too short to hold its addresses is stepped over
    b.resize(100);
    bsd::put_arp_entry(b, {.index = 1, .addr = target, .ifname = "em0", .hw = vrrp});
    EXPECT_TRUE(find_arp_entry(b, target));

    for (std::size_t cut = 0; cut < good.size(); ++cut)
        EXPECT_FALSE(find_arp_entry(std::span(good).first(cut), target)) << cut;
}
