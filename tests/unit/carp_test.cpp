// The ARP table lookup against crafted ARP-table bytes.
#include "carp/carp.hpp"
#include "support/queries.hpp"
#include "support/scripted_kernel.hpp"

using namespace cutil;
using namespace vttest;

using Arp = scripted_kernel;

TEST_F(Arp, AnswersTheFirstResolvedEntryOrReportsWhy)
{
    arp("192.0.2.1", "em0", hw1);
    arp("192.0.2.7", "em0");            // still being resolved: no answer
    arp("192.0.2.7", "em1", vrrp);      // the first resolved entry wins...
    arp("192.0.2.7", "longname1", hw1); // ...over a later one on another interface
    arp("192.0.2.9", "em0");
    const std::string bad = " = ERROR [ERR:: get_arp: called with bad IP address ";
    const std::vector<std::string> lines = {
        "arp 192.0.2.7 = 00:00:5e:00:01:0a", "arp 192.0.2.1 = 02:00:00:00:00:11", "arp 192.0.2.9 = ERROR", "arp 192.0.2.8 = ERROR",
        "arp 0.0.0.0 = ERROR", "arp 255.255.255.255" + bad + "255.255.255.255]", "arp 192.0.2.256" + bad + "192.0.2.256]",
        "arp host" + bad + "host]"};
    EXPECT_EQ(answers(lines), joined(lines));
    EXPECT_EQ(stderr_of([&] { EXPECT_EQ(get_arp(std::string("192.0.2.7\0junk", 14)), "ERROR"); }),
              "ERR:: get_arp: called with bad IP address 192.0.2.7\n");
    kernel.size_errno = EPERM;
    EXPECT_EQ(answers({"arp 192.0.2.7"}), "arp 192.0.2.7 = ERROR [ERR:: get_arp: unable to open mib database]\n");
    kernel.size_errno = 0, kernel.read_errno = ENOMEM;
    EXPECT_EQ(answers({"arp 192.0.2.7"}), "arp 192.0.2.7 = ERROR [ERR:: get_arp: failed to retrive ARP info]\n");
}

TEST_F(Arp, HostileTablesEndTheWalkInsideTheBuffer)
{
    arp("192.0.2.1", "em0", hw1);
    arp("192.0.2.7", "em0", vrrp);
    const bsd::bytes good = kernel.arp;
    const std::uint32_t target = inet_addr("192.0.2.7");
    auto with_u16 = [&](std::size_t at, std::uint16_t v) { bsd::bytes b = good; std::memcpy(b.data() + at, &v, 2); return b; };
    ASSERT_TRUE(find_arp_entry(good, target));
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
