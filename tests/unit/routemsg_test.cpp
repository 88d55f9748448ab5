// What the walkers do not check of the FreeBSD messages the Linux backend builds: lengths,
// address masks, padding and slot order (field offsets are held by static_asserts in bsd.hpp).
// Also the loopback name mapping.
#include "platform/ifname.hpp"
#include "support/scripted_kernel.hpp"

using namespace cutil;

namespace {

int at(const bsd::bytes& b, std::size_t i) { return std::to_integer<int>(b.at(i)); }
std::uint32_t u32(const bsd::bytes& b, std::size_t i) { return bsd::load<std::uint32_t>(b.data() + i); }

} // namespace

TEST(RouteMessages, LengthsMasksPaddingAndSlotOrder)
{
    bsd::bytes ifm, ifa, bare, arp, incomplete;
    bsd::put_if_msg(ifm, {.name = "fxp0", .hw = vttest::hw0});
    bsd::put_ifa_msg(ifa, {.addr = inet_addr("192.0.2.10"), .netmask = inet_addr("255.255.255.0"), .has_brd = true,
                           .brd = inet_addr("192.0.2.255")});
    bsd::put_ifa_msg(bare, {.addr = inet_addr("192.0.2.10"), .has_netmask = false});
    bsd::put_arp_entry(arp, {.addr = inet_addr("198.51.100.7"), .ifname = "em0", .hw = vttest::vrrp});
    bsd::put_arp_entry(incomplete, {.addr = inet_addr("198.51.100.8"), .ifname = "em0"});
    struct { const bsd::bytes& b; std::size_t size; std::size_t addrs_at; int addrs; } msgs[]{
        {ifm, 96 + 56, 4, bsd::rta_ifp},
        {ifa, 20 + 8 + 16 + 16, 4, bsd::rta_netmask | bsd::rta_ifa | bsd::rta_brd},
        {bare, 20 + 16, 4, bsd::rta_ifa},
        {arp, 164, 12, bsd::rta_dst | bsd::rta_gateway},
        {incomplete, 164, 12, bsd::rta_dst | bsd::rta_gateway},
    };
    for (auto& m : msgs) {
        ASSERT_EQ(m.b.size(), m.size);
        EXPECT_EQ(bsd::load<std::uint16_t>(m.b.data()), m.size);
        EXPECT_EQ(u32(m.b, m.addrs_at), static_cast<std::uint32_t>(m.addrs)) << m.size;
    }
    EXPECT_EQ(at(ifm, 96), 56); // sdl_len, padded as the kernel does
    EXPECT_EQ(at(ifa, 20), 8);  // the short netmask first, then the address and the broadcast
    EXPECT_EQ(u32(ifa, 24), inet_addr("255.255.255.0"));
    EXPECT_EQ(u32(ifa, 32), inet_addr("192.0.2.10"));
    EXPECT_EQ(u32(ifa, 48), inet_addr("192.0.2.255"));
    EXPECT_EQ(at(arp, 114), 6); // sdl_alen
    EXPECT_EQ(at(incomplete, 114), 0);
}

TEST(LoopbackName, TheTwoLoopbackNamesTradePlacesAndNothingElseIsTranslated)
{
    using platform::host_ifname, platform::product_ifname;
    // The host's "lo" is not a product name: it names the host's "lo0", which is usually absent.
    for (auto [host, product] : {std::pair{"lo", "lo0"}, {"lo:1", "lo0:1"}, {"lo0", "lo"}, {"lo0:3", "lo:3"},
                                 {"long0", "long0"}, {"lo1", "lo1"}, {"eth0", "eth0"}}) {
        EXPECT_EQ(product_ifname(host, "lo"), product);
        EXPECT_EQ(host_ifname(product, "lo"), host);
    }
}
