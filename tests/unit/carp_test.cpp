// The ARP table lookup against crafted ARP-table bytes.
#include "carp/carp.hpp"
#include "platform/fake.hpp"
#include "platform/routemsg.hpp"

#include <arpa/inet.h>
#include <gtest/gtest.h>

using namespace cutil;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

const std::uint8_t vrrp[6]{0x00, 0x00, 0x5e, 0x00, 0x01, 0x0a};
const std::uint8_t other[6]{0x02, 0x11, 0x22, 0x33, 0x44, 0x55};

std::string raw(const std::uint8_t* hw) { return std::string(reinterpret_cast<const char*>(hw), 6); }

class Arp : public testing::Test {
protected:
    platform::fake_backend kernel;
    platform::scoped_backend use{kernel};

    void entry(const char* addr, std::string_view ifname, std::span<const std::uint8_t> hw)
    {
        bsd::put_arp_entry(kernel.arp, {.index = 1, .addr = inet_addr(addr), .ifname = ifname, .hw = hw});
    }

    std::string quiet_get_arp(const std::string& a)
    {
        CaptureStderr();
        std::string r = get_arp(a);
        EXPECT_EQ(GetCapturedStderr(), "");
        return r;
    }
};

} // namespace

TEST_F(Arp, AnswersSixRawBytesOfTheFirstResolvedEntry)
{
    entry("192.0.2.1", "em0", other);
    entry("192.0.2.7", "em0", vrrp);
    entry("192.0.2.7", "longname1", other); // the same address on another interface: the first wins
    std::string hw = quiet_get_arp("192.0.2.7");
    ASSERT_EQ(hw.size(), 6u);
    EXPECT_EQ(hw, raw(vrrp));
    EXPECT_EQ(quiet_get_arp("192.0.2.1"), raw(other));
    EXPECT_EQ(quiet_get_arp("192.0.2.8"), "ERROR");
    EXPECT_EQ(quiet_get_arp("0.0.0.0"), "ERROR");
}

TEST_F(Arp, EntryStillBeingResolvedIsNoAnswer)
{
    entry("192.0.2.7", "em0", {});
    EXPECT_EQ(quiet_get_arp("192.0.2.7"), "ERROR");
    entry("192.0.2.7", "em1", vrrp); // a resolved entry on another interface still answers
    EXPECT_EQ(quiet_get_arp("192.0.2.7"), raw(vrrp));
}

TEST_F(Arp, BadAddressAndUnreadableTableAreReported)
{
    for (const char* bad : {"255.255.255.255", "192.0.2.256", "host"}) {
        CaptureStderr();
        EXPECT_EQ(get_arp(bad), "ERROR");
        EXPECT_EQ(GetCapturedStderr(), std::string("ERR:: get_arp: called with bad IP address ") + bad + "\n");
    }
    CaptureStderr();
    EXPECT_EQ(get_arp(std::string("192.0.2.7\0junk", 14)), "ERROR");
    EXPECT_NE(GetCapturedStderr().find("bad IP address"), std::string::npos);

    kernel.size_errno = EPERM;
    CaptureStderr();
    EXPECT_EQ(get_arp("192.0.2.7"), "ERROR");
    EXPECT_EQ(GetCapturedStderr(), "ERR:: get_arp: unable to open mib database\n");
    kernel.size_errno = 0;
    kernel.read_errno = ENOMEM;
    CaptureStderr();
    EXPECT_EQ(get_arp("192.0.2.7"), "ERROR");
    EXPECT_EQ(GetCapturedStderr(), "ERR:: get_arp: failed to retrive ARP info\n");
}

TEST(ArpWalk, HostileTablesEndTheWalkInsideTheBuffer)
{
    bsd::bytes good;
    bsd::put_arp_entry(good, {.index = 1, .addr = inet_addr("192.0.2.1"), .ifname = "em0", .hw = other});
    bsd::put_arp_entry(good, {.index = 1, .addr = inet_addr("192.0.2.7"), .ifname = "em0", .hw = vrrp});
    const std::uint32_t target = inet_addr("192.0.2.7");
    ASSERT_TRUE(find_arp_entry(good, target));

    bsd::bytes b = good;
    b[0] = b[1] = std::byte{0}; // zero length: the walk stops, nothing after it is trusted
    EXPECT_FALSE(find_arp_entry(b, target));

    b = good;
    std::uint16_t huge = 0xfff0;
    std::memcpy(b.data() + 164, &huge, 2);
    EXPECT_FALSE(find_arp_entry(b, target));

    b = good;
    b[164 + 113] = std::byte{60}; // a name length that puts the address past the message
    EXPECT_FALSE(find_arp_entry(b, target));

    b = good;
    std::uint16_t runt = 100; // a message too short to hold its addresses is stepped over
    std::memcpy(b.data(), &runt, 2);
    b.resize(100);
    bsd::put_arp_entry(b, {.index = 1, .addr = target, .ifname = "em0", .hw = vrrp});
    EXPECT_TRUE(find_arp_entry(b, target));

    for (std::size_t cut = 0; cut < good.size(); ++cut)
        EXPECT_EQ(find_arp_entry(std::span(good).first(cut), target).has_value(), false) << cut;
}
