// The vtnet binary on the real kernel: hosts A and B and an observer on one bridged segment, each
// a network namespace the test makes, vtnet run in them with "ip netns exec". Its answers are
// checked against what ip shows, its announcements against the frames the observer's bridge saw.
#include "support/arp_capture.hpp"
#include "support/child.hpp"
#include "support/netns_fixture.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace {

struct vtnet_run {
    int status = -1;
    std::string out, err;
};

// "ip netns exec NS vtnet ARGS", with every privilege dropped (as nobody) when asked.
vtnet_run vtnet(const std::string& ns, const std::string& args, bool as_nobody = false)
{
    std::vector<std::string> argv{"ip", "netns", "exec", ns};
    if (as_nobody)
        argv.insert(argv.end(), {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--inh-caps=-all"});
    argv.push_back(VTNET_BINARY);
    std::istringstream words(args);
    for (std::string w; words >> w;)
        argv.push_back(w);
    vttest::child_run c = vttest::run_in_child([&]() -> std::string {
        std::vector<char*> v;
        for (auto& a : argv)
            v.push_back(a.data());
        v.push_back(nullptr);
        ::execvp(v[0], v.data());
        std::_Exit(127);
    });
    return {c.status, c.out, c.err};
}

// Sets an ARP setting of va in the namespace (its own, never the host's).
bool set_arp(const std::string& ns, const char* setting, int value)
{
    return vttest::run_in_netns(ns, [&] {
               std::ofstream f(std::string("/proc/sys/net/ipv4/conf/va/") + setting);
               return (f << value).flush() ? "ok" : "failed";
           }) == "ok";
}

// What the namespace holds: addresses, routes of every table, neighbours.
std::string kernel_state(const vttest::netns_segment& seg, const std::string& ns)
{
    return seg.ip_out(ns, "-4 addr show") + seg.ip_out(ns, "-4 route show table all") + seg.ip_out(ns, "-4 neigh show");
}

class Vtnet : public vttest::segment_test {};

const std::string a_hw("\x02\x00\x00\x00\x0a\x01", 6), b_hw("\x02\x00\x00\x00\x0a\x02", 6);

} // namespace

TEST_F(Vtnet, QueriesAnswerWhatTheKernelHolds)
{
    ASSERT_TRUE(seg->ip(seg->a(), "addr add 198.51.100.1/24 brd + dev va"));
    const std::string& a = seg->a();
    const struct {
        std::string args;
        int status;
        std::string out;
        std::string kernel = {}; // ip arguments whose output in A holds the answer too
    } rows[] = {
        {"ping 192.0.2.2", 0, "yes\n"},
        {"ping 192.0.2.9", 1, "no\n"},
        {"arp 192.0.2.2", 0, "02:00:00:00:0a:02\n", "neigh show 192.0.2.2"},
        {"arp 192.0.2.9", 1, "ERROR\n"}, // asked for, never answered
        {"iface 198.51.100.1", 0, "va\n", "-4 -o addr show to 198.51.100.1"},
        {"iface 192.0.2.2", 1, "ERROR\n"},
        {"netmask va", 0, "255.255.255.0\n"},
        {"netmask nosuch0", 1, "ERROR\n"},
        {"hwaddr va", 0, "02:00:00:00:0a:01\n", "link show va"},
        {"hwaddr nosuch0", 1, "ERROR\n"},
        {"addrs va", 0, "192.0.2.1 netmask 255.255.255.0\n198.51.100.1 netmask 255.255.255.0 broadcast 198.51.100.255\n"},
        {"addrs lo0", 0, "127.0.0.1 netmask 255.0.0.0\n"},
        {"addrs nosuch0", 1, "ERROR\n"},
    };
    for (const auto& r : rows) {
        vtnet_run run = vtnet(a, r.args);
        EXPECT_EQ(run.status, r.status) << r.args << "\n" << run.err;
        EXPECT_EQ(run.out, r.out) << r.args;
        if (!r.kernel.empty()) {
            std::string answer = r.out.substr(0, r.out.size() - 1);
            EXPECT_NE(seg->ip_out(a, r.kernel).find(answer), std::string::npos) << r.args;
        }
    }
}

TEST_F(Vtnet, ChangesLandInTheKernelAndOnTheWire)
{
    vttest::arp_capture wire(seg->observer(), "br0");
    ASSERT_TRUE(wire.ok());
    for (const char* extra : {"198.51.100.1/24", "203.0.113.1/24"})
        ASSERT_TRUE(seg->ip(seg->a(), std::string("addr add ") + extra + " dev va"));
    const std::string &a = seg->a(), &b = seg->b(), &o = seg->observer();
    struct shows {
        std::string ns, ip, text; // the output of "ip -n NS IP" holds TEXT, or lacks it after a '-'
    };
    const struct {
        std::string ns, args;
        std::string out_ends; // the last lines of standard output
        std::vector<shows> kernel;
        int frames = -1; // announcements of the address seen on the wire, with the host's hardware address
    } steps[] = {
        {a, "route add 192.0.2.50", "SUCCESS\n", {{a, "route show 192.0.2.50", "via 127.0.0.1 dev lo"}}},
        {a, "route del 192.0.2.50", "SUCCESS\n", {{a, "route show table all 192.0.2.50", "-192.0.2.50"}}},
        {a, "take va 192.0.2.100", "SUCCESS\n", {{a, "-4 -o addr show dev va", "inet 192.0.2.100/32"}}, 3},
        {o, "ping 192.0.2.100", "yes\n", {{o, "neigh show 192.0.2.100", "lladdr 02:00:00:00:0a:01"}}},
        {a, "release va 192.0.2.100", "queued 192.0.2.100\nSUCCESS\n",
         {{a, "-4 -o addr show dev va", "-192.0.2.100"}, {a, "-4 -o addr show dev lo", "inet 192.0.2.100/32"}}},
        {b, "take vb 192.0.2.100", "SUCCESS\n", {{o, "neigh show 192.0.2.100", "lladdr 02:00:00:00:0a:02"}}, 3},
        {a, "release ERROR 192.0.2.100 --forget", "queued 192.0.2.100\nSUCCESS\n",
         {{a, "-4 -o addr show dev lo", "-192.0.2.100"}, {b, "-4 -o addr show dev vb", "inet 192.0.2.100/32"}}},
        {a, "garp va 192.0.2.100 5", "SUCCESS\n", {}, 5},
        {a, "garp va 192.0.2.100 0", "SUCCESS\n", {}, 0},
        {a, "cleanup va", "SUCCESS\n", {{a, "-4 -o addr show dev va", "-198.51.100.1"}, {a, "-4 -o addr show dev va", "-203.0.113.1"}}},
    };
    for (const auto& s : steps) {
        vtnet_run run = vtnet(s.ns, s.args);
        EXPECT_EQ(run.status, 0) << s.args << "\n" << run.err;
        EXPECT_TRUE(run.out.ends_with(s.out_ends)) << s.args << "\n" << run.out;
        for (const auto& k : s.kernel) {
            std::string shown = seg->ip_out(k.ns, k.ip);
            bool absent = k.text.starts_with("-");
            EXPECT_EQ(shown.find(absent ? k.text.substr(1) : k.text) == std::string::npos, absent) << s.args << ": " << k.ip << "\n" << shown;
        }
        if (s.frames < 0)
            continue;
        std::vector<std::string> frames = wire.announcements("192.0.2.100");
        EXPECT_EQ(frames.size(), static_cast<std::size_t>(s.frames)) << s.args;
        for (const auto& f : frames)
            EXPECT_EQ(f.substr(22, 6), s.ns == b ? b_hw : a_hw) << s.args;
    }
    EXPECT_EQ(addrs(a, "va"), "192.0.2.1/24 ");
}

// A line vtnet refuses, or an interface it does not find, is one line on standard error and
// leaves the namespace as it was.
TEST_F(Vtnet, RefusedLinesSayWhyInOneLineAndChangeNothing)
{
    const std::string& a = seg->a();
    ASSERT_TRUE(seg->ip(a, "route add 192.0.2.100/32 via 127.0.0.1 dev lo"));
    const std::string before = kernel_state(*seg, a);
    const struct {
        std::string args;
        int status;
        std::string err_starts;
    } rows[] = {
        {"", 2, "vtnet: no subcommand given"},
        {"takeover va 192.0.2.100", 2, "vtnet: unknown subcommand 'takeover'"},
        {"take va", 2, "vtnet take: missing operand"},
        {"take va 192.0.2.100 3", 2, "vtnet take: unexpected operand '3'"},
        {"take va 192.0.2.300", 2, "vtnet take: bad address '192.0.2.300'"},
        {"take va 0.0.0.0", 2, "vtnet take: bad address '0.0.0.0'"},
        {"take va0123456789abcd 192.0.2.100", 2, "vtnet take: interface name too long"},
        {"release va 192.0.2.100 --forgot", 2, "vtnet release: unknown option '--forgot'"},
        {"garp va 192.0.2.100 1000", 2, "vtnet garp: bad count '1000'"},
        {"route replace 192.0.2.100", 2, "vtnet route: expected add or del"},
        {"take nosuch0 192.0.2.100", 1, "vtnet: no interface nosuch0"},
        {"release nosuch0 192.0.2.100", 1, "vtnet: no interface nosuch0"},
        {"check nosuch0", 1, "vtnet: no interface nosuch0"},
    };
    for (const auto& r : rows) {
        vtnet_run run = vtnet(a, r.args);
        EXPECT_EQ(run.status, r.status) << r.args;
        EXPECT_EQ(run.out, "") << r.args;
        EXPECT_TRUE(run.err.starts_with(r.err_starts)) << r.args << "\n" << run.err;
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << r.args << "\n" << run.err;
    }
    EXPECT_EQ(kernel_state(*seg, a), before);
}

TEST_F(Vtnet, CheckNamesWhatWouldStopThePrimitives)
{
    const std::string& a = seg->a();
    const std::string answered = "va answers ARP for addresses parked on lo0: set net.ipv4.conf.va.arp_ignore=1\n";
    const std::string asks = "va may ask ARP from addresses parked on lo0: set net.ipv4.conf.va.arp_announce=2\n";
    const std::string no_raw = "no raw ICMP socket (Operation not permitted): ping answers no for every address\n";
    const std::string no_device = "no packet device on va (Operation not permitted): take and garp announce nothing\n";
    const struct {
        int arp_ignore, arp_announce;
        std::string args;
        bool as_nobody;
        int status;
        std::string out;
    } rows[] = {
        {0, 0, "check", false, 1, answered + asks + "FAIL\n"},
        {1, 1, "check va", false, 1, asks + "FAIL\n"},
        {2, 2, "check", false, 0, "SUCCESS\n"},
        {8, 2, "check", true, 1, no_raw + no_device + "FAIL\n"},
    };
    for (const auto& r : rows) {
        ASSERT_TRUE(set_arp(a, "arp_ignore", r.arp_ignore) && set_arp(a, "arp_announce", r.arp_announce));
        vtnet_run run = vtnet(a, r.args, r.as_nobody);
        EXPECT_EQ(run.status, r.status) << r.args << "\n" << run.err;
        EXPECT_EQ(run.out, r.out) << r.args << " " << r.arp_ignore << " " << r.arp_announce;
    }
}
