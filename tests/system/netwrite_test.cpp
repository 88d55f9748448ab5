// Address, route, flag and gratuitous ARP changes against the real kernel, inside network
// namespaces the test makes, checked with the ip command and a packet socket of the peer.
#include "cping/cping.hpp"
#include "cutil/arpcast.hpp"
#include "cutil/ifaddr.hpp"
#include "support/console.hpp"
#include "support/netns_fixture.hpp"
#include "support/pipes.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sched.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>

#include <cstring>
#include <fstream>
#include <future>

using namespace cutil;
using vttest::ip_output;

namespace {

class NetWrite : public vttest::netns_test {
protected:
    // The answer and the (timeless) console of `fn` run inside namespace a.
    std::string in_a(const std::function<int()>& fn)
    {
        return vttest::run_in_netns(pair->a(), [&] {
            int result = 0;
            vttest::console c = vttest::console_of([&] { result = fn(); });
            return std::to_string(result) + " " + vttest::timeless(c.out + c.err);
        });
    }
};

bool flag_up(const std::string& link_line)
{
    std::string flags = link_line.substr(0, link_line.find('>'));
    return flags.find("<UP,") != std::string::npos || flags.find(",UP,") != std::string::npos;
}

} // namespace

TEST_F(NetWrite, AddressesAddedAndRemovedAsIpShowsThem)
{
    const std::string no_addr = "Cannot assign requested address\n";
    struct row {
        const char *ifname, *addr, *mask, *brd;
        int remove;
        std::string answer;
        const char* dev;   // where ip looks
        std::string shown; // " inet ..." expected there, or "-" followed by what must be absent
    } rows[] = {
        {"va", "203.0.113.9", "255.255.255.255", nullptr, 0, "0 ", "va", " inet 203.0.113.9/32 "},
        {"va", "203.0.113.9", "255.255.255.255", nullptr, 0, "0 ", "va", " inet 203.0.113.9/32 "},
        {"va", "203.0.113.9", nullptr, nullptr, 1, "0 ", "va", "- 203.0.113.9/"},
        {"va", "203.0.113.9", nullptr, nullptr, 1, "1 ERR (T):: SIOCSIFADDR on va (203.0.113.9): " + no_addr, "va", "- 203.0.113.9/"},
        {"va", "203.0.113.9", "255.255.255.x", "203.0.113.x", 0,
         "1 ERR (T):: unix_ifconfig was called with bad netmask: Numerical argument out of domain\n"
         "ERR (T):: unix_ifconfig was called with bad broadcast address: Numerical argument out of domain\n", "va",
         "- 203.0.113.9/"},
        {"va", "198.51.100.1", "255.255.255.0", "198.51.100.255", 0, "0 ", "va", " inet 198.51.100.1/24 brd 198.51.100.255 "},
        {"va", "203.0.113.20", nullptr, nullptr, 0, "0 ", "va", " inet 203.0.113.20/24 "}, // the class's netmask
        {"va", "203.0.113.21", "255.0.255.0", nullptr, 0, "1 ERR (T):: SIOCSIFADDR on va (203.0.113.21) : Invalid argument\n",
         "va", "- 203.0.113.21/"},
        {"lo0", "203.0.113.10", "255.255.255.255", nullptr, 0, "0 ", "lo", " inet 203.0.113.10/32 "},
        {"nosuch0", "203.0.113.11", "255.255.255.255", nullptr, 0,
         "1 ERR (T):: SIOCSIFADDR on nosuch0 (203.0.113.11) : No such device or address\n", "va", "- 203.0.113.11/"},
    };
    for (const row& r : rows) {
        std::string label = std::string(r.ifname) + " " + r.addr + (r.remove ? " remove" : " add");
        EXPECT_EQ(in_a([&] {
            errno = EDOM; // what a malformed text is reported with
            return unix_ifconfig(r.ifname, r.addr, r.mask, r.brd, 0, r.remove);
        }), r.answer) << label;
        std::string shown = ip_output(pair->a(), std::string("-4 -o addr show dev ") + r.dev);
        if (r.shown.starts_with("-"))
            EXPECT_EQ(shown.find(r.shown.substr(1)), std::string::npos) << label << "\n" << shown;
        else
            EXPECT_NE(shown.find(r.shown), std::string::npos) << label << "\n" << shown;
    }
}

// The detection agrees with what the kernel does: the peer reaches an address parked on lo0
// through va exactly while parked addresses are said to be answered there.
TEST_F(NetWrite, ParkedAddressAnsweredOnTheLinkUntilArpIgnoreSaysNot)
{
    ASSERT_EQ(in_a([] { return unix_ifconfig("lo0", "203.0.113.10", "255.255.255.255", nullptr, 0, 0); }), "0 ");
    ASSERT_TRUE(pair->ip(pair->b(), "route add 203.0.113.10/32 dev vb"));
    for (int arp_ignore : {0, 1}) {
        ASSERT_EQ(in_a([&] { return (std::ofstream("/proc/sys/net/ipv4/conf/va/arp_ignore") << arp_ignore).good() ? 0 : 1; }), "0 ");
        ASSERT_TRUE(pair->ip(pair->b(), "neigh flush dev vb"));
        std::string answered = vttest::run_in_netns(pair->b(), [] { return std::to_string(unix_ping("203.0.113.10")); });
        EXPECT_EQ(answered, arp_ignore == 0 ? "0" : "1") << arp_ignore;
        EXPECT_EQ(in_a([] { return parked_answered_on("va") * 10 + parked_answered_on("nosuch0"); }),
                  arp_ignore == 0 ? "10 " : "0 ") << arp_ignore;
    }
}

// A change after the process moved to another namespace lands there, not through a netlink
// socket left open in the first one.
TEST_F(NetWrite, ChangesFollowTheProcessIntoAnotherNamespace)
{
    std::string b = pair->b();
    EXPECT_EQ(in_a([&] {
                  int first = unix_ifconfig("va", "203.0.113.30", "255.255.255.255", nullptr, 0, 0);
                  unique_fd ns(::open(("/var/run/netns/" + b).c_str(), O_RDONLY | O_CLOEXEC));
                  if (!ns || ::setns(ns.get(), CLONE_NEWNET) != 0)
                      return -1;
                  return first * 10 + unix_ifconfig("vb", "203.0.113.31", "255.255.255.255", nullptr, 0, 0);
              }),
              "0 ");
    EXPECT_NE(ip_output(b, "-4 -o addr show dev vb").find(" inet 203.0.113.31/32 "), std::string::npos);
    EXPECT_EQ(ip_output(pair->a(), "-4 -o addr show").find("203.0.113.31"), std::string::npos);
}

TEST_F(NetWrite, HostRoutesAddedAndDeletedAsIpShowsThem)
{
    struct row {
        int del;
        std::string shown;
    } rows[] = {{0, "203.0.113.9 via 127.0.0.1 dev lo proto static \n"},
                {0, "203.0.113.9 via 127.0.0.1 dev lo proto static \n"}, // already there: done
                {1, ""},
                {1, ""}}; // already gone: done
    for (const row& r : rows) {
        EXPECT_EQ(in_a([&] { return unix_route("va", "203.0.113.9", 0, r.del); }), "0 ") << r.del;
        EXPECT_EQ(ip_output(pair->a(), "route show 203.0.113.9"), r.shown) << r.del;
    }
}

TEST_F(NetWrite, InterfaceTakenDownAndUpAgain)
{
    for (int up : {0, 1}) {
        EXPECT_EQ(in_a([&] {
                      unique_fd sock(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
                      int r = up ? set_flag(sock.get(), "va", IFF_UP) : clr_flag(sock.get(), "va", IFF_UP);
                      return r * 10 + (get_flags(sock.get(), "va") & IFF_UP);
                  }),
                  up ? "1 " : "0 ");
        EXPECT_EQ(flag_up(ip_output(pair->a(), "-o link show va")), up == 1) << up;
    }
}

namespace {

// In the peer's namespace: the ARP frames that arrive on vb announcing `addr`, until none has
// come for half a second.
std::string capture_announcements(int ready, const char* addr)
{
    unique_fd sock(::socket(AF_PACKET, SOCK_RAW, htons(ETH_P_ARP)));
    sockaddr_ll where{};
    where.sll_family = AF_PACKET;
    where.sll_protocol = htons(ETH_P_ARP);
    where.sll_ifindex = static_cast<int>(::if_nametoindex("vb"));
    if (!sock || ::bind(sock.get(), reinterpret_cast<sockaddr*>(&where), sizeof where) < 0 || ::write(ready, "r", 1) != 1)
        return "no packet socket";
    std::uint32_t wanted = inet_addr(addr);
    std::string frames;
    pollfd pfd{sock.get(), POLLIN, 0};
    while (::poll(&pfd, 1, frames.empty() ? 5000 : 500) == 1) {
        unsigned char buf[1600];
        ssize_t n = ::recv(sock.get(), buf, sizeof buf, 0);
        if (n >= 42 && std::memcmp(buf + 28, &wanted, 4) == 0)
            frames += std::string(reinterpret_cast<char*>(buf), static_cast<std::size_t>(n)) + "|";
    }
    return frames;
}

} // namespace

TEST_F(NetWrite, ThreeAnnouncementsOfTheAliasAddressReachThePeer)
{
    vttest::pipe_ends ready;
    auto peer = std::async(std::launch::async, [&] {
        return vttest::run_in_netns(pair->b(), [&] { return capture_announcements(ready.w, "192.0.2.77"); });
    });
    pollfd pfd{ready.r, POLLIN, 0};
    ASSERT_EQ(::poll(&pfd, 1, 5000), 1) << peer.get();
    EXPECT_EQ(in_a([] { arpcast("va:1", "192.0.2.77", 3); return 0; }),
              "0 DEBUG (T):: [ 192.0.2.77 -> 02:00:00:00:0a:01 ]\n");
    const std::string hw("\x02\x00\x00\x00\x0a\x01", 6), ip("\xc0\x00\x02\x4d", 4);
    const std::string frame = std::string(6, '\xff') + hw + "\x08\x06" + std::string("\x00\x01\x08\x00\x06\x04\x00\x01", 8)
                              + hw + ip + hw + ip;
    EXPECT_EQ(peer.get(), frame + "|" + frame + "|" + frame + "|");
}
