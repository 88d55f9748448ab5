// The network primitives and vtnet on the real kernel, in namespaces each test makes: what the
// kernel holds as ip shows it, what the segment saw on the observer's bridge.
#include "cping/cping.hpp"
#include "cutil/arpcast.hpp"
#include "cutil/arpframe.hpp"
#include "cutil/hwaddr.hpp"
#include "cutil/ifaddr.hpp"
#include "cutil/iflist.hpp"
#include "platform/backend.hpp"
#include "support/child.hpp"
#include "support/console.hpp"
#include "support/netns.hpp"
#include "support/queries.hpp"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <linux/if_ether.h>
#include <net/if.h>
#include <netinet/ip.h>
#include <poll.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <set>
#include <sstream>
#include <thread>

using namespace cutil;
using namespace vttest;

namespace {

// The test's own namespaces; on a segment the bridge listens for ARP.
template <class Net, auto... args> class netns_test : public testing::Test {
protected:
    void SetUp() override
    {
        if (std::string why = netns_unavailable(); !why.empty())
            GTEST_SKIP() << why;
        net = std::make_unique<Net>(args...);
        if (!net->failure().empty())
            GTEST_SKIP() << "no namespaces: " << net->failure();
        if constexpr (std::is_same_v<Net, netns_segment>) {
            wire = listener(net->observer(), "br0");
            ASSERT_TRUE(wire.valid());
        }
    }
    bool configure(const std::string& ns, const std::vector<std::string>& steps)
    {
        return net->batch(ns, joined(steps));
    }
    // What `fn` answered inside `ns`, then what it printed.
    template <class F> std::string said_in(const std::string& ns, F&& fn)
    {
        return run_in_netns(ns, [&] {
            int answer = 0;
            console c = console_of([&] { answer = fn(); });
            const std::string printed = timeless(c.out + c.err);
            return std::to_string(answer) + (printed.empty() ? "" : " " + printed);
        });
    }
    std::unique_ptr<Net> net;
    unique_fd wire;
};

using Pair = netns_test<netns_pair>;
using Vtnet = netns_test<netns_segment>;
using Hostile = netns_test<netns_segment, true>;

void expect_answers(const std::string& ns, const std::vector<std::string>& lines)
{
    EXPECT_EQ(run_in_netns(ns, [&] { return answers(lines); }), joined(lines));
}

constexpr const char* moved = "192.0.2.100";
// A's take or garp of it.
const std::string took = "0 DEBUG (T):: [ 192.0.2.100 -> 02:00:00:00:0a:01 ] | SUCCESS";

// In hex, `n` announcements of the moved address by `hw`.
std::string announcements_by(const std::string& hw, int n)
{
    std::string out;
    while (n-- > 0)
        out += "ffffffffffff" + hw + "0806" + "0001080006040001" + hw + "c0000264" + hw + "c0000264\n";
    return out;
}

// Each line is "ARGS = STATUS [stderr] stdout" of vtnet run in `ns`.
void expect_said(const std::string& ns, const std::vector<std::string>& lines, bool as_nobody = false)
{
    const char* nobody = " setpriv --reuid=65534 --regid=65534 --clear-groups --inh-caps=-all";
    std::string said;
    for (const std::string& line : lines) {
        const std::string args = line.substr(0, line.find(" = "));
        const child_run c =
            run_shell("exec ip netns exec " + ns + (as_nobody ? nobody : "") + " '" VTNET_BINARY "' " + args);
        said += args + " = " + std::to_string(c.status) + (c.err.empty() ? "" : " [" + one_line(c.err) + "]")
                + (c.out.empty() ? "" : " " + one_line(c.out)) + "\n";
    }
    EXPECT_EQ(said, joined(lines));
}

using frame = std::vector<std::uint8_t>;

constexpr const char *live = "192.0.2.2", *absent = "192.0.2.99";

// An echo reply from `src` to A.
frame reply_to_a(const char* src, std::uint16_t ident, std::uint16_t seq)
{
    constexpr std::size_t keep = 64;
    std::uint8_t icmp[64]{};
    build_echo_request(reinterpret_cast<std::byte*>(icmp), ident, seq);
    icmp[0] = icmp_echo_reply;
    icmp[2] = icmp[3] = 0;
    const std::uint16_t sum = in_cksum(icmp, keep);
    std::memcpy(icmp + 2, &sum, 2);
    iphdr ip{.ihl = 5, .version = 4, .tot_len = htons(static_cast<std::uint16_t>(20 + keep)),
             .ttl = 64, .protocol = IPPROTO_ICMP, .saddr = ::inet_addr(src),
             .daddr = ::inet_addr("192.0.2.1")};
    ip.check = in_cksum(&ip, sizeof ip);
    frame f{0x02, 0, 0, 0, 0x0a, 0x01, 0x02, 0, 0, 0, 0x0a, 0x04, 0x08, 0x00}; // forger to A
    f.insert(f.end(), reinterpret_cast<std::uint8_t*>(&ip), reinterpret_cast<std::uint8_t*>(&ip + 1));
    f.insert(f.end(), icmp, icmp + keep);
    return f;
}

// Every millisecond, every forged answer to the probe `ident`/`seq`.
void flood(std::stop_token stop, const unique_fd& sock, std::uint16_t ident,
           const std::atomic<std::uint16_t>& seq, std::atomic<std::size_t>& sent)
{
    const auto send = [&](const frame& f) { sent += ::send(sock.get(), f.data(), f.size(), 0) > 0; };
    while (!stop.stop_requested()) {
        const std::uint16_t now = seq;
        send(reply_to_a("192.0.2.3", ident, now));
        send(reply_to_a("198.51.100.7", ident, now));
        for (const char* target : {live, absent})
            send(reply_to_a(target, ident, now - 1)); // late
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

} // namespace

TEST_F(Pair, InterfacesAddressesNetmasks)
{
    ASSERT_TRUE(configure(net->a(), {
        "addr add 198.51.100.1/25 dev va", "addr add 203.0.113.5/24 dev va label va:5",
        "addr add 203.0.113.9/32 dev lo label lo:1", "link add dn0 type veth peer name dn1",
        "addr add 203.0.113.1/24 dev dn0", "link add vc type veth peer name vd",
        "link set vc up", "link set vd up", "addr add 203.0.113.20/24 dev vc label vc:1",
        "addr add 203.0.113.21/24 dev vc", "link add lo1 type veth peer name lo1p",
        "addr add 198.51.100.129/28 dev lo1 label lo1:1", "addr add 198.51.100.200/24 dev lo1"}));
    const std::string unread = " = ERROR [ERR (T):: could not read netmask]";
    expect_answers(net->a(), {
        "interface 198.51.100.1 = va", "interface 203.0.113.21 = vc", "interface 192.0.2.2 = ERROR",
        // On the loopback, a down link, under an alias label: none.
        "interface 203.0.113.9 = ERROR", "interface 203.0.113.1 = ERROR", "interface 203.0.113.20 = ERROR",
        "addresses va = 192.0.2.1/255.255.255.0 198.51.100.1/255.255.255.128 203.0.113.5/255.255.255.0 ",
        "addresses lo0 = 127.0.0.1/255.0.0.0 203.0.113.9/255.255.255.255 ", "addresses v = none",
        "hw va = 02:00:00:00:0a:01", "hw nosuch0 = 00:00:00:00:00:00",
        // The first address's, whatever its label; the host's loopback is lo0 here.
        "netmask va = 255.255.255.0", "netmask lo1 = 255.255.255.240", "netmask lo0:1 = 255.255.255.255",
        "netmask lo" + unread, "netmask lo1p" + unread});
    // Every read answers while 40 of churn0's 236 addresses change until the test ends.
    std::string setup = "link add churn0 type veth peer name churn0p\n", del, add;
    for (int h = 1; h <= 118; ++h) {
        const std::string host = std::to_string(h) + "/32 dev churn0\n";
        setup += "addr add 198.51.100." + host + "addr add 203.0.113." + host;
        del += h <= 20 ? "addr del 198.51.100." + host : "";
        add += h <= 20 ? "addr add 198.51.100." + host : "";
    }
    ASSERT_TRUE(net->batch(net->a(), setup));
    net->repeat(net->a(), del + add);
    // 300 reads at least, until the count was seen to change.
    EXPECT_EQ(run_in_netns(net->a(), [] {
        std::set<int> counts;
        for (int calls = 0; calls < 3000 && (calls < 300 || counts.size() < 2); ++calls) {
            device_info info;
            if (get_device_info("churn0", info) != 1)
                return "failed";
            counts.insert(info.addr_count);
        }
        return counts.size() > 1 ? "churn seen" : "no churn";
    }), "churn seen");
}

TEST_F(Pair, ArpLookups)
{
    ASSERT_TRUE(configure(net->a(), {
        "link add vc type veth peer name vd", "link set vc up", "link set vd up",
        "neigh add 192.0.2.50 lladdr 02:00:00:00:0b:01 dev va nud noarp",
        "neigh add 224.0.0.251 lladdr 01:00:5e:00:00:fb dev va nud noarp",
        "neigh add 192.0.2.52 lladdr 02:00:00:00:0d:02 dev vc nud permanent",
        "neigh add 192.0.2.52 lladdr 02:00:00:00:0d:01 dev va nud permanent"}));
    const unique_fd at_b = listener(net->b(), "vb", ETH_P_IP);
    expect_answers(net->a(), {
        "arp 192.0.2.2 = ERROR", "ping 192.0.2.2 = 0", "arp 192.0.2.2 = 02:00:00:00:0a:02",
        "ping 192.0.2.77 = 1", "arp 192.0.2.77 = ERROR", // the entry left behind has no address
        "arp 192.0.2.50 = 02:00:00:00:0b:01", "arp 224.0.0.251 = ERROR",
        "arp 192.0.2.52 = 02:00:00:00:0d:01", // the lower interface index first
        "entries 192.0.2.52 = 2", "entries 192.0.2.99 = 0"});
    // One probe is three echo requests.
    int requests = 0;
    unsigned char frame[1600];
    for (pollfd p{at_b.get(), POLLIN, 0}; ::poll(&p, 1, 500) == 1;) {
        const ssize_t n = ::recv(at_b.get(), frame, sizeof frame, 0);
        requests += n >= 42 && frame[23] == IPPROTO_ICMP && frame[34] == icmp_echo_request;
    }
    EXPECT_EQ(requests, 3);
}

TEST_F(Pair, AddressChanges)
{
    // "IF ADDR MASK BRD add|del" ('-': none), what unix_ifconfig said, what ip shows ('-': not).
    const std::string set = "1 ERR (T):: SIOCSIFADDR on ", bad = "ERR (T):: unix_ifconfig was called with bad ";
    const std::string edom = ": Numerical argument out of domain\n";
    const std::vector<std::array<std::string, 3>> rows = {
        {"va 203.0.113.9 255.255.255.255 - add", "0", " inet 203.0.113.9/32 "},
        {"va 203.0.113.9 255.255.255.255 - add", "0", " inet 203.0.113.9/32 "},
        {"va 203.0.113.9 - - del", "0", "- 203.0.113.9/"},
        {"va 203.0.113.9 - - del", set + "va (203.0.113.9): Cannot assign requested address\n", "- 203.0.113.9/"},
        {"va 203.0.113.9 255.255.255.x 203.0.113.x add",
         "1 " + bad + "netmask" + edom + bad + "broadcast address" + edom, "- 203.0.113.9/"},
        {"va 198.51.100.1 255.255.255.0 198.51.100.255 add", "0", " inet 198.51.100.1/24 brd 198.51.100.255 "},
        {"va 203.0.113.20 - - add", "0", " inet 203.0.113.20/24 "}, // by class
        {"va 203.0.113.21 255.0.255.0 - add", set + "va (203.0.113.21) : Invalid argument\n", "- 203.0.113.21/"},
        {"lo0 203.0.113.10 255.255.255.255 - add", "0", " inet 203.0.113.10/32 scope global lo"},
        {"va:1 203.0.113.12 255.255.255.255 - add", "0", " inet 203.0.113.12/32 scope global va"},
        {"nosuch0 203.0.113.11 255.255.255.255 - add",
         set + "nosuch0 (203.0.113.11) : No such device or address\n", "- 203.0.113.11/"},
        // The address alone names what changes: one copy under the new netmask, every copy gone.
        {"va 198.51.100.1 255.255.255.255 - add", "0", "- 198.51.100.1/24"},
        {"va 203.0.113.40 - - del", "0", "- 203.0.113.40/"},
    };
    ASSERT_TRUE(configure(net->a(), {"addr add 203.0.113.40/24 dev va", "addr add 203.0.113.40/32 dev va"}));
    for (const auto& [request, answer, shown] : rows) {
        std::istringstream words(request);
        std::string ifname, addr, mask, brd, verb;
        words >> ifname >> addr >> mask >> brd >> verb;
        const auto given = [](const std::string& w) { return w == "-" ? nullptr : w.c_str(); };
        EXPECT_EQ(said_in(net->a(), [&] {
            errno = EDOM; // what a malformed text is reported with
            return unix_ifconfig(ifname, addr.c_str(), given(mask), given(brd), 0, verb == "del");
        }), answer) << request;
        const std::string held = net->ip_out(net->a(), "-4 -o addr show");
        const bool absent = shown[0] == '-';
        EXPECT_EQ(held.find(shown.substr(absent)) == std::string::npos, absent) << request;
    }
    // A primary goes alone: the secondary Linux drops with it and, with the interface's last
    // address, the route through them come back.
    ASSERT_TRUE(configure(net->b(), {"addr add 192.0.2.100/24 dev vb", "route add 203.0.113.128/25 via 192.0.2.254"}));
    EXPECT_EQ(said_in(net->b(), [] { return unix_ifconfig("vb", "192.0.2.2", nullptr, nullptr, 0, 1); }), "0");
    EXPECT_EQ(net->ip_out(net->b(), "-4 -o addr show dev vb").find(" inet 192.0.2.2/"), std::string::npos);
    EXPECT_NE(net->ip_out(net->b(), "-4 -o addr show dev vb").find(" inet 192.0.2.100/24 "), std::string::npos);
    EXPECT_EQ(net->ip_out(net->b(), "route show 203.0.113.128/25"), "203.0.113.128/25 via 192.0.2.254 dev vb \n");
    // After a move to another namespace a change lands there.
    EXPECT_EQ(said_in(net->a(), [&] {
        int first = unix_ifconfig("va", "203.0.113.30", "255.255.255.255", nullptr, 0, 0), second = -1;
        on_netns_thread(net->b(), [&] {
            second = unix_ifconfig("vb", "203.0.113.31", "255.255.255.255", nullptr, 0, 0);
        });
        return first * 10 + second;
    }), "0");
    EXPECT_NE(net->ip_out(net->b(), "-4 -o addr show dev vb").find(" inet 203.0.113.31/32 "), std::string::npos);
}

TEST_F(Pair, RoutesFlagsDevices)
{
    // A route already there, or already gone, is what was wanted.
    for (int del : {0, 0, 1, 1}) {
        EXPECT_EQ(said_in(net->a(), [&] { return unix_route("va", "203.0.113.9", 0, del); }), "0") << del;
        EXPECT_EQ(net->ip_out(net->a(), "route show 203.0.113.9"), del ? "" : "203.0.113.9 via 127.0.0.1 dev lo proto static \n");
    }
    // Each packet device keeps its interface; vc, cycled down and up first, sends only when up.
    ASSERT_TRUE(configure(net->a(), {"link add vc address 02:00:00:00:0a:03 type veth peer name vd",
                                     "link set vc up", "link set vd up"}));
    const unique_fd at_b = listener(net->b(), "vb"), at_d = listener(net->a(), "vd");
    EXPECT_EQ(said_in(net->a(), [] {
        unique_fd sock(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        const bool cycled = clr_flag(sock.get(), "vc", IFF_UP) == 0 && !(get_flags(sock.get(), "vc") & IFF_UP)
                            && set_flag(sock.get(), "vc", IFF_UP) == 0 && (get_flags(sock.get(), "vc") & IFF_UP);
        unique_fd va = initdevice("va"), vc = initdevice("vc");
        const arp_frame by_va = build_arp_announcement({2, 0, 0, 0, 0x0a, 1}, inet_addr(moved));
        const arp_frame by_vc = build_arp_announcement({2, 0, 0, 0, 0x0a, 3}, inet_addr(moved));
        platform::backend& os = platform::active();
        return !cycled * 100 + os.packet_write(va.get(), by_va) * 10 + os.packet_write(vc.get(), by_vc);
    }), "0");
    EXPECT_EQ(announcements(at_b.get(), moved), announcements_by("020000000a01", 1));
    EXPECT_EQ(announcements(at_d.get(), moved), announcements_by("020000000a03", 1));
}

TEST_F(Vtnet, Takeover)
{
    const std::string &a = net->a(), &b = net->b(), &o = net->observer();
    // A host route to it, as a former owner may have left it: the take removes it.
    ASSERT_TRUE(configure(a, {"addr add 198.51.100.1/24 dev va", "addr add 203.0.113.1/24 dev va",
                              "route add 192.0.2.100/32 via 127.0.0.1 dev lo",
                              "route add 192.0.2.202/32 via 192.0.2.2"}));
    // Per interface the count of other addresses, '+' holding the moved one; A's host routes.
    auto held = [&] {
        std::string out;
        for (auto [ns, dev] : {std::pair{a, "va"}, {a, "lo"}, {b, "vb"}}) {
            const std::string shown = net->ip_out(ns, std::string("-4 -o addr show dev ") + dev);
            const bool has = shown.find(" 192.0.2.100/32 ") != std::string::npos;
            out += dev + std::to_string(std::ranges::count(shown, '\n') - has) + (has ? "+ " : " ");
        }
        for (const char* to : {"192.0.2.50", moved})
            out += net->ip_out(a, std::string("route show ") + to).empty() ? "" : std::string(to) + " ";
        return out;
    };
    const std::string released = "0 do_release_ip device ", queued = " | queued 192.0.2.100";
    const std::string parked = " | parked 192.0.2.100 on lo0 | SUCCESS";
    const std::string warned = " | WARNING (T):: addresses parked on lo0 are still claimed by ARP on va: "
                               "set net.ipv4.conf.va.arp_ignore=1 and arp_announce=2";
    const std::string by_a = announcements_by("020000000a01", 3);
    const std::string routed = "va3 lo1 vb1 192.0.2.100 ";
    const struct { const std::string& ns; std::string args, said, held, wire = "-"; } steps[] = {
        {a, "route add 192.0.2.50", "0 SUCCESS", "va3 lo1 vb1 192.0.2.50 192.0.2.100 "},
        {a, "route del 192.0.2.50", "0 SUCCESS", routed},
        {a, "route add 192.0.2.202", "1 [vtnet: the route to 192.0.2.202 stands via 192.0.2.2 dev va] FAIL", routed},
        {a, "take va 192.0.2.100", took, "va3+ lo1 vb1 ", by_a},
        {o, "ping 192.0.2.100", "0 yes", "va3+ lo1 vb1 "}, // an entry the next take updates
        {a, "release va 192.0.2.100", released + "va IP 192.0.2.100 forget 0" + warned + queued
         + " | removed 192.0.2.100 from va" + parked, "va3 lo1+ vb1 "},
        {a, "take va 192.0.2.100", took, "va3+ lo1 vb1 ", by_a}, // unparked
        {a, "release ERROR 192.0.2.100", released + "ERROR IP 192.0.2.100 forget 0" + queued + parked,
         "va3+ lo1+ vb1 "}, // lo only
        {a, "release ERROR 192.0.2.100", released + "ERROR IP 192.0.2.100 forget 0" + queued + " | SUCCESS",
         "va3+ lo1+ vb1 "}, // parked already
        {b, "take vb 192.0.2.100", "0 DEBUG (T):: [ 192.0.2.100 -> 02:00:00:00:0a:02 ] | SUCCESS",
         "va3+ lo1+ vb1+ ", announcements_by("020000000a02", 3)},
        {o, "arp 192.0.2.100", "0 02:00:00:00:0a:02", "va3+ lo1+ vb1+ "},
        {a, "release ERROR 192.0.2.100 --forget", released + "ERROR IP 192.0.2.100 forget 1" + queued
         + " | removed 192.0.2.100 from lo0 | SUCCESS", "va3+ lo1 vb1+ "},
        {a, "garp va:1 192.0.2.100 5", took, "va3+ lo1 vb1+ ", announcements_by("020000000a01", 5)},
        {a, "cleanup va", "0 removed 198.51.100.1 from va | removed 203.0.113.1 from va"
         " | removed 192.0.2.100 from va | SUCCESS", "va1 lo1 vb1+ "},
    };
    for (const auto& s : steps) {
        expect_said(s.ns, {s.args + " = " + s.said});
        EXPECT_EQ(held(), s.held) << s.args;
        EXPECT_EQ(s.wire == "-" ? "-" : announcements(wire.get(), moved), s.wire) << s.args;
    }
}

// A refused line is one line on stderr and changes nothing.
TEST_F(Vtnet, RefusalsAndQueries)
{
    const std::string& a = net->a();
    ASSERT_TRUE(configure(a, {"route add 192.0.2.100/32 via 127.0.0.1 dev lo", "addr add 198.51.100.1/24 brd + dev va"}));
    auto kernel = [&] {
        return net->ip_out(a, "-4 addr show") + net->ip_out(a, "-4 route show table all") + net->ip_out(a, "-4 neigh show");
    };
    const std::string before = kernel();
    std::vector<std::string> refused = {
        " = 2 [vtnet: no subcommand given (vtnet --help lists them)]",
        "take va 192.0.2.300 = 2 [vtnet take: bad address '192.0.2.300' (four dotted decimal numbers, a host's); "
        "usage: vtnet take IF ADDR]",
        "release va 192.0.2.100 --forgot = 2 [vtnet release: unknown option '--forgot'; usage: vtnet release IF ADDR [--forget]]",
        "hwaddr \"$(printf 'n\\033[2J')\" = 1 [vtnet: no interface 'n?[2J']",
        "check lo = 1 [vtnet: no interface 'lo' (the loopback is lo0)]",
        "cleanup lo0 = 1 [vtnet: cleanup leaves lo0 alone: release parked addresses one by one]",
        "release va 192.0.2.150 = 1 [vtnet: 192.0.2.150 is neither on va nor parked on lo0; nothing changed]",
        "release ERROR 192.0.2.150 = 1 [vtnet: 192.0.2.150 is on no interface here; nothing changed]",
    };
    for (const char* args : {"take nosuch0 192.0.2.100", "release nosuch0 192.0.2.100", "check nosuch0", "cleanup nosuch0",
                             "netmask nosuch0", "hwaddr nosuch0", "addrs nosuch0", "garp nosuch0 192.0.2.100"})
        refused.push_back(args + std::string(" = 1 [vtnet: no interface 'nosuch0']"));
    expect_said(a, refused);
    EXPECT_EQ(kernel(), before);
    expect_said(a, {"ping 192.0.2.9 = 1 no", "arp 192.0.2.9 = 1 ERROR", // asked for, never answered
                    "iface 198.51.100.1 = 0 va", "iface 192.0.2.2 = 1 ERROR", "hwaddr va:2 = 0 02:00:00:00:0a:01",
                    "addrs va = 0 192.0.2.1 netmask 255.255.255.0 | 198.51.100.1 netmask 255.255.255.0"
                    " broadcast 198.51.100.255"});
}

// The peer reaches an address parked on lo0 through va exactly while check says it is answered.
TEST_F(Vtnet, Check)
{
    const std::string& a = net->a();
    ASSERT_TRUE(net->ip(a, "addr add 203.0.113.10/32 dev lo"));
    ASSERT_TRUE(net->ip(net->b(), "route add 203.0.113.10/32 dev vb"));
    // What check says of interface `i`, whose settings the host names `k`.
    const auto announce = [](std::string i, std::string k) {
        return i + " may ask ARP from addresses parked on lo0: set net.ipv4.conf." + k + ".arp_announce=2 | ";
    };
    const auto both = [&](std::string i, std::string k) {
        return i + " answers ARP for addresses parked on lo0: set net.ipv4.conf." + k + ".arp_ignore=1 | "
               + announce(i, k);
    };
    // arp_ignore and arp_announce both at `level`.
    for (auto [level, line] : {std::pair{0, "check = 1 " + both("va", "va") + "FAIL"},
                               {1, "check va = 1 " + announce("va", "va") + "FAIL"},
                               {2, std::string("check = 0 SUCCESS")},
                               {8, std::string("check = 0 SUCCESS")}}) { // 8: no answers at all
        const std::string n = std::to_string(level);
        ASSERT_EQ(run_shell("ip netns exec " + a + " sh -c 'cd /proc/sys/net/ipv4/conf/va && echo " + n
                            + " >arp_ignore && echo " + n + " >arp_announce'").status, 0);
        expect_said(a, {line});
        ASSERT_TRUE(net->ip(net->b(), "neigh flush dev vb"));
        EXPECT_EQ(said_in(net->b(), [] { return unix_ping("203.0.113.10"); }), level ? "1" : "0") << level;
        // An alias reads its interface's settings.
        EXPECT_EQ(said_in(a, [] { return parked_answered_on("va:1"); }), level ? "0" : "1") << level;
    }
    // A second broadcast interface is checked too.
    ASSERT_TRUE(configure(a, {"link add vc type veth peer name vd netns " + net->b(), "link set vc up"}));
    expect_said(a, {"check = 1 " + both("vc", "vc") + "FAIL"});
    ASSERT_TRUE(net->ip(a, "link del vc"));
    // Without privileges a change is refused up front; a probe that cannot be made is no answer.
    const std::string raw = " needs CAP_NET_RAW (run it as root)]";
    expect_said(a, {"check = 1 no CAP_NET_RAW: ping cannot probe and take and garp announce nothing | FAIL",
                    "ping 192.0.2.2 = 3 [vtnet: ping" + raw,
                    "garp va 192.0.2.100 = 1 [vtnet: garp" + raw,
                    "take va 192.0.2.100 = 1 [vtnet: take needs CAP_NET_ADMIN and CAP_NET_RAW (run it as root)]",
                    "release va 192.0.2.1 = 1 [vtnet: release needs CAP_NET_ADMIN (run it as root)]",
                    "cleanup va = 1 [vtnet: cleanup needs CAP_NET_ADMIN (run it as root)]",
                    "route del 192.0.2.1 = 1 [vtnet: route needs CAP_NET_ADMIN (run it as root)]",
                    "netmask va = 0 255.255.255.0"}, true);
    // A down link announces nothing; settings go by the host's name (lo0 is "lo").
    ASSERT_TRUE(configure(a, {"link add lo0 address 02:00:00:00:0a:09 type veth peer name vx1",
                              "addr add 198.51.100.1/24 dev lo0", "link set vx1 up"}));
    const std::string bad = "ERR::arpcast: bad write to device lo ip 192.0.2.160 | : Network is down | ";
    expect_said(a, {"check lo = 1 lo is down: take and garp announce nothing on it | " + both("lo", "lo0") + "FAIL",
                    "take lo 192.0.2.160 = 1 [" + bad + bad + bad + "vtnet: lo is down: 192.0.2.160 was not announced]"
                    " DEBUG (T):: [ 192.0.2.160 -> 02:00:00:00:0a:09 ] | FAIL"});
}

TEST_F(Hostile, ProbeAndTakeoverThroughAFlood)
{
    // A probes on a thread of this process: the forger knows its identifier and sequence.
    std::atomic<std::uint16_t> seq{0};
    std::atomic<std::size_t> sent{0};
    const auto ident = static_cast<std::uint16_t>(::getpid() & 0xffff);
    const unique_fd sock = listener(net->forger(), "vz", 0);
    ASSERT_TRUE(sock.valid());
    std::jthread forger(flood, std::cref(sock), ident, std::cref(seq), std::ref(sent));
    std::string answers;
    for (int i = 0; i < 10; ++i)
        for (const char* target : {live, absent}) {
            seq = static_cast<std::uint16_t>(nsent + 1);
            on_netns_thread(net->a(), [&] { answers += std::to_string(unix_ping(target)); });
        }
    EXPECT_EQ(answers, "01010101010101010101");
    expect_said(net->a(), {"take va 192.0.2.100 = " + took});
    EXPECT_GT(sent, 0u);
}
