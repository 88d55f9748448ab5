// Interface discovery, ARP lookup and the echo probe against the real kernel, inside network
// namespaces the test makes, on a veth pair with documentation addresses.
#include "carp/carp.hpp"
#include "cping/cping.hpp"
#include "cutil/hwaddr.hpp"
#include "cutil/ifconf.hpp"
#include "cutil/iflist.hpp"
#include "cutil/unique_fd.hpp"
#include "support/netns.hpp"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <set>
#include <sstream>

using namespace cutil;

namespace {

class Netns : public testing::Test {
protected:
    void SetUp() override
    {
        std::string why = vttest::netns_unavailable();
        if (!why.empty())
            GTEST_SKIP() << why;
        pair = std::make_unique<vttest::netns_pair>();
        if (!pair->failure().empty())
            GTEST_SKIP() << "cannot make the namespaces: " << pair->failure();
    }
    std::unique_ptr<vttest::netns_pair> pair;
};

// The IPv4 addresses and netmasks of an interface, as get_device_info decodes them.
std::string device_addresses(const std::string& name)
{
    device_info info;
    if (get_device_info(name, info) == 0)
        return "none";
    std::set<std::string> found;
    const std::byte* msg = info.first_addr;
    for (int i = 0; i < info.addr_count; ++i, msg += msglen_at(msg)) {
        rt_addrinfo ai;
        ai.rti_addrs = bsd::load<bsd::ifa_msghdr>(msg).ifam_addrs;
        rt_xaddrs(msg + sizeof(bsd::ifa_msghdr), msg + msglen_at(msg), ai);
        if (ai.rti_info[bsd::rtax_ifa] == nullptr || ai.rti_info[bsd::rtax_netmask] == nullptr)
            return "undecodable";
        in_addr a{sockaddr_in_addr(ai.rti_info[bsd::rtax_ifa])}, m{sockaddr_in_addr(ai.rti_info[bsd::rtax_netmask])};
        std::string text = inet_ntoa(a);
        found.insert(text + "/" + inet_ntoa(m));
    }
    std::string out;
    for (auto& f : found)
        out += f + " ";
    return out;
}

std::string hex(const std::string& raw)
{
    return raw.size() == 6 ? ether_sprintf(reinterpret_cast<const std::uint8_t*>(raw.data())) : raw;
}

} // namespace

TEST_F(Netns, InterfaceQueriesSeeWhatIpConfigured)
{
    ASSERT_TRUE(pair->ip(pair->a(), "addr add 198.51.100.1/25 dev va"));
    ASSERT_TRUE(pair->ip(pair->a(), "addr add 203.0.113.5/24 dev va label va:5"));
    ASSERT_TRUE(pair->ip(pair->a(), "addr add 203.0.113.9/32 dev lo"));
    ASSERT_TRUE(pair->ip(pair->a(), "link add dn0 type veth peer name dn1"));
    ASSERT_TRUE(pair->ip(pair->a(), "addr add 203.0.113.1/24 dev dn0")); // left down

    std::string out = vttest::run_in_netns(pair->a(), [] {
        std::ostringstream o;
        o << "eth " << get_ethernet_interface("192.0.2.1") << "\n"
          << "ip " << real_ip_address << "\n"
          << "loop " << get_ethernet_interface("203.0.113.9") << "\n"
          << "down " << get_ethernet_interface("203.0.113.1") << "\n"
          << "alias " << get_ethernet_interface("203.0.113.5") << "\n"
          << "peer " << get_ethernet_interface("192.0.2.2") << "\n"
          << "mask " << get_netmask("va") << " " << get_netmask("lo0") << "\n"
          << "va " << device_addresses("va") << "\n"
          << "lo0 " << device_addresses("lo0") << "\n"
          << "lo " << device_addresses("lo") << "\n"
          << "v " << device_addresses("v") << "\n"
          << "mac " << my_ether_addr("va") << " " << my_ether_addr("nosuch0") << "\n";
        return o.str();
    });
    EXPECT_EQ(out, "eth va\n"
                   "ip 192.0.2.1\n"
                   "loop ERROR\n"
                   "down ERROR\n"
                   "alias ERROR\n"
                   "peer ERROR\n"
                   "mask 255.255.255.0 255.0.0.0\n"
                   "va 192.0.2.1/255.255.255.0 198.51.100.1/255.255.255.128 203.0.113.5/255.255.255.0 \n"
                   "lo0 127.0.0.1/255.0.0.0 203.0.113.9/255.255.255.255 \n"
                   "lo none\n"
                   "v none\n"
                   "mac 02:00:00:00:0a:01 00:00:00:00:00:00\n");
}

TEST_F(Netns, ProbeAndArpLookupOfThePeer)
{
    std::string out = vttest::run_in_netns(pair->a(), [] {
        std::ostringstream o;
        o << "before " << get_arp("192.0.2.2") << "\n";
        o << "ping " << unix_ping("192.0.2.2") << "\n";
        o << "arp " << hex(get_arp("192.0.2.2")) << "\n";
        o << "absent " << unix_ping("192.0.2.77") << "\n";
        o << "unresolved " << get_arp("192.0.2.77") << "\n"; // the entry left behind has no address
        o << "unknown " << get_arp("203.0.113.77") << "\n";
        return o.str();
    });
    EXPECT_EQ(out, "before ERROR\n"
                   "ping 0\n"
                   "arp 02:00:00:00:0a:02\n"
                   "absent 1\n"
                   "unresolved ERROR\n"
                   "unknown ERROR\n");
}

namespace {

enum class forge { other_ident, older_seq, echo_request, true_reply };

// In the peer's namespace (whose kernel stays silent): waits for one echo request and answers
// it with a crafted datagram.
void forge_one_reply(forge how, const std::function<void()>& ready)
{
    cutil::unique_fd sock(::socket(AF_INET, SOCK_RAW, IPPROTO_ICMP));
    if (!sock)
        return;
    ready();
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
        std::size_t len = static_cast<std::size_t>(n) - hlen;
        std::uint16_t ident, seq;
        std::memcpy(&ident, icmp + 4, 2);
        std::memcpy(&seq, icmp + 6, 2);
        icmp[0] = std::byte{how == forge::echo_request ? std::uint8_t{8} : std::uint8_t{0}};
        if (how == forge::other_ident)
            ++ident;
        if (how == forge::older_seq)
            --seq;
        std::memcpy(icmp + 4, &ident, 2);
        std::memcpy(icmp + 6, &seq, 2);
        std::memset(icmp + 2, 0, 2);
        std::uint16_t sum = in_cksum(icmp, len);
        std::memcpy(icmp + 2, &sum, 2);
        ::sendto(sock.get(), icmp, len, 0, reinterpret_cast<sockaddr*>(&from), sizeof from);
        return;
    }
}

} // namespace

TEST_F(Netns, ProbeIgnoresRepliesOfOtherIdentifiersAndOlderSequences)
{
    ASSERT_TRUE(pair->exec(pair->b(), "sysctl -qw net.ipv4.icmp_echo_ignore_all=1"));
    for (forge how : {forge::other_ident, forge::older_seq, forge::echo_request, forge::true_reply}) {
        pid_t responder = vttest::start_in_netns(pair->b(), [how](auto& ready) { forge_one_reply(how, ready); });
        ASSERT_GT(responder, 0);
        std::string answer = vttest::run_in_netns(pair->a(), [] { return std::to_string(unix_ping("192.0.2.2")); });
        int status = 0;
        ::waitpid(responder, &status, 0);
        EXPECT_EQ(answer, how == forge::true_reply ? "0" : "1") << static_cast<int>(how);
    }
}
