// The interface-list walker, the address decoder and the hardware-address queries, against
// crafted kernel bytes.
#include "cutil/hwaddr.hpp"
#include "support/queries.hpp"
#include "support/scripted_kernel.hpp"

using namespace cutil;
using namespace vttest;

namespace {

class IfList : public scripted_kernel {
protected:
    void SetUp() override // fxp0 with two addresses, fxp1 with none, lo0 with one
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
    const std::vector<std::string> lines = {
        "addresses fxp0 = 192.0.2.10/255.255.255.0 192.0.2.11/255.255.255.128 ", "addresses fxp1 = ", "addresses fxp = none",
        "addresses fxp00 = none", "addresses lo = none", "hw fxp0 = 00:a0:c9:01:02:03", "hw fxp1 = 02:00:00:00:00:11",
        "hw lo0 = 00:00:00:00:00:00" /* not the neighbour's bytes */, "hw em0 = 00:00:00:00:00:00"};
    EXPECT_EQ(answers(lines), joined(lines));
    EXPECT_EQ(get_device_info("fxp", info), 0);
    EXPECT_EQ(info.link, nullptr);
    ASSERT_EQ(get_device_info("fxp1", info), 1);
    EXPECT_EQ(info.first_addr, nullptr);

    std::vector<interface_entry> list;
    ASSERT_TRUE(get_interface_list(list));
    std::string listed;
    for (const auto& e : list)
        listed += e.name + "/" + std::to_string(e.flags) + " ";
    EXPECT_EQ(listed, "fxp0/3 fxp1/2 lo0/9 ");
}

TEST_F(IfList, OutOfSyncMessageAndKernelFailuresAreReported)
{
    bsd::bytes iflist = kernel.iflist;
    kernel.iflist.resize(96 + 56 + 2 * 44);
    bsd::put_arp_entry(kernel.iflist, {.index = 1, .addr = inet_addr("192.0.2.1"), .ifname = "fxp0"});
    kernel.iflist.insert(kernel.iflist.end(), iflist.begin() + 96 + 56 + 2 * 44, iflist.end());
    EXPECT_EQ(get_device_info("fxp0", info), 1);
    std::vector<interface_entry> list;
    console_of([&] { EXPECT_FALSE(get_interface_list(list)); });
    std::string err = console_of([&] { EXPECT_EQ(get_device_info("fxp1", info), 0); }).err;
    EXPECT_NE(timeless(err).find("ERR (T):: get_device_info: out of sync parsing NET_RT_IFLIST. expected 14, got 4. msglen = 164. buf:"),
              std::string::npos) << err;
    for (auto [size_errno, read_errno, report] : {std::tuple{ENOMEM, 0, "failed to get iflist-sysctl-estimate\n"},
                                                  {0, ENOMEM, "actual retrieval of interface table failed\n"}}) {
        kernel.size_errno = size_errno, kernel.read_errno = read_errno;
        err = console_of([&] { EXPECT_EQ(get_device_info("fxp0", info), 0); }).err;
        EXPECT_EQ(timeless(err), std::string("ERR (T):: get_device_info: ") + report);
    }
}

TEST_F(IfList, HostileLengthsEndTheWalkInsideTheBuffer)
{
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
        console_of([&] { get_device_info("lo0", info), get_hw_addr("fxp1", hw); });
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
    const auto slots = [&] {
        return std::vector<const std::byte*>{ai.rti_info[bsd::rtax_dst], ai.rti_info[bsd::rtax_netmask], ai.rti_info[bsd::rtax_ifa],
                                             ai.rti_info[bsd::rtax_brd]};
    };
    rt_xaddrs(b.data(), b.data() + b.size(), ai); // the destination is cleared: not in the mask
    EXPECT_EQ(slots(), (std::vector<const std::byte*>{nullptr, b.data(), b.data() + 8, b.data() + 24}));
    rt_xaddrs(b.data(), b.data() + 20, ai); // the address runs past the end: neither it nor what follows
    EXPECT_EQ(slots(), (std::vector<const std::byte*>{nullptr, b.data(), nullptr, nullptr}));
    rt_xaddrs(z.data(), z.data() + z.size(), ai);
    EXPECT_EQ(ai.rti_info[bsd::rtax_ifa], z.data() + 4);
    EXPECT_EQ(sockaddr_in_addr(ai.rti_info[bsd::rtax_netmask]), 0u);
    const std::uint8_t sa[8]{6, 2, 0, 0, 255, 255, 0xEE, 0xEE}; // trailing zero bytes trimmed
    EXPECT_EQ(sockaddr_in_addr(reinterpret_cast<const std::byte*>(sa)), inet_addr("255.255.0.0"));
}
