// The search for the broadcast interface carrying an address, and the netmask query, against a
// scripted kernel.
#include "cutil/ifconf.hpp"
#include "platform/fake.hpp"

#include <arpa/inet.h>
#include <gtest/gtest.h>

using namespace cutil;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

constexpr int up_bcast = bsd::iff_up | bsd::iff_broadcast | 0x40 | 0x8000; // plus running, multicast

class IfConf : public testing::Test {
protected:
    platform::fake_backend kernel;
    platform::scoped_backend use{kernel};

    void iface(const std::string& name, int flags, const char* addr, const char* mask = "255.255.255.0")
    {
        kernel.interfaces[name] = {flags, inet_addr(addr), inet_addr(mask)};
        kernel.add_conf_entry(name, inet_addr(addr));
    }
};

} // namespace

TEST_F(IfConf, OnlyUpBroadcastNonAliasInterfacesAreChosen)
{
    iface("lo0", bsd::iff_up | bsd::iff_loopback, "192.0.2.1");
    iface("ppp0", bsd::iff_up | bsd::iff_pointopoint, "192.0.2.2");
    iface("fxp2", bsd::iff_broadcast, "192.0.2.3"); // down
    iface("fxp0:1", up_bcast, "192.0.2.4");
    iface("fxp0", up_bcast, "192.0.2.5");
    for (const char* a : {"192.0.2.1", "192.0.2.2", "192.0.2.3", "192.0.2.4", "192.0.2.9", "not.an.address", "255.255.255.255"})
        EXPECT_EQ(get_ethernet_interface(a), "ERROR") << a;
    EXPECT_EQ(get_ethernet_interface("192.0.2.5"), "fxp0");
    EXPECT_STREQ(real_ethernet_interface, "fxp0");
    EXPECT_STREQ(real_ip_address, "192.0.2.5");
}

TEST_F(IfConf, FirstOfTwoInterfacesWithTheAddressWins)
{
    iface("fxp1", up_bcast, "198.51.100.4");
    iface("fxp0", up_bcast, "198.51.100.4");
    EXPECT_EQ(get_ethernet_interface("198.51.100.4"), "fxp1");
}

TEST_F(IfConf, WalkStepsOverLongLinkLevelEntries)
{
    // BSD lists a link-level entry per interface; its 54-byte address lengthens the entry.
    kernel.add_conf_link_entry("fxp0", 54);
    kernel.add_conf_link_entry("fxp1", 20);
    iface("fxp1", up_bcast, "203.0.113.7");
    EXPECT_EQ(std::string(find_interface(inet_addr("203.0.113.7"))), "fxp1");
}

TEST_F(IfConf, ListGrowsUntilTwoSizesAgree)
{
    for (int i = 0; i < 100; ++i) // 3200 bytes: needs the 4096-byte try, confirmed by 8192
        iface("vlan" + std::to_string(i), up_bcast, ("203.0.113." + std::to_string(i + 1)).c_str());
    EXPECT_EQ(get_ethernet_interface("203.0.113.100"), "vlan99");
    EXPECT_EQ(kernel.conf_calls, 4);

    // A kernel that answers "too small" with EINVAL is asked again with more room.
    kernel.conf_calls = 0;
    kernel.conf_errnos = {EINVAL, EINVAL};
    EXPECT_EQ(get_ethernet_interface("203.0.113.1"), "vlan0");
    EXPECT_EQ(kernel.conf_calls, 4);
}

TEST_F(IfConf, ListFailureIsReportedAsPerror)
{
    iface("fxp0", up_bcast, "192.0.2.5");
    kernel.conf_errnos = {ENXIO};
    CaptureStderr();
    EXPECT_EQ(get_ethernet_interface("192.0.2.5"), "ERROR");
    EXPECT_EQ(GetCapturedStderr(), std::string("ioctl SIOCGIFCONF: ") + std::strerror(ENXIO) + "\n");
}

TEST_F(IfConf, EntriesRunningPastTheListAreNotRead)
{
    kernel.conf_verbatim = true;
    iface("fxp0", up_bcast, "192.0.2.5");
    iface("fxp1", up_bcast, "192.0.2.6");
    kernel.conf.resize(kernel.conf.size() - 1); // the last entry cut short
    EXPECT_EQ(get_ethernet_interface("192.0.2.6"), "ERROR");
    EXPECT_EQ(get_ethernet_interface("192.0.2.5"), "fxp0");
    kernel.conf[16] = std::byte{250}; // the first entry's address claims more than the list holds
    EXPECT_EQ(get_ethernet_interface("192.0.2.5"), "ERROR");
}

TEST_F(IfConf, OverlongAddressTextIsRefusedNotCut)
{
    iface("fxp0", up_bcast, "192.0.2.5");
    std::string padded = "0000000000000000000000192.0.2.5"; // inet_addr would accept it
    EXPECT_EQ(get_ethernet_interface(padded), "ERROR");
    EXPECT_EQ(get_ethernet_interface("192.0.2.5"), "fxp0");
}

TEST_F(IfConf, NetmaskAsDottedTextOrError)
{
    iface("fxp0", up_bcast, "192.0.2.5", "255.255.255.128");
    kernel.interfaces["gif0"] = {bsd::iff_up, std::nullopt, std::nullopt};
    kernel.interfaces["abcdefghijklmno"] = {up_bcast, inet_addr("192.0.2.9"), inet_addr("255.255.0.0")};
    EXPECT_EQ(get_netmask("abcdefghijklmno"), "255.255.0.0");
    EXPECT_EQ(get_netmask("fxp0"), "255.255.255.128");
    for (const std::string& bad : std::vector<std::string>{"gif0", "em9", "", "abcdefghijklmnoX" /* would be cut into the name above */, std::string("fxp0\0x", 6)}) {
        CaptureStderr();
        EXPECT_EQ(get_netmask(bad), "ERROR") << bad;
        std::string err = GetCapturedStderr();
        EXPECT_TRUE(err.starts_with("ERR (") && err.ends_with(":: could not read netmask\n")) << err;
    }
    EXPECT_EQ(get_local_interface(), "lo0");
}
