// Interface discovery, ARP lookup, the echo probe and address, route and flag changes against
// the real kernel, inside network namespaces the test makes, checked with the ip command.
#include "cping/cping.hpp"
#include "cutil/hwaddr.hpp"
#include "cutil/ifaddr.hpp"
#include "cutil/iflist.hpp"
#include "platform/backend.hpp"
#include "support/netns_fixture.hpp"
#include "support/queries.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <sched.h>

#include <set>
#include <thread>

using namespace cutil;

namespace {

// The ARP table's size (whole, or of `grown` only), an entry for `grown` added, then a fill into a
// buffer of that size: at once ("next"), after another query ("between") or on another thread
// ("thread"). Answers "filled" or the error.
std::string size_grow_fill(bool whole, const std::string& between, const std::string& grown)
{
    const int arp_table[6]{bsd::ctl_net, bsd::pf_route, 0, bsd::af_inet, bsd::net_rt_flags, bsd::rtf_llinfo};
    const int iflist[6]{bsd::ctl_net, bsd::pf_route, 0, bsd::af_inet, bsd::net_rt_iflist, 0};
    auto query = [&](void* buffer, std::size_t* size) {
        return whole ? platform::active().route_sysctl(arp_table, buffer, size) : platform::active().arp_sysctl(inet_addr(grown.c_str()), buffer, size);
    };
    std::size_t size = 0, other = 0;
    if (query(nullptr, &size) != 0 || std::system(("ip neigh add " + grown + " lladdr 02:00:00:00:0e:01 dev vc nud permanent").c_str()) != 0)
        return "cannot grow";
    if (between == "between")
        platform::active().route_sysctl(iflist, nullptr, &other);
    std::vector<std::byte> buffer(size + 1);
    int e = 0;
    auto fill = [&] { e = query(buffer.data(), &size); };
    between == "thread" ? std::thread(fill).join() : fill();
    return e == 0 ? "filled" : e == ENOMEM ? "ENOMEM" : std::to_string(e);
}

// Asks each "question = answer" of `lines` in one child inside `ns`, in order.
void expect_answers(const std::string& ns, const std::vector<std::string>& lines)
{
    EXPECT_EQ(vttest::run_in_netns(ns, [&] { return vttest::answers(lines); }), vttest::joined(lines));
}

} // namespace

using NetQueries = vttest::netns_test;
using NetWrite = vttest::netns_test;

TEST_F(NetQueries, InterfacesAddressesAndNetmasksAsIpConfiguredThem)
{
    ASSERT_TRUE(configure(net->a(), {
        "addr add 198.51.100.1/25 dev va", "addr add 192.0.2.7/24 dev va", "addr add 203.0.113.5/24 dev va label va:5",
        "addr add 203.0.113.9/32 dev lo", "link add dn0 type veth peer name dn1", "addr add 203.0.113.1/24 dev dn0",
        "link add vc type veth peer name vd", "link set vc up", "link set vd up", "addr add 203.0.113.20/24 dev vc label vc:1",
        "addr add 203.0.113.21/24 dev vc", "addr add 203.0.113.22/24 dev vc", "link add ve0 type veth peer name ve1",
        "link set ve0 up", "link set ve1 up", "addr add 198.51.100.1/25 dev ve0" /* first there, listed after va */,
        "link add lo1 type veth peer name lo1p", "addr add 198.51.100.129/28 dev lo1 label lo1:1",
        "addr add 198.51.100.200/24 dev lo1", "link add lo2 type veth peer name lo2p", "addr add 198.51.100.65/26 dev lo2 label lo2:7"}));
    expect_answers(net->a(), {
        "interface 192.0.2.1 = va", "interface 198.51.100.1 = va", "interface 192.0.2.7 = va",
        "interface 203.0.113.9 = ERROR" /* loopback */, "interface 203.0.113.1 = ERROR" /* down */,
        "interface 203.0.113.5 = ERROR" /* alias */, "interface 192.0.2.2 = ERROR" /* the peer's */,
        "interface 203.0.113.20 = ERROR", "interface 203.0.113.21 = vc", "interface 203.0.113.22 = vc",
        "addresses va = 192.0.2.1/255.255.255.0 192.0.2.7/255.255.255.0 198.51.100.1/255.255.255.128 203.0.113.5/255.255.255.0 ",
        "addresses lo0 = 127.0.0.1/255.0.0.0 203.0.113.9/255.255.255.255 ", "addresses lo = none", "addresses v = none",
        "hw va = 02:00:00:00:0a:01", "hw nosuch0 = 00:00:00:00:00:00",
        // The netmask is that of the interface's first address, whatever its label.
        "netmask va = 255.255.255.0", "netmask lo0 = 255.0.0.0", "netmask lo1 = 255.255.255.240",
        "netmask lo1:1 = 255.255.255.240", "netmask lo2 = 255.255.255.192", "netmask lo2:7 = 255.255.255.192",
        "netmask lo1p = ERROR [ERR (T):: could not read netmask]"});
}

TEST_F(NetQueries, TheHostsLoopbackNameIsNoInterfaceOfTheProduct)
{
    ASSERT_TRUE(configure(net->b(), {"addr add 127.0.0.2/8 dev lo label lo:1"}));
    expect_answers(net->b(), {"netmask lo = ERROR [ERR (T):: could not read netmask]", "netmask lo:1 = ERROR [ERR (T):: could not read netmask]", "netmask lo0 = 255.0.0.0",
                              "netmask lo0:1 = 255.0.0.0", "addresses lo = none", "hw lo = 00:00:00:00:00:00"});
    // A host interface that carries the product's loopback name is known by the host's.
    ASSERT_TRUE(configure(net->a(), {"link add lo0 type veth peer name lo0p", "addr add 198.51.100.200/26 dev lo0"}));
    expect_answers(net->a(), {"netmask lo = 255.255.255.192", "netmask lo0 = 255.0.0.0",
                              "addresses lo = 198.51.100.200/255.255.255.192 ", "addresses lo0 = 127.0.0.1/255.0.0.0 "});
}

TEST_F(NetQueries, ArpLookupsAnswerResolvedEntriesOfOneAddressAndFillsFollowTheirOwnSize)
{
    ASSERT_TRUE(configure(net->a(), {
        "link add vc type veth peer name vd", "link set vc up", "link set vd up",
        "neigh add 192.0.2.50 lladdr 02:00:00:00:0b:01 dev va nud noarp",
        "neigh add 203.0.113.60 lladdr 02:00:00:00:0b:02 dev vc nud noarp",
        "neigh add 192.0.2.51 lladdr 02:00:00:00:0b:03 dev va nud permanent",
        "neigh add 224.0.0.251 lladdr 01:00:5e:00:00:fb dev va nud noarp",
        "neigh add 192.0.2.52 lladdr 02:00:00:00:0d:02 dev vc nud permanent",
        "neigh add 192.0.2.52 lladdr 02:00:00:00:0d:01 dev va nud permanent",
        "neigh add 192.0.2.53 lladdr 02:00:00:00:0d:03 dev va nud permanent",
        "neigh add 192.0.2.54 lladdr 02:00:00:00:0d:04 dev va nud permanent"}));
    expect_answers(net->a(), {
        "arp 192.0.2.2 = ERROR", "ping 192.0.2.2 = 0", "arp 192.0.2.2 = 02:00:00:00:0a:02",
        "ping 192.0.2.77 = 1", "arp 192.0.2.77 = ERROR" /* the entry left behind has no address */,
        "arp 203.0.113.77 = ERROR", "arp 192.0.2.50 = 02:00:00:00:0b:01", "arp 203.0.113.60 = 02:00:00:00:0b:02",
        "arp 192.0.2.51 = 02:00:00:00:0b:03", "arp 224.0.0.251 = ERROR",
        "arp 192.0.2.52 = 02:00:00:00:0d:01" /* the lower interface index first */, "entries 192.0.2.52 = 2",
        "entries 192.0.2.99 = 0"});
    EXPECT_EQ(vttest::run_in_netns(net->a(), [] {
        std::string out;
        for (auto [whole, between, grown] : {std::tuple{true, "next", "192.0.2.60"}, {true, "between", "192.0.2.61"},
                                             {true, "thread", "192.0.2.62"}, {false, "next", "192.0.2.53"}, {false, "between", "192.0.2.54"}})
            out += size_grow_fill(whole, between, grown) + " ";
        return out;
    }), "filled ENOMEM ENOMEM filled ENOMEM ");
}

TEST_F(NetQueries, EveryReadAnswersWhileAddressesChange)
{
    vttest::churning_interface churn(*net, net->a(), "churn0", "02:00:00:00:0c:01");
    ASSERT_EQ(churn.failure(), "");
    // Reads until the address count was seen to change at least once, 300 at the least.
    EXPECT_EQ(vttest::run_in_netns(net->a(), [] {
        int failed = 0;
        std::set<int> counts;
        for (int calls = 0; calls < 3000 && (calls < 300 || counts.size() < 2); ++calls) {
            device_info info;
            bool read = get_device_info("churn0", info) == 1 && my_ether_addr("churn0") == "02:00:00:00:0c:01";
            read ? (void)counts.insert(info.addr_count) : (void)++failed;
        }
        return "failed " + std::to_string(failed) + ", churn seen " + std::to_string(counts.size() > 1);
    }), "failed 0, churn seen 1");
}

TEST_F(NetWrite, AddressesAddedAndRemovedAsIpShowsThem)
{
    // What unix_ifconfig answered and printed; then in ip's lines for `dev`, " inet ..." or, after a '-', what must be absent.
    const struct { const char *ifname, *addr, *mask, *brd; int remove; std::string answer; const char* dev; std::string shown; } rows[] = {
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
    for (const auto& r : rows) {
        const std::string label = std::string(r.ifname) + " " + r.addr + (r.remove ? " remove" : " add");
        EXPECT_EQ(said_in(net->a(), [&] {
            errno = EDOM; // what a malformed text is reported with
            return unix_ifconfig(r.ifname, r.addr, r.mask, r.brd, 0, r.remove);
        }), r.answer) << label;
        const std::string shown = net->ip_out(net->a(), std::string("-4 -o addr show dev ") + r.dev);
        EXPECT_EQ(shown.find(r.shown.substr(r.shown[0] == '-')) == std::string::npos, r.shown[0] == '-') << label << "\n" << shown;
    }
}

// The detection agrees with what the kernel does: the peer reaches an address parked on lo0
// through va exactly while parked addresses are said to be answered there.
TEST_F(NetWrite, ParkedAddressAnsweredOnTheLinkUntilArpIgnoreSaysNot)
{
    ASSERT_EQ(said_in(net->a(), [] { return unix_ifconfig("lo0", "203.0.113.10", "255.255.255.255", nullptr, 0, 0); }), "0");
    ASSERT_TRUE(net->ip(net->b(), "route add 203.0.113.10/32 dev vb"));
    for (int arp_ignore : {0, 1}) {
        ASSERT_TRUE(set_conf(net->a(), "va/arp_ignore", arp_ignore));
        ASSERT_TRUE(net->ip(net->b(), "neigh flush dev vb"));
        EXPECT_EQ(said_in(net->b(), [] { return unix_ping("203.0.113.10"); }), arp_ignore == 0 ? "0" : "1") << arp_ignore;
        EXPECT_EQ(said_in(net->a(), [] { return parked_answered_on("va") * 10 + parked_answered_on("nosuch0"); }),
                  arp_ignore == 0 ? "10" : "0") << arp_ignore;
    }
}

// A change after the process moved to another namespace lands there, not through a netlink
// socket left open in the first one.
TEST_F(NetWrite, ChangesFollowTheProcessIntoAnotherNamespace)
{
    const std::string b = net->b();
    EXPECT_EQ(said_in(net->a(), [&] {
        int first = unix_ifconfig("va", "203.0.113.30", "255.255.255.255", nullptr, 0, 0);
        unique_fd ns(::open(("/var/run/netns/" + b).c_str(), O_RDONLY | O_CLOEXEC));
        if (!ns || ::setns(ns.get(), CLONE_NEWNET) != 0)
            return -1;
        return first * 10 + unix_ifconfig("vb", "203.0.113.31", "255.255.255.255", nullptr, 0, 0);
    }), "0");
    EXPECT_NE(net->ip_out(b, "-4 -o addr show dev vb").find(" inet 203.0.113.31/32 "), std::string::npos);
    EXPECT_EQ(net->ip_out(net->a(), "-4 -o addr show").find("203.0.113.31"), std::string::npos);
}

TEST_F(NetWrite, HostRoutesAndFlagsChangedAsIpShowsThem)
{
    // A route already there, or already gone, is what was wanted.
    for (int del : {0, 0, 1, 1}) {
        EXPECT_EQ(said_in(net->a(), [&] { return unix_route("va", "203.0.113.9", 0, del); }), "0") << del;
        EXPECT_EQ(net->ip_out(net->a(), "route show 203.0.113.9"), del ? "" : "203.0.113.9 via 127.0.0.1 dev lo proto static \n");
    }
    for (int up : {0, 1}) {
        EXPECT_EQ(said_in(net->a(), [&] {
            unique_fd sock(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
            int r = up ? set_flag(sock.get(), "va", IFF_UP) : clr_flag(sock.get(), "va", IFF_UP);
            return r * 10 + (get_flags(sock.get(), "va") & IFF_UP);
        }), up ? "1" : "0");
        const std::string link = net->ip_out(net->a(), "-o link show va");
        EXPECT_EQ(link.substr(0, link.find('>')).find(",UP") != std::string::npos || link.find("<UP") != std::string::npos, up == 1);
    }
}
