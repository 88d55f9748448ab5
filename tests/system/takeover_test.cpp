// The takeover on the real kernel through the vtnet command: hosts A and B and an observer on one
// bridged segment, each a network namespace the test makes, and on a segment of its own a forger
// flooding it with forged echo replies and ARP frames. What the kernel holds is read back with ip;
// what the segment saw is captured on the observer's bridge.
#include "cping/cping.hpp"
#include "cutil/arpframe.hpp"
#include "support/child.hpp"
#include "support/netns_fixture.hpp"
#include "support/queries.hpp"

#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/ip.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

using namespace cutil;

namespace {

constexpr const char* moved = "192.0.2.100";
const std::string took = "0 DEBUG (T):: [ 192.0.2.100 -> 02:00:00:00:0a:0"; // what a take said, but the host's number

// In hex, `n` announcements of the moved address by `hw`, which also stands as the target's.
std::string announcements_by(const std::string& hw, int n)
{
    std::string out;
    while (n-- > 0)
        out += "ffffffffffff" + hw + "0806" + "0001080006040001" + hw + "c0000264" + hw + "c0000264\n";
    return out;
}

// "STATUS [standard error] standard output" of "vtnet ARGS" in `ns` (as nobody when asked), lines
// parted by " | ", timed lines made constant.
std::string vtnet(const std::string& ns, const std::string& args, bool as_nobody = false)
{
    const std::string line = "exec ip netns exec " + ns + (as_nobody ? " setpriv --reuid=65534 --regid=65534 --clear-groups --inh-caps=-all" : "")
                             + " '" VTNET_BINARY "' " + args;
    vttest::child_run c = vttest::run_in_child([&]() -> std::string {
        ::execl("/bin/sh", "sh", "-c", line.c_str(), static_cast<char*>(nullptr));
        std::_Exit(127);
    });
    auto lines = [](std::string text) {
        for (std::size_t at; (at = text.find('\n')) != std::string::npos;)
            text.replace(at, 1, at + 1 == text.size() ? "" : " | ");
        return vttest::timeless(text);
    };
    return std::to_string(c.status) + (c.err.empty() ? "" : " [" + lines(c.err) + "]") + (c.out.empty() ? "" : " " + lines(c.out));
}

// Runs each "ARGS = STATUS ..." of `lines` in `ns` (as nobody when asked), in order.
void expect_said(const std::string& ns, const std::vector<std::string>& lines, bool as_nobody = false)
{
    std::string said;
    for (const std::string& line : lines)
        said += line.substr(0, line.find(" = ")) + " = " + vtnet(ns, line.substr(0, line.find(" = ")), as_nobody) + "\n";
    EXPECT_EQ(said, vttest::joined(lines));
}

using frame = std::vector<std::uint8_t>;

constexpr const char* live = "192.0.2.2";
constexpr const char* absent = "192.0.2.99";
const std::uint8_t mac_forger[6]{0x02, 0, 0, 0, 0x0a, 0x04};

// An echo message of `type` as the probe writes one, `payload` bytes after its header, cut to `keep`.
frame icmp(std::uint8_t type, std::uint16_t ident, std::uint16_t seq, std::size_t payload, std::size_t keep = SIZE_MAX)
{
    frame m(std::max(8 + payload, echo_request_size));
    build_echo_request(reinterpret_cast<std::byte*>(m.data()), ident, seq);
    m.resize(std::min(8 + payload, keep));
    m[0] = type, m[2] = m[3] = 0;
    const std::uint16_t sum = in_cksum(m.data(), m.size());
    std::memcpy(m.data() + 2, &sum, 2);
    return m;
}

// The frames that carry `message` from `src` to host A: one IPv4 datagram, in fragments of 1480
// bytes when it does not fit the segment's MTU.
void to_a(std::vector<frame>& out, const char* src, const frame& message)
{
    const auto id = static_cast<std::uint16_t>(out.size());
    for (std::size_t at = 0; at < message.size(); at += 1480) {
        const std::size_t n = std::min<std::size_t>(1480, message.size() - at);
        const auto more = static_cast<std::uint16_t>(at + n < message.size() ? IP_MF : 0);
        iphdr ip{.tot_len = htons(static_cast<std::uint16_t>(20 + n)), .id = htons(id), .frag_off = htons(static_cast<std::uint16_t>(more | at / 8)),
                 .ttl = 64, .protocol = IPPROTO_ICMP, .saddr = ::inet_addr(src), .daddr = ::inet_addr("192.0.2.1")};
        ip.ihl = 5;
        ip.version = 4;
        ip.check = in_cksum(&ip, sizeof ip);
        frame& f = out.emplace_back(frame{0x02, 0, 0, 0, 0x0a, 0x01, 0x02, 0, 0, 0, 0x0a, 0x04, 0x08, 0x00}); // forger to A, IPv4
        f.insert(f.end(), reinterpret_cast<std::uint8_t*>(&ip), reinterpret_cast<std::uint8_t*>(&ip + 1));
        f.insert(f.end(), message.data() + at, message.data() + at + n);
    }
}

// Every forgery of an answer to the probe `ident`/`seq` for both addresses it probes (only the
// target itself sends the true answer), and ARP frames the segment's hosts must not take for an
// owner's word: about other addresses, and malformed ones about the moved address.
std::vector<frame> forgeries(std::uint16_t ident, std::uint16_t seq)
{
    std::vector<frame> out;
    const auto other = static_cast<std::uint16_t>(ident ^ 0x5a5a), late = static_cast<std::uint16_t>(seq - 1);
    for (const char* target : {live, absent}) {
        to_a(out, target, icmp(icmp_echo_reply, other, seq, 56));   // another process's reply
        to_a(out, target, icmp(icmp_echo_reply, ident, late, 56));  // a late reply to an earlier probe
        to_a(out, target, icmp(icmp_echo_reply, other, seq, 3000)); // oversized, in fragments
        to_a(out, target, icmp(icmp_echo_reply, ident, seq, 0, 4)); // a runt
    }
    for (const char* elsewhere : {"192.0.2.3", "192.0.2.4", "198.51.100.7"}) {
        to_a(out, elsewhere, icmp(icmp_echo_reply, ident, seq, 56));   // the right reply from elsewhere
        to_a(out, elsewhere, icmp(icmp_echo_reply, ident, seq, 3000)); // the same, oversized
    }
    auto arp = [&](const char* addr, std::size_t length) -> frame& {
        const arp_frame f = build_arp_announcement(mac_forger, ::inet_addr(addr));
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(f.data());
        return out.emplace_back(bytes, bytes + length);
    };
    arp(moved, 42)[18] = 5;    // hardware address length
    arp(moved, 42)[19] = 6;    // protocol address length
    arp(moved, 42)[16] = 0x86; // protocol
    arp(moved, 20), arp(moved, 30);
    arp("198.51.100.9", 42);
    arp("203.0.113.6", 42)[41] = 5; // asks for 203.0.113.5
    return out;
}

// Floods the segment from `ns` on a thread of this process until stopped (a minute at most): every
// millisecond, the forgeries for the probe's next sequence `seq`; counts the frames `sent`.
void flood(std::stop_token stop, const std::string& ns, std::uint16_t ident, const std::atomic<std::uint16_t>& seq,
           std::atomic<std::size_t>& sent)
{
    vttest::on_netns_thread(ns, [&] {
        unique_fd sock(::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0));
        sockaddr_ll to{.sll_family = AF_PACKET, .sll_ifindex = static_cast<int>(::if_nametoindex("vz")), .sll_halen = 6};
        const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        for (; sock && !stop.stop_requested() && std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(std::chrono::milliseconds(1)))
            for (const frame& f : forgeries(ident, seq))
                sent += ::sendto(sock.get(), f.data(), f.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) > 0;
    });
}

using Vtnet = vttest::segment_test;
using Hostile = vttest::netns_fixture<vttest::netns_segment, true>;

} // namespace

TEST_F(Vtnet, QueriesAnswerWhatTheKernelHolds)
{
    ASSERT_TRUE(net->ip(net->a(), "addr add 198.51.100.1/24 brd + dev va"));
    expect_said(net->a(), {"ping 192.0.2.2 = 0 yes", "ping 192.0.2.9 = 1 no", "arp 192.0.2.2 = 0 02:00:00:00:0a:02",
                           "arp 192.0.2.9 = 1 ERROR" /* asked for, never answered */, "iface 198.51.100.1 = 0 va",
                           "iface 192.0.2.2 = 1 ERROR", "netmask va = 0 255.255.255.0", "netmask nosuch0 = 1 [ERR (T):: could not read netmask] ERROR",
                           "hwaddr va = 0 02:00:00:00:0a:01", "hwaddr nosuch0 = 1 ERROR", "addrs nosuch0 = 1 ERROR",
                           "addrs va = 0 192.0.2.1 netmask 255.255.255.0 | 198.51.100.1 netmask 255.255.255.0 broadcast 198.51.100.255"});
}

// The address moves from host to host. After each line: what vtnet said, what A's va and lo and B's
// vb hold with A's host routes, and (where counted) the announcements of the address on the wire.
TEST_F(Vtnet, TakeoverLandsInTheKernelOnTheWireAndAtTheObserver)
{
    const std::string &a = net->a(), &b = net->b(), &o = net->observer();
    // A host route to the address, as a former owner may have left it: the take removes it.
    ASSERT_TRUE(configure(a, {"addr add 198.51.100.1/24 dev va", "addr add 203.0.113.1/24 dev va", "route add 192.0.2.100/32 via 127.0.0.1 dev lo"}));
    auto held = [&] {
        std::string routes;
        for (const char* to : {"192.0.2.50", moved})
            routes += net->ip_out(a, std::string("route show ") + to).empty() ? "" : std::string(" ") + to;
        return addrs(a, "va") + "| " + addrs(a, "lo") + "| " + addrs(b, "vb") + "| routes" + routes;
    };
    const std::string va = "192.0.2.1/24 198.51.100.1/24 203.0.113.1/24 ", lo = "| 127.0.0.1/8 ", vb = "| 192.0.2.2/24 ", m = "192.0.2.100/32 ";
    const std::string a_hw = "020000000a01", b_hw = "020000000a02";
    const std::string released = "0 do_release_ip device ", queued = " | queued 192.0.2.100 | SUCCESS";
    const std::string warned = " | WARNING (T):: addresses parked on lo0 are still claimed by ARP on va: set net.ipv4.conf.va.arp_ignore=1 and arp_announce=2";
    const struct {
        const std::string& ns;
        std::string args, said, held, wire = "-"; // the announcements, where counted
    } steps[] = {
        {a, "route add 192.0.2.50", "0 SUCCESS", va + lo + vb + "| routes 192.0.2.50 192.0.2.100"},
        {a, "route del 192.0.2.50", "0 SUCCESS", va + lo + vb + "| routes 192.0.2.100"},
        {a, "take va 192.0.2.100", took + "1 ] | SUCCESS", va + m + lo + vb + "| routes", announcements_by(a_hw, 3)},
        {o, "ping 192.0.2.100", "0 yes", va + m + lo + vb + "| routes"},
        {o, "arp 192.0.2.100", "0 02:00:00:00:0a:01", va + m + lo + vb + "| routes"},
        {a, "release va 192.0.2.100", released + "va IP 192.0.2.100 forget 0" + warned + queued, va + lo + m + vb + "| routes"},
        {a, "take va 192.0.2.100", took + "1 ] | SUCCESS", va + m + lo + vb + "| routes", announcements_by(a_hw, 3)}, // the parked copy goes
        {a, "release ERROR 192.0.2.100", released + "ERROR IP 192.0.2.100 forget 0" + queued, va + m + lo + m + vb + "| routes"}, // only lo is touched
        {b, "take vb 192.0.2.100", took + "2 ] | SUCCESS", va + m + lo + m + vb + m + "| routes", announcements_by(b_hw, 3)},
        {o, "arp 192.0.2.100", "0 02:00:00:00:0a:02", va + m + lo + m + vb + m + "| routes"}, // followed without asking
        {a, "release ERROR 192.0.2.100 --forget", released + "ERROR IP 192.0.2.100 forget 1" + queued,
         va + m + lo + vb + m + "| routes"},
        {a, "garp va:1 192.0.2.100 5", took + "1 ] | SUCCESS", va + m + lo + vb + m + "| routes", announcements_by(a_hw, 5)},
        {a, "garp va 192.0.2.100 0", took + "1 ] | SUCCESS", va + m + lo + vb + m + "| routes", ""},
        {a, "cleanup va", "0 SUCCESS", "192.0.2.1/24 " + lo + vb + m + "| routes"},
    };
    for (const auto& s : steps) {
        EXPECT_EQ(vtnet(s.ns, s.args), s.said) << s.args;
        EXPECT_EQ(held(), s.held) << s.args;
        EXPECT_EQ(s.wire == "-" ? "-" : announced(moved), s.wire) << s.args;
    }
}

// A line vtnet refuses, or an interface it does not find, is one line on standard error and
// leaves the namespace as it was.
TEST_F(Vtnet, RefusedLinesSayWhyInOneLineAndChangeNothing)
{
    const std::string& a = net->a();
    ASSERT_TRUE(net->ip(a, "route add 192.0.2.100/32 via 127.0.0.1 dev lo"));
    auto kernel = [&] { return net->ip_out(a, "-4 addr show") + net->ip_out(a, "-4 route show table all") + net->ip_out(a, "-4 neigh show"); };
    const std::string before = kernel(), no_if = "= 1 [vtnet: no interface nosuch0]";
    expect_said(a, {" = 2 [vtnet: no subcommand given (vtnet --help lists them)]",
                    "take va 192.0.2.300 = 2 [vtnet take: bad address '192.0.2.300' (four dotted decimal numbers, a host's); usage: vtnet take IF ADDR]",
                    "release va 192.0.2.100 --forgot = 2 [vtnet release: unknown option '--forgot'; usage: vtnet release IF ADDR [--forget]]",
                    "take nosuch0 192.0.2.100 " + no_if, "release nosuch0 192.0.2.100 " + no_if, "check nosuch0 " + no_if,
                    "cleanup nosuch0 = 1 FAIL"});
    EXPECT_EQ(kernel(), before);
}

TEST_F(Vtnet, CheckNamesWhatWouldStopThePrimitives)
{
    const std::string answered = "va answers ARP for addresses parked on lo0: set net.ipv4.conf.va.arp_ignore=1 | ";
    const std::string asks = "va may ask ARP from addresses parked on lo0: set net.ipv4.conf.va.arp_announce=2 | ";
    for (auto [ignore, announce, line] : {std::tuple{0, 0, "check = 1 " + answered + asks + "FAIL"}, {1, 1, "check va = 1 " + asks + "FAIL"},
                                          {2, 2, std::string("check = 0 SUCCESS")}}) {
        ASSERT_TRUE(set_conf(net->a(), "va/arp_ignore", ignore) && set_conf(net->a(), "va/arp_announce", announce));
        expect_said(net->a(), {line});
    }
    // Without privileges: the probe's socket and every packet device are refused.
    std::string refused = "check = 1 [";
    for (int device = 0; device < 16; ++device)
        refused += "open: Operation not permitted | ";
    expect_said(net->a(), {refused + "ERR (T):: initdevice: no bpf devices available as /dev/bpfxx] no raw ICMP socket (Operation not permitted): "
                           "ping answers no for every address | no packet device on va (Operation not permitted): take and garp announce nothing | FAIL"}, true);
}

TEST_F(Hostile, ProbeKeepsItsWordAndTakeoverReachesTheObserverThroughAFlood)
{
    // A probes on a thread of this process, so that the forger knows its identifier and follows its sequence.
    std::atomic<std::uint16_t> seq{0};
    std::atomic<std::size_t> sent{0};
    std::jthread forger(flood, net->forger(), static_cast<std::uint16_t>(::getpid() & 0xffff), std::cref(seq), std::ref(sent));
    std::string answers;
    for (int i = 0; i < 10; ++i)
        for (const char* target : {live, absent}) {
            seq = static_cast<std::uint16_t>(nsent + 1);
            vttest::on_netns_thread(net->a(), [&] { answers += std::to_string(unix_ping(target)); });
        }
    EXPECT_EQ(answers, "01010101010101010101");

    // A holds the address and the observer reaches it there; A gives it up and B takes it over.
    expect_said(net->a(), {"take va 192.0.2.100 = " + took + "1 ] | SUCCESS"});
    expect_said(net->observer(), {"ping 192.0.2.100 = 0 yes", "arp 192.0.2.100 = 0 02:00:00:00:0a:01"});
    expect_said(net->a(), {"release va 192.0.2.100 --forget = 0 do_release_ip device va IP 192.0.2.100 forget 1 | queued 192.0.2.100 | SUCCESS"});
    expect_said(net->b(), {"take vb 192.0.2.100 = " + took + "2 ] | SUCCESS"});
    expect_said(net->observer(), {"arp 192.0.2.100 = 0 02:00:00:00:0a:02", "ping 192.0.2.100 = 0 yes"});
    EXPECT_GT(sent, 0u);
}
