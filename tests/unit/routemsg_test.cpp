// The FreeBSD messages the Linux backend builds (lengths, slots, padding, the link-level tail)
// and the loopback name mapping. Field offsets are held by the static_asserts in bsd.hpp.
#include "platform/ifname.hpp"
#include "support/scripted_kernel.hpp"

using namespace cutil;

namespace {

int at(const bsd::bytes& b, std::size_t i) { return std::to_integer<int>(b.at(i)); }
std::uint16_t u16(const bsd::bytes& b, std::size_t i) { return bsd::load<std::uint16_t>(b.data() + i); }
std::uint32_t u32(const bsd::bytes& b, std::size_t i) { return bsd::load<std::uint32_t>(b.data() + i); }

} // namespace

TEST(RouteMessages, LengthsSlotsAndTails)
{
    bsd::bytes ifm, ifa, bare, arp, incomplete;
    bsd::put_if_msg(ifm, {.index = 3, .name = "fxp0", .hw = vttest::hw0});
    ASSERT_EQ(ifm.size(), 96u + 56u);
    EXPECT_EQ(u16(ifm, 0), 152);
    EXPECT_EQ(at(ifm, 96), 56);                                          // sdl_len, padded as the kernel does
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(ifm.data() + 104), 10), "fxp0" + vttest::raw(vttest::hw0));
    EXPECT_EQ(at(ifm, 114), 0);

    bsd::put_ifa_msg(ifa, {.addr = inet_addr("192.0.2.10"), .netmask = inet_addr("255.255.255.0"), .has_brd = true,
                           .brd = inet_addr("192.0.2.255")});
    ASSERT_EQ(ifa.size(), 20u + 8u + 16u + 16u);
    EXPECT_EQ(u16(ifa, 0), 60);
    EXPECT_EQ(u32(ifa, 4), static_cast<std::uint32_t>(bsd::rta_netmask | bsd::rta_ifa | bsd::rta_brd));
    EXPECT_EQ(at(ifa, 20), 8);                                           // the short netmask first
    EXPECT_EQ(u32(ifa, 24), inet_addr("255.255.255.0"));
    EXPECT_EQ(u32(ifa, 32), inet_addr("192.0.2.10"));
    EXPECT_EQ(u32(ifa, 48), inet_addr("192.0.2.255"));
    bsd::put_ifa_msg(bare, {.addr = inet_addr("192.0.2.10"), .has_netmask = false});
    EXPECT_EQ(u16(bare, 0), 36);
    EXPECT_EQ(u32(bare, 4), static_cast<std::uint32_t>(bsd::rta_ifa));

    bsd::put_arp_entry(arp, {.addr = inet_addr("198.51.100.7"), .ifname = "em0", .hw = vttest::vrrp});
    bsd::put_arp_entry(incomplete, {.addr = inet_addr("198.51.100.8"), .ifname = "em0"});
    for (auto* b : {&arp, &incomplete}) {
        ASSERT_EQ(b->size(), 164u);
        EXPECT_EQ(u16(*b, 0), 164);
        EXPECT_EQ(u32(*b, 12), static_cast<std::uint32_t>(bsd::rta_dst | bsd::rta_gateway));
        EXPECT_EQ(at(*b, 113), 3);                                       // sdl_nlen
    }
    EXPECT_EQ(u32(arp, 96), inet_addr("198.51.100.7"));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(arp.data() + 119), 6), vttest::raw(vttest::vrrp));
    EXPECT_EQ(at(arp, 114), 6);                                          // sdl_alen
    EXPECT_EQ(at(incomplete, 114), 0);
}

TEST(LoopbackName, OnlyTheLoopbackAndItsAliasesAreTranslated)
{
    using platform::host_ifname, platform::product_ifname;
    for (auto [host, product] : {std::pair{"lo", "lo0"}, {"lo:1", "lo0:1"}, {"long0", "long0"}, {"eth0", "eth0"}})
        EXPECT_EQ(product_ifname(host, "lo"), product);
    for (auto [product, host] : {std::pair{"lo0", "lo"}, {"lo0:2", "lo:2"}, {"lo01", "lo01"}, {"lo", "lo"}})
        EXPECT_EQ(host_ifname(product, "lo"), host);
}
