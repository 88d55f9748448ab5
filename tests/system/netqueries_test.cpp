// Interface discovery, ARP lookup and the echo probe against the real kernel, inside network
// namespaces the test makes, on a veth pair with documentation addresses.
#include "carp/carp.hpp"
#include "cping/cping.hpp"
#include "cutil/hwaddr.hpp"
#include "cutil/ifconf.hpp"
#include "platform/unique_fd.hpp"
#include "support/netns.hpp"
#include "support/pipes.hpp"
#include "support/scripted_kernel.hpp"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>

#include <fstream>
#include <future>
#include <sstream>

using namespace cutil;

namespace {

class Netns : public testing::Test {
protected:
    void SetUp() override
    {
        if (std::string why = vttest::netns_unavailable(); !why.empty())
            GTEST_SKIP() << why;
        pair = std::make_unique<vttest::netns_pair>();
        if (!pair->failure().empty())
            GTEST_SKIP() << "cannot make the namespaces: " << pair->failure();
    }
    std::unique_ptr<vttest::netns_pair> pair;
};

std::string device_addresses(const std::string& name)
{
    device_info info;
    return get_device_info(name, info) == 0 ? "none" : vttest::decoded_addresses(info);
}

} // namespace

TEST_F(Netns, InterfaceQueriesSeeWhatIpConfigured)
{
    for (const char* step : {"addr add 198.51.100.1/25 dev va", "addr add 203.0.113.5/24 dev va label va:5",
                             "addr add 203.0.113.9/32 dev lo", "link add dn0 type veth peer name dn1",
                             "addr add 203.0.113.1/24 dev dn0" /* left down */})
        ASSERT_TRUE(pair->ip(pair->a(), step)) << step;
    std::string out = vttest::run_in_netns(pair->a(), [] {
        std::ostringstream o;
        o << "eth " << get_ethernet_interface("192.0.2.1") << " " << real_ip_address << "\n"
          << "loop down alias peer " << get_ethernet_interface("203.0.113.9") << " " << get_ethernet_interface("203.0.113.1")
          << " " << get_ethernet_interface("203.0.113.5") << " " << get_ethernet_interface("192.0.2.2") << "\n"
          << "mask " << get_netmask("va") << " " << get_netmask("lo0") << "\n"
          << "va " << device_addresses("va") << "\n"
          << "lo0 " << device_addresses("lo0") << "\n"
          << "lo v " << device_addresses("lo") << " " << device_addresses("v") << "\n"
          << "mac " << my_ether_addr("va") << " " << my_ether_addr("nosuch0") << "\n";
        return o.str();
    });
    EXPECT_EQ(out, "eth va 192.0.2.1\n"
                   "loop down alias peer ERROR ERROR ERROR ERROR\n"
                   "mask 255.255.255.0 255.0.0.0\n"
                   "va 192.0.2.1/255.255.255.0 198.51.100.1/255.255.255.128 203.0.113.5/255.255.255.0 \n"
                   "lo0 127.0.0.1/255.0.0.0 203.0.113.9/255.255.255.255 \n"
                   "lo v none none\n"
                   "mac 02:00:00:00:0a:01 00:00:00:00:00:00\n");
}

TEST_F(Netns, ProbeAndArpLookupOfThePeer)
{
    std::string out = vttest::run_in_netns(pair->a(), [] {
        std::ostringstream o;
        o << "before " << get_arp("192.0.2.2") << "\nping " << unix_ping("192.0.2.2") << "\n";
        std::string hw = get_arp("192.0.2.2");
        o << "arp " << (hw.size() == 6 ? ether_sprintf(reinterpret_cast<const std::uint8_t*>(hw.data())) : hw) << "\n"
          << "absent " << unix_ping("192.0.2.77") << "\n"
          << "unresolved " << get_arp("192.0.2.77") << "\n" // the entry left behind has no address
          << "unknown " << get_arp("203.0.113.77") << "\n";
        return o.str();
    });
    EXPECT_EQ(out, "before ERROR\nping 0\narp 02:00:00:00:0a:02\nabsent 1\nunresolved ERROR\nunknown ERROR\n");
}

namespace {

// In the peer's namespace (whose kernel stays silent): answers one echo request with a reply
// carrying another identifier, an older sequence, or (the control) the request's own.
enum class forge { other_ident, older_seq, true_reply };

std::string forge_one_reply(forge how, int ready)
{
    std::ofstream("/proc/sys/net/ipv4/icmp_echo_ignore_all") << 1;
    cutil::unique_fd sock(::socket(AF_INET, SOCK_RAW, IPPROTO_ICMP));
    if (!sock || ::write(ready, "r", 1) != 1)
        return "no raw socket";
    std::byte buf[1500];
    pollfd pfd{sock.get(), POLLIN, 0};
    while (::poll(&pfd, 1, 3000) == 1) {
        sockaddr_in from{};
        socklen_t fromlen = sizeof from;
        ssize_t n = ::recvfrom(sock.get(), buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromlen);
        if (n < 20)
            continue;
        std::size_t hlen = (std::to_integer<std::size_t>(buf[0]) & 0x0f) * 4;
        if (static_cast<std::size_t>(n) < hlen + 8 || std::to_integer<int>(buf[hlen]) != 8)
            continue;
        std::byte* icmp = buf + hlen;
        build_echo_request(icmp, static_cast<std::uint16_t>(bsd::load<std::uint16_t>(icmp + 4) + (how == forge::other_ident)),
                           static_cast<std::uint16_t>(bsd::load<std::uint16_t>(icmp + 6) - (how == forge::older_seq)));
        icmp[0] = icmp[2] = icmp[3] = std::byte{0}; // made a reply, its checksum computed again
        std::uint16_t sum = in_cksum(icmp, static_cast<std::size_t>(n) - hlen);
        std::memcpy(icmp + 2, &sum, 2);
        ::sendto(sock.get(), icmp, static_cast<std::size_t>(n) - hlen, 0, reinterpret_cast<sockaddr*>(&from), sizeof from);
        return "sent";
    }
    return "no request";
}

} // namespace

TEST_F(Netns, ProbeIgnoresRepliesOfOtherIdentifiersAndOlderSequences)
{
    for (forge how : {forge::other_ident, forge::older_seq, forge::true_reply}) {
        vttest::pipe_ends ready;
        auto responder = std::async(std::launch::async, [&] {
            return vttest::run_in_netns(pair->b(), [&] { return forge_one_reply(how, ready.w); });
        });
        pollfd pfd{ready.r, POLLIN, 0};
        ASSERT_EQ(::poll(&pfd, 1, 5000), 1) << responder.get();
        std::string answer = vttest::run_in_netns(pair->a(), [] { return std::to_string(unix_ping("192.0.2.2")); });
        EXPECT_EQ(responder.get(), "sent");
        EXPECT_EQ(answer, how == forge::true_reply ? "0" : "1") << static_cast<int>(how);
    }
}
