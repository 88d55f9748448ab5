// The interface-list walker, the address decoder and the hardware-address queries, against
// crafted kernel bytes.
#include "cutil/hwaddr.hpp"
#include "support/scripted_kernel.hpp"

using namespace cutil;
using namespace vttest;

namespace {

class IfList : public scripted_kernel {
protected:
    void standard() // fxp0 with two addresses, fxp1 with none, lo0 with one
    {
        link(1, "fxp0", hw0, bsd::iff_up | bsd::iff_broadcast);
        addr(1, "192.0.2.10", "255.255.255.0");
        addr(1, "192.0.2.11", "255.255.255.128");
        link(2, "fxp1", hw1, bsd::iff_broadcast);
        link(3, "lo0", {}, bsd::iff_up | bsd::iff_loopback);
        addr(3, "127.0.0.1", "255.0.0.0");
    }
    device_info info;
};

} // namespace

TEST_F(IfList, ExactNameFindsTheInterfaceItsAddressesAndHardwareAddress)
{
    standard();
    ASSERT_EQ(get_device_info("fxp0", info), 1);
    EXPECT_EQ(decoded_addresses(info), "192.0.2.10/255.255.255.0 192.0.2.11/255.255.255.128 ");
    ASSERT_EQ(get_device_info("fxp1", info), 1);
    EXPECT_EQ(info.addr_count, 0);
    EXPECT_EQ(info.first_addr, nullptr);
    for (const char* near : {"fxp", "fxp00", "lo"})
        EXPECT_EQ(get_device_info(near, info), 0) << near;
    EXPECT_EQ(info.link, nullptr);

    std::uint8_t hw[6];
    ASSERT_EQ(get_hw_addr("fxp1", hw), 1);
    EXPECT_EQ(raw(hw), raw(hw1));
    EXPECT_EQ(get_hw_addr("em0", hw), 0);
    EXPECT_EQ(my_ether_addr("fxp0"), "00:a0:c9:01:02:03");
    EXPECT_EQ(my_ether_addr("lo0"), "00:00:00:00:00:00"); // not the neighbour's bytes
    EXPECT_EQ(my_ether_addr("em0"), "00:00:00:00:00:00");

    std::vector<interface_entry> list;
    ASSERT_TRUE(get_interface_list(list));
    std::string listed;
    for (const auto& e : list)
        listed += e.name + "/" + std::to_string(e.flags) + " ";
    EXPECT_EQ(listed, "fxp0/3 fxp1/2 lo0/9 ");
}

TEST_F(IfList, OutOfSyncMessageAndKernelFailuresAreReported)
{
    link(1, "fxp0", hw0);
    bsd::put_arp_entry(kernel.iflist, {.index = 1, .addr = inet_addr("192.0.2.1"), .ifname = "fxp0"});
    link(2, "fxp1", hw1);
    EXPECT_EQ(get_device_info("fxp0", info), 1);
    std::vector<interface_entry> list;
    stderr_of([&] { EXPECT_FALSE(get_interface_list(list)); });
    std::string err = stderr_of([&] { EXPECT_EQ(get_device_info("fxp1", info), 0); });
    EXPECT_TRUE(err.starts_with("ERR (")) << err;
    EXPECT_NE(err.find("):: get_device_info: out of sync parsing NET_RT_IFLIST. expected 14, got 4. msglen = 164. buf:"),
              std::string::npos) << err;

    kernel.size_errno = ENOMEM;
    err = stderr_of([&] { EXPECT_EQ(get_device_info("fxp0", info), 0); });
    EXPECT_NE(err.find("get_device_info: failed to get iflist-sysctl-estimate\n"), std::string::npos) << err;
    kernel.size_errno = 0;
    kernel.read_errno = ENOMEM;
    err = stderr_of([&] { EXPECT_EQ(get_device_info("fxp0", info), 0); });
    EXPECT_NE(err.find("get_device_info: actual retrieval of interface table failed\n"), std::string::npos) << err;
}

TEST_F(IfList, HostileLengthsEndTheWalkInsideTheBuffer)
{
    standard();
    const bsd::bytes good = kernel.iflist;
    auto found_with = [&](std::size_t at, std::initializer_list<std::uint8_t> patch, const char* name) {
        kernel.iflist = good;
        std::memcpy(kernel.iflist.data() + at, patch.begin(), patch.size());
        return get_device_info(name, info);
    };
    EXPECT_EQ(found_with(0, {0, 0}, "fxp0"), 0);             // zero length at the first message
    EXPECT_EQ(found_with(96 + 56, {0xff, 0xff}, "fxp0"), 0); // an address message claiming more than there is
    EXPECT_EQ(found_with(96 + 56, {4, 0}, "fxp0"), 0);       // an address message shorter than its header
    const std::size_t fxp1_nlen = 96 + 56 + 2 * 44 + 96 + 5;
    ASSERT_EQ(std::to_integer<int>(good[fxp1_nlen]), 4);
    EXPECT_EQ(found_with(fxp1_nlen, {200}, "fxp1"), 0);      // a name length past the message
    EXPECT_EQ(get_device_info("fxp0", info), 1);

    // Truncated anywhere: the sanitizer build watches for reads past the end.
    for (std::size_t cut = 0; cut < good.size(); cut += 3) {
        kernel.iflist.assign(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut));
        std::uint8_t hw[6];
        stderr_of([&] { get_device_info("lo0", info), get_hw_addr("fxp1", hw); });
    }
}

TEST(RtXaddrs, SlotsFollowTheMaskAndTheRoundedLengths)
{
    bsd::bytes b, z(4); // z: a zero-length netmask, which takes 4 bytes
    bsd::put_sockaddr_in(b, inet_addr("255.255.255.0"), 8);
    bsd::put_sockaddr_in(b, inet_addr("192.0.2.10"));
    bsd::put_sockaddr_in(b, inet_addr("192.0.2.255"));
    bsd::put_sockaddr_in(z, inet_addr("192.0.2.10"));
    rt_addrinfo ai;
    ai.rti_addrs = bsd::rta_netmask | bsd::rta_ifa | bsd::rta_brd;
    ai.rti_info[bsd::rtax_dst] = b.data();
    rt_xaddrs(b.data(), b.data() + b.size(), ai);
    EXPECT_EQ(ai.rti_info[bsd::rtax_dst], nullptr); // cleared, and not in the mask
    EXPECT_EQ(ai.rti_info[bsd::rtax_netmask], b.data());
    EXPECT_EQ(ai.rti_info[bsd::rtax_ifa], b.data() + 8);
    EXPECT_EQ(ai.rti_info[bsd::rtax_brd], b.data() + 24);
    rt_xaddrs(b.data(), b.data() + 20, ai); // the address runs past the end: neither it nor what follows
    EXPECT_EQ(ai.rti_info[bsd::rtax_netmask], b.data());
    EXPECT_EQ(ai.rti_info[bsd::rtax_ifa], nullptr);
    EXPECT_EQ(ai.rti_info[bsd::rtax_brd], nullptr);

    rt_xaddrs(z.data(), z.data() + z.size(), ai);
    EXPECT_EQ(ai.rti_info[bsd::rtax_ifa], z.data() + 4);
    EXPECT_EQ(sockaddr_in_addr(ai.rti_info[bsd::rtax_netmask]), 0u);
    const std::uint8_t sa[8]{6, 2, 0, 0, 255, 255, 0xEE, 0xEE}; // trailing zero bytes trimmed
    EXPECT_EQ(sockaddr_in_addr(reinterpret_cast<const std::byte*>(sa)), inet_addr("255.255.0.0"));
}
