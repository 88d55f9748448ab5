// The interface-list walker, the address decoder and the hardware-address queries, against
// crafted kernel bytes.
#include "cutil/hwaddr.hpp"
#include "cutil/iflist.hpp"
#include "platform/fake.hpp"
#include "platform/routemsg.hpp"

#include <arpa/inet.h>
#include <gtest/gtest.h>

using namespace cutil;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

const std::uint8_t hw0[6]{0x00, 0xa0, 0xc9, 0x01, 0x02, 0x03};
const std::uint8_t hw1[6]{0x02, 0x00, 0x00, 0x00, 0x00, 0x11};

void add_link(bsd::bytes& out, std::uint16_t index, std::string_view name, std::span<const std::uint8_t> hw)
{
    bsd::put_if_msg(out, {.index = index, .flags = 0x8843, .name = name, .hw = hw});
}

void add_addr(bsd::bytes& out, std::uint16_t index, const char* addr, const char* mask)
{
    bsd::put_ifa_msg(out, {.index = index, .addr = inet_addr(addr), .netmask = inet_addr(mask)});
}

void set_u16(bsd::bytes& b, std::size_t at, std::uint16_t v) { std::memcpy(b.data() + at, &v, 2); }

class IfList : public testing::Test {
protected:
    platform::fake_backend kernel;
    platform::scoped_backend use{kernel};

    // fxp0 with two addresses, fxp1 with none, lo0 with one.
    void standard()
    {
        add_link(kernel.iflist, 1, "fxp0", hw0);
        add_addr(kernel.iflist, 1, "192.0.2.10", "255.255.255.0");
        add_addr(kernel.iflist, 1, "192.0.2.11", "255.255.255.128");
        add_link(kernel.iflist, 2, "fxp1", hw1);
        add_link(kernel.iflist, 3, "lo0", {});
        add_addr(kernel.iflist, 3, "127.0.0.1", "255.0.0.0");
    }
};

} // namespace

TEST_F(IfList, FindsInterfaceByExactNameWithItsAddressMessages)
{
    standard();
    device_info info;
    ASSERT_EQ(get_device_info("fxp0", info), 1);
    EXPECT_EQ(info.addr_count, 2);
    ASSERT_NE(info.first_addr, nullptr);
    EXPECT_EQ(std::to_integer<int>(info.first_addr[3]), 12);

    // Decode both address messages as a caller does.
    const std::byte* msg = info.first_addr;
    const char* want[2][2]{{"192.0.2.10", "255.255.255.0"}, {"192.0.2.11", "255.255.255.128"}};
    for (auto& w : want) {
        rt_addrinfo ai;
        ai.rti_addrs = bsd::load<bsd::ifa_msghdr>(msg).ifam_addrs;
        rt_xaddrs(msg + sizeof(bsd::ifa_msghdr), msg + msglen_at(msg), ai);
        ASSERT_NE(ai.rti_info[bsd::rtax_ifa], nullptr);
        ASSERT_NE(ai.rti_info[bsd::rtax_netmask], nullptr);
        EXPECT_EQ(sockaddr_in_addr(ai.rti_info[bsd::rtax_ifa]), inet_addr(w[0]));
        EXPECT_EQ(sockaddr_in_addr(ai.rti_info[bsd::rtax_netmask]), inet_addr(w[1]));
        msg += msglen_at(msg);
    }

    ASSERT_EQ(get_device_info("fxp1", info), 1);
    EXPECT_EQ(info.addr_count, 0);
    EXPECT_EQ(info.first_addr, nullptr);

    EXPECT_EQ(get_device_info("fxp", info), 0);
    EXPECT_EQ(get_device_info("fxp00", info), 0);
    EXPECT_EQ(get_device_info("lo", info), 0);
    EXPECT_EQ(info.link, nullptr);
    EXPECT_TRUE(info.snapshot.empty());
}

TEST_F(IfList, HardwareAddressOfOwnInterfaces)
{
    standard();
    std::uint8_t hw[6];
    ASSERT_EQ(get_hw_addr("fxp1", hw), 1);
    EXPECT_EQ(std::memcmp(hw, hw1, 6), 0);
    EXPECT_EQ(my_ether_addr("fxp0"), "00:a0:c9:01:02:03");
    EXPECT_EQ(my_ether_addr("lo0"), "00:00:00:00:00:00"); // no hardware address: zeros, not neighbours' bytes
    EXPECT_EQ(my_ether_addr("em0"), "00:00:00:00:00:00");
    EXPECT_EQ(get_hw_addr("em0", hw), 0);
    const std::uint8_t vrrp[6]{0x00, 0x00, 0x5e, 0x00, 0x01, 0x0a};
    EXPECT_STREQ(ether_sprintf(vrrp), "00:00:5e:00:01:0a");
}

TEST_F(IfList, OutOfSyncMessageIsReported)
{
    add_link(kernel.iflist, 1, "fxp0", hw0);
    bsd::put_arp_entry(kernel.iflist, {.index = 1, .addr = inet_addr("192.0.2.1"), .ifname = "fxp0"});
    add_link(kernel.iflist, 2, "fxp1", hw1);
    device_info info;
    CaptureStderr();
    EXPECT_EQ(get_device_info("fxp1", info), 0);
    std::string err = GetCapturedStderr();
    EXPECT_NE(err.find("):: get_device_info: out of sync parsing NET_RT_IFLIST. expected 14, got 4. msglen = 164. buf:"),
              std::string::npos) << err;
    EXPECT_TRUE(err.starts_with("ERR ("));
    // The interface before the stray message is still found.
    EXPECT_EQ(get_device_info("fxp0", info), 1);
}

TEST_F(IfList, KernelFailuresAreReportedWithTheirStep)
{
    device_info info;
    kernel.size_errno = ENOMEM;
    CaptureStderr();
    EXPECT_EQ(get_device_info("fxp0", info), 0);
    EXPECT_NE(GetCapturedStderr().find("get_device_info: failed to get iflist-sysctl-estimate\n"), std::string::npos);
    kernel.size_errno = 0;
    kernel.read_errno = ENOMEM;
    CaptureStderr();
    EXPECT_EQ(get_device_info("fxp0", info), 0);
    EXPECT_NE(GetCapturedStderr().find("get_device_info: actual retrieval of interface table failed\n"), std::string::npos);
}

TEST_F(IfList, HostileLengthsEndTheWalkInsideTheBuffer)
{
    standard();
    const bsd::bytes good = kernel.iflist;
    std::size_t fxp1_at = 96 + 56 + 2 * 44; // fxp0, its two address messages (20 + 8 + 16 each)
    ASSERT_EQ(std::to_integer<int>(good[fxp1_at + 3]), 14);
    device_info info;

    kernel.iflist = good;
    set_u16(kernel.iflist, 0, 0); // zero length at the first message
    EXPECT_EQ(get_device_info("fxp0", info), 0);

    kernel.iflist = good;
    set_u16(kernel.iflist, 96 + 56, 0xffff); // an address message claiming more than there is
    EXPECT_EQ(get_device_info("fxp0", info), 0);

    kernel.iflist = good;
    set_u16(kernel.iflist, 96 + 56, 4); // an address message shorter than its header
    EXPECT_EQ(get_device_info("fxp0", info), 0);

    kernel.iflist = good;
    kernel.iflist[fxp1_at + 96 + 5] = std::byte{200}; // a name length past the message
    EXPECT_EQ(get_device_info("fxp1", info), 0);
    EXPECT_EQ(get_device_info("fxp0", info), 1);

    // Truncated anywhere: never a read past the end (the sanitizer build watches this).
    for (std::size_t cut = 0; cut < good.size(); cut += 3) {
        kernel.iflist.assign(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut));
        CaptureStderr();
        get_device_info("lo0", info);
        std::uint8_t hw[6];
        get_hw_addr("fxp1", hw);
        GetCapturedStderr();
    }
}

TEST(RtXaddrs, SlotsFollowTheMaskAndTheRoundedLengths)
{
    bsd::bytes b;
    bsd::put_sockaddr_in(b, inet_addr("255.255.255.0"), 8); // netmask, 8 bytes
    bsd::put_sockaddr_in(b, inet_addr("192.0.2.10"));        // interface address
    bsd::put_sockaddr_in(b, inet_addr("192.0.2.255"));       // broadcast
    const std::byte* end = b.data() + b.size();

    rt_addrinfo ai;
    ai.rti_addrs = 0;
    ai.rti_info[0] = b.data();
    rt_xaddrs(b.data(), end, ai);
    for (auto* slot : ai.rti_info)
        EXPECT_EQ(slot, nullptr);

    ai.rti_addrs = bsd::rta_netmask | bsd::rta_ifa | bsd::rta_brd;
    rt_xaddrs(b.data(), end, ai);
    EXPECT_EQ(ai.rti_info[bsd::rtax_netmask], b.data());
    EXPECT_EQ(ai.rti_info[bsd::rtax_ifa], b.data() + 8);
    EXPECT_EQ(ai.rti_info[bsd::rtax_brd], b.data() + 24);
    EXPECT_EQ(ai.rti_info[bsd::rtax_dst], nullptr);
    EXPECT_EQ(sockaddr_in_addr(ai.rti_info[bsd::rtax_brd]), inet_addr("192.0.2.255"));

    // A zero-length netmask takes 4 bytes; the next address starts after them.
    bsd::bytes z(4);
    bsd::put_sockaddr_in(z, inet_addr("192.0.2.10"));
    ai.rti_addrs = bsd::rta_netmask | bsd::rta_ifa;
    rt_xaddrs(z.data(), z.data() + z.size(), ai);
    EXPECT_EQ(ai.rti_info[bsd::rtax_netmask], z.data());
    EXPECT_EQ(ai.rti_info[bsd::rtax_ifa], z.data() + 4);
    EXPECT_EQ(sockaddr_in_addr(ai.rti_info[bsd::rtax_netmask]), 0u);

    // An address running past the end is not handed out, nor anything after it.
    ai.rti_addrs = bsd::rta_netmask | bsd::rta_ifa | bsd::rta_brd;
    rt_xaddrs(b.data(), b.data() + 20, ai);
    EXPECT_EQ(ai.rti_info[bsd::rtax_netmask], b.data());
    EXPECT_EQ(ai.rti_info[bsd::rtax_ifa], nullptr);
    EXPECT_EQ(ai.rti_info[bsd::rtax_brd], nullptr);
}

TEST(SockaddrIn, ShortNetmasksReadOnlyTheirBytes)
{
    // The kernel trims trailing zero bytes of a netmask: length 6 holds 255.255.0.0.
    const std::uint8_t sa[8]{6, 2, 0, 0, 255, 255, 0xEE, 0xEE};
    EXPECT_EQ(sockaddr_in_addr(reinterpret_cast<const std::byte*>(sa)), inet_addr("255.255.0.0"));
    const std::uint8_t none[4]{0, 0, 0xEE, 0xEE};
    EXPECT_EQ(sockaddr_in_addr(reinterpret_cast<const std::byte*>(none)), 0u);
}
