// The search for the broadcast interface carrying an address, and the netmask query, against a
// scripted kernel.
#include "cutil/ifconf.hpp"
#include "support/queries.hpp"
#include "support/scripted_kernel.hpp"

using namespace cutil;
using namespace vttest;

namespace {

constexpr int up_bcast = bsd::iff_up | bsd::iff_broadcast | 0x40 | 0x8000; // plus running, multicast

class IfConf : public scripted_kernel {
protected:
    void iface(const std::string& name, int flags, const char* addr, const char* mask = "255.255.255.0")
    {
        kernel.interfaces[name] = {flags, inet_addr(addr), inet_addr(mask)};
        kernel.add_conf_entry(name, inet_addr(addr));
    }
};

} // namespace

TEST_F(IfConf, OnlyTheFirstUpBroadcastNonAliasInterfaceIsChosenAndNetmasksAreRead)
{
    kernel.add_conf_link_entry("fxp2", 54); // BSD's link-level entries, one longer than the usual
    kernel.add_conf_link_entry("lo0", 20);
    iface("lo0", bsd::iff_up | bsd::iff_loopback, "192.0.2.1");
    iface("ppp0", bsd::iff_up | bsd::iff_pointopoint, "192.0.2.2");
    iface("fxp2", bsd::iff_broadcast, "192.0.2.3"); // down
    iface("fxp0:1", up_bcast, "192.0.2.4");
    iface("fxp1", up_bcast, "192.0.2.5");
    iface("fxp0", up_bcast, "192.0.2.5", "255.255.255.128");
    kernel.interfaces["gif0"] = {bsd::iff_up, std::nullopt, std::nullopt};
    kernel.interfaces["abcdefghijklmno"] = {up_bcast, inet_addr("192.0.2.9"), inet_addr("255.255.0.0")};
    const std::string unread = " = ERROR [ERR (T):: could not read netmask]";
    const std::vector<std::string> lines = {
        "interface 192.0.2.1 = ERROR", "interface 192.0.2.2 = ERROR", "interface 192.0.2.3 = ERROR", "interface 192.0.2.4 = ERROR",
        "interface 192.0.2.9 = ERROR", "interface not.an.address = ERROR", "interface 255.255.255.255 = ERROR",
        "interface 0000000000000000000000192.0.2.5 = ERROR" /* inet_addr would accept it */, "interface 192.0.2.5 = fxp1",
        "netmask abcdefghijklmno = 255.255.0.0", "netmask fxp0 = 255.255.255.128", "netmask gif0" + unread,
        "netmask em9" + unread, "netmask abcdefghijklmnoX" + unread};
    EXPECT_EQ(answers(lines), joined(lines));
    EXPECT_STREQ(real_ethernet_interface, "fxp1");
    EXPECT_STREQ(real_ip_address, "192.0.2.5");
    for (const std::string& bad : {std::string(""), std::string("fxp0\0x", 6)})
        EXPECT_EQ(timeless(console_of([&] { EXPECT_EQ(get_netmask(bad), "ERROR"); }).err), "ERR (T):: could not read netmask\n");
}

TEST_F(IfConf, ListGrowsUntilTwoSizesAgreeAndFailuresAreReported)
{
    for (int i = 0; i < 100; ++i) // 3200 bytes: more than a first try holds
        iface("vlan" + std::to_string(i), up_bcast, ("203.0.113." + std::to_string(i + 1)).c_str());
    EXPECT_EQ(get_ethernet_interface("203.0.113.100"), "vlan99");
    kernel.conf_errnos = {EINVAL, EINVAL}; // "too small", from some kernels
    EXPECT_EQ(get_ethernet_interface("203.0.113.1"), "vlan0");
    kernel.conf_errnos = {ENXIO};
    EXPECT_EQ(stderr_of([&] { EXPECT_EQ(get_ethernet_interface("203.0.113.1"), "ERROR"); }),
              std::string("ioctl SIOCGIFCONF: ") + std::strerror(ENXIO) + "\n");
}

TEST_F(IfConf, EntriesRunningPastTheListAreNotRead)
{
    kernel.conf_verbatim = true;
    iface("fxp0", up_bcast, "192.0.2.5");
    iface("fxp1", up_bcast, "192.0.2.6");
    kernel.conf.resize(kernel.conf.size() - 1);
    EXPECT_EQ(get_ethernet_interface("192.0.2.6"), "ERROR");
    EXPECT_EQ(get_ethernet_interface("192.0.2.5"), "fxp0");
    kernel.conf[16] = std::byte{250}; // the first entry's address claims more than the list holds
    EXPECT_EQ(get_ethernet_interface("192.0.2.5"), "ERROR");
}
