// The FreeBSD messages the Linux backend builds, byte for byte, and the loopback name mapping.
#include "platform/ifname.hpp"
#include "platform/routemsg.hpp"

#include <arpa/inet.h>
#include <gtest/gtest.h>

using namespace cutil;

namespace {

std::uint8_t at(const bsd::bytes& b, std::size_t i) { return std::to_integer<std::uint8_t>(b.at(i)); }
std::uint16_t u16(const bsd::bytes& b, std::size_t i) { return bsd::load<std::uint16_t>(b.data() + i); }
std::uint32_t u32(const bsd::bytes& b, std::size_t i) { return bsd::load<std::uint32_t>(b.data() + i); }

} // namespace

TEST(RouteMessages, InterfaceMessageIsHeaderThenPaddedLinkAddress)
{
    const std::uint8_t hw[6]{0x00, 0xa0, 0xc9, 0x01, 0x02, 0x03};
    bsd::bytes out;
    bsd::put_if_msg(out, {.index = 3, .flags = 0x8843, .type = bsd::ift_ether, .mtu = 1500, .running = true,
                          .name = "fxp0", .hw = hw});
    ASSERT_EQ(out.size(), 96u + 56u);
    EXPECT_EQ(u16(out, 0), 152);
    EXPECT_EQ(at(out, 2), 5);   // version
    EXPECT_EQ(at(out, 3), 14);  // RTM_IFINFO
    EXPECT_EQ(u32(out, 4), 0x10u); // RTA_IFP
    EXPECT_EQ(u32(out, 8), 0x8843u);
    EXPECT_EQ(u16(out, 12), 3);
    EXPECT_EQ(at(out, 16), 6);  // ifi_type
    EXPECT_EQ(at(out, 18), 6);  // ifi_addrlen
    EXPECT_EQ(u32(out, 24), 1500u);
    // sockaddr_dl at 96
    EXPECT_EQ(at(out, 96), 56);
    EXPECT_EQ(at(out, 97), 18);
    EXPECT_EQ(u16(out, 98), 3);
    EXPECT_EQ(at(out, 101), 4); // nlen
    EXPECT_EQ(at(out, 102), 6); // alen
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.data() + 104), 4), "fxp0");
    EXPECT_EQ(at(out, 108), 0x00);
    EXPECT_EQ(at(out, 109), 0xa0);
    EXPECT_EQ(at(out, 113), 0x03);
    EXPECT_EQ(at(out, 114), 0);
}

TEST(RouteMessages, AddressMessageCarriesShortNetmaskAddressAndBroadcastInSlotOrder)
{
    bsd::bytes out;
    bsd::put_ifa_msg(out, {.index = 2, .addr = inet_addr("192.0.2.10"), .netmask = inet_addr("255.255.255.0"),
                           .has_brd = true, .brd = inet_addr("192.0.2.255")});
    ASSERT_EQ(out.size(), 20u + 8u + 16u + 16u);
    EXPECT_EQ(u16(out, 0), 60);
    EXPECT_EQ(at(out, 3), 12);
    EXPECT_EQ(u32(out, 4), 0x4u | 0x20u | 0x80u);
    EXPECT_EQ(u16(out, 12), 2);
    EXPECT_EQ(at(out, 20), 8);
    EXPECT_EQ(at(out, 21), 2);
    EXPECT_EQ(u32(out, 24), inet_addr("255.255.255.0"));
    EXPECT_EQ(at(out, 28), 16);
    EXPECT_EQ(u32(out, 32), inet_addr("192.0.2.10"));
    EXPECT_EQ(u32(out, 48), inet_addr("192.0.2.255"));

    bsd::bytes bare;
    bsd::put_ifa_msg(bare, {.index = 2, .addr = inet_addr("192.0.2.10"), .has_netmask = false});
    EXPECT_EQ(u16(bare, 0), 36);
    EXPECT_EQ(u32(bare, 4), 0x20u);
}

TEST(RouteMessages, ArpEntryIs164BytesWithAddressesAtFixedOffsets)
{
    const std::uint8_t hw[6]{0x00, 0x00, 0x5e, 0x00, 0x01, 0x0a};
    bsd::bytes out;
    bsd::put_arp_entry(out, {.index = 4, .addr = inet_addr("198.51.100.7"), .ifname = "em0", .hw = hw});
    ASSERT_EQ(out.size(), 164u);
    EXPECT_EQ(u16(out, 0), 164);
    EXPECT_EQ(at(out, 3), 4); // RTM_GET
    EXPECT_EQ(u32(out, 8) & 0x400u, 0x400u);
    EXPECT_EQ(u32(out, 12), 0x3u);
    EXPECT_EQ(at(out, 92), 16);
    EXPECT_EQ(u32(out, 96), inet_addr("198.51.100.7"));
    EXPECT_EQ(at(out, 108), 56);
    EXPECT_EQ(at(out, 113), 3);
    EXPECT_EQ(at(out, 114), 6);
    EXPECT_EQ(at(out, 119), 0x00);
    EXPECT_EQ(at(out, 121), 0x5e);
    EXPECT_EQ(at(out, 124), 0x0a);

    bsd::bytes incomplete;
    bsd::put_arp_entry(incomplete, {.index = 4, .addr = inet_addr("198.51.100.8"), .ifname = "em0"});
    EXPECT_EQ(incomplete.size(), 164u);
    EXPECT_EQ(at(incomplete, 114), 0);
}

TEST(LoopbackName, OnlyTheLoopbackAndItsAliasesAreTranslated)
{
    using platform::host_ifname, platform::product_ifname;
    EXPECT_EQ(product_ifname("lo", "lo"), "lo0");
    EXPECT_EQ(product_ifname("lo:1", "lo"), "lo0:1");
    EXPECT_EQ(product_ifname("long0", "lo"), "long0");
    EXPECT_EQ(product_ifname("eth0", "lo"), "eth0");
    EXPECT_EQ(host_ifname("lo0", "lo"), "lo");
    EXPECT_EQ(host_ifname("lo0:2", "lo"), "lo:2");
    EXPECT_EQ(host_ifname("lo01", "lo"), "lo01");
    EXPECT_EQ(host_ifname("lo", "lo"), "lo");
}
