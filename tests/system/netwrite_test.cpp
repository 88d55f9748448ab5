// Address, route and flag changes against the real kernel, inside network namespaces the test
// makes, checked with the ip command.
#include "cping/cping.hpp"
#include "cutil/ifaddr.hpp"
#include "platform/unique_fd.hpp"
#include "support/netns_fixture.hpp"

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>

#include <fstream>

using namespace cutil;

using NetWrite = vttest::netns_test;

TEST_F(NetWrite, AddressesAddedAndRemovedAsIpShowsThem)
{
    const std::string bad_text = "ERR (T):: unix_ifconfig was called with bad %s: Numerical argument out of domain\n";
    struct row {
        const char *ifname, *addr, *mask, *brd;
        int remove;
        std::string answer;
        const char* dev;   // where ip looks
        std::string shown; // " inet ..." expected there, or "-" followed by what must be absent
    } rows[] = {
        {"va", "203.0.113.9", "255.255.255.255", nullptr, 0, "0", "va", " inet 203.0.113.9/32 "},
        {"va", "203.0.113.9", "255.255.255.255", nullptr, 0, "0", "va", " inet 203.0.113.9/32 "}, // already there: done
        {"va", "203.0.113.9", nullptr, nullptr, 1, "0", "va", "- 203.0.113.9/"},
        {"va", "203.0.113.9", nullptr, nullptr, 1, "1 ERR (T):: SIOCSIFADDR on va (203.0.113.9): Cannot assign requested address\n",
         "va", "- 203.0.113.9/"},
        {"va", "203.0.113.9", "255.255.255.x", "203.0.113.x", 0,
         "1 ERR (T):: unix_ifconfig was called with bad netmask: Numerical argument out of domain\n"
         "ERR (T):: unix_ifconfig was called with bad broadcast address: Numerical argument out of domain\n", "va", "- 203.0.113.9/"},
        {"va", "198.51.100.1", "255.255.255.0", "198.51.100.255", 0, "0", "va", " inet 198.51.100.1/24 brd 198.51.100.255 "},
        {"va", "203.0.113.20", nullptr, nullptr, 0, "0", "va", " inet 203.0.113.20/24 "}, // the class's netmask
        {"va", "203.0.113.21", "255.0.255.0", nullptr, 0, "1 ERR (T):: SIOCSIFADDR on va (203.0.113.21) : Invalid argument\n",
         "va", "- 203.0.113.21/"},
        {"lo0", "203.0.113.10", "255.255.255.255", nullptr, 0, "0", "lo", " inet 203.0.113.10/32 "},
        {"nosuch0", "203.0.113.11", "255.255.255.255", nullptr, 0,
         "1 ERR (T):: SIOCSIFADDR on nosuch0 (203.0.113.11) : No such device or address\n", "va", "- 203.0.113.11/"},
    };
    for (const row& r : rows) {
        const std::string label = std::string(r.ifname) + " " + r.addr + (r.remove ? " remove" : " add");
        EXPECT_EQ(said_in(pair->a(), [&] {
            errno = EDOM; // what a malformed text is reported with
            return unix_ifconfig(r.ifname, r.addr, r.mask, r.brd, 0, r.remove);
        }), r.answer) << label;
        const std::string shown = pair->ip_out(pair->a(), std::string("-4 -o addr show dev ") + r.dev);
        EXPECT_EQ(shown.find(r.shown.substr(r.shown[0] == '-')) == std::string::npos, r.shown[0] == '-') << label << "\n" << shown;
    }
}

// The detection agrees with what the kernel does: the peer reaches an address parked on lo0
// through va exactly while parked addresses are said to be answered there.
TEST_F(NetWrite, ParkedAddressAnsweredOnTheLinkUntilArpIgnoreSaysNot)
{
    ASSERT_EQ(said_in(pair->a(), [] { return unix_ifconfig("lo0", "203.0.113.10", "255.255.255.255", nullptr, 0, 0); }), "0");
    ASSERT_TRUE(pair->ip(pair->b(), "route add 203.0.113.10/32 dev vb"));
    for (int arp_ignore : {0, 1}) {
        ASSERT_EQ(said_in(pair->a(), [&] { return (std::ofstream("/proc/sys/net/ipv4/conf/va/arp_ignore") << arp_ignore).good(); }), "1");
        ASSERT_TRUE(pair->ip(pair->b(), "neigh flush dev vb"));
        EXPECT_EQ(said_in(pair->b(), [] { return unix_ping("203.0.113.10"); }), arp_ignore == 0 ? "0" : "1") << arp_ignore;
        EXPECT_EQ(said_in(pair->a(), [] { return parked_answered_on("va") * 10 + parked_answered_on("nosuch0"); }),
                  arp_ignore == 0 ? "10" : "0") << arp_ignore;
    }
}

// A change after the process moved to another namespace lands there, not through a netlink
// socket left open in the first one.
TEST_F(NetWrite, ChangesFollowTheProcessIntoAnotherNamespace)
{
    const std::string b = pair->b();
    EXPECT_EQ(said_in(pair->a(), [&] {
        int first = unix_ifconfig("va", "203.0.113.30", "255.255.255.255", nullptr, 0, 0);
        unique_fd ns(::open(("/var/run/netns/" + b).c_str(), O_RDONLY | O_CLOEXEC));
        if (!ns || ::setns(ns.get(), CLONE_NEWNET) != 0)
            return -1;
        return first * 10 + unix_ifconfig("vb", "203.0.113.31", "255.255.255.255", nullptr, 0, 0);
    }), "0");
    EXPECT_NE(pair->ip_out(b, "-4 -o addr show dev vb").find(" inet 203.0.113.31/32 "), std::string::npos);
    EXPECT_EQ(pair->ip_out(pair->a(), "-4 -o addr show").find("203.0.113.31"), std::string::npos);
}

TEST_F(NetWrite, HostRoutesAndFlagsChangedAsIpShowsThem)
{
    // A route already there, or already gone, is what was wanted.
    for (int del : {0, 0, 1, 1}) {
        EXPECT_EQ(said_in(pair->a(), [&] { return unix_route("va", "203.0.113.9", 0, del); }), "0") << del;
        EXPECT_EQ(pair->ip_out(pair->a(), "route show 203.0.113.9"), del ? "" : "203.0.113.9 via 127.0.0.1 dev lo proto static \n");
    }
    for (int up : {0, 1}) {
        EXPECT_EQ(said_in(pair->a(), [&] {
            unique_fd sock(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
            int r = up ? set_flag(sock.get(), "va", IFF_UP) : clr_flag(sock.get(), "va", IFF_UP);
            return r * 10 + (get_flags(sock.get(), "va") & IFF_UP);
        }), up ? "1" : "0");
        const std::string link = pair->ip_out(pair->a(), "-o link show va");
        EXPECT_EQ(link.substr(0, link.find('>')).find(",UP") != std::string::npos || link.find("<UP") != std::string::npos, up == 1);
    }
}
