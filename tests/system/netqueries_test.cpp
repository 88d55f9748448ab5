// Interface discovery, ARP lookup and the echo probe against the real kernel, inside network
// namespaces the test makes, on a veth pair with documentation addresses.
#include "cping/cping.hpp"
#include "cutil/hwaddr.hpp"
#include "cutil/iflist.hpp"
#include "platform/backend.hpp"
#include "platform/bytes.hpp"
#include "support/netns_fixture.hpp"
#include "support/pipes.hpp"
#include "support/queries.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>

#include <cstring>
#include <fstream>
#include <future>
#include <set>
#include <sstream>
#include <thread>

using namespace cutil;

namespace {

const int whole_arp_table[6]{bsd::ctl_net, bsd::pf_route, 0, bsd::af_inet, bsd::net_rt_flags, bsd::rtf_llinfo};

// Asks the size of the ARP table (whole, or of one address), adds an entry for `grown` on vc,
// runs `between` ("next": nothing; "between": another query; "thread": the fill on another
// thread), then fills a buffer of the size first answered: "filled" or the error.
std::string size_grow_fill(bool whole, const std::string& between, const std::string& grown)
{
    auto query = [&](void* buffer, std::size_t* size) {
        return whole ? platform::active().route_sysctl(whole_arp_table, buffer, size)
                     : platform::active().arp_sysctl(inet_addr(grown.c_str()), buffer, size);
    };
    std::size_t size = 0;
    if (int e = query(nullptr, &size))
        return "size " + std::to_string(e);
    if (std::system(("ip neigh add " + grown + " lladdr 02:00:00:00:0e:01 dev vc nud permanent").c_str()) != 0)
        return "ip failed";
    const int iflist[6]{bsd::ctl_net, bsd::pf_route, 0, bsd::af_inet, bsd::net_rt_iflist, 0};
    std::size_t other = 0;
    if (between == "between")
        platform::active().route_sysctl(iflist, nullptr, &other);
    std::vector<std::byte> buffer(size + 1);
    int e = 0;
    auto fill = [&] { e = query(buffer.data(), &size); };
    between == "thread" ? std::thread(fill).join() : fill();
    return e == 0 ? "filled" : e == ENOMEM ? "ENOMEM" : std::to_string(e);
}

class NetQueries : public vttest::netns_test {
protected:
    // Asks each "question = answer" of `lines` in one child inside `ns`, in order.
    void expect_answers(const std::string& ns, const std::vector<std::string>& lines)
    {
        EXPECT_EQ(vttest::run_in_netns(ns, [&] { return vttest::answers(lines); }), vttest::joined(lines));
    }
};

} // namespace

TEST_F(NetQueries, InterfacesAddressesAndNetmasksAsIpConfiguredThem)
{
    ASSERT_TRUE(configure(pair->a(), {
        "addr add 198.51.100.1/25 dev va", "addr add 192.0.2.7/24 dev va", "addr add 203.0.113.5/24 dev va label va:5",
        "addr add 203.0.113.9/32 dev lo", "link add dn0 type veth peer name dn1", "addr add 203.0.113.1/24 dev dn0",
        "link add vc type veth peer name vd", "link set vc up", "link set vd up", "addr add 203.0.113.20/24 dev vc label vc:1",
        "addr add 203.0.113.21/24 dev vc", "addr add 203.0.113.22/24 dev vc", "link add ve0 type veth peer name ve1",
        "link set ve0 up", "link set ve1 up", "addr add 198.51.100.1/25 dev ve0" /* first there, listed after va */,
        "link add lo1 type veth peer name lo1p", "addr add 198.51.100.129/28 dev lo1 label lo1:1",
        "addr add 198.51.100.200/24 dev lo1", "link add lo2 type veth peer name lo2p", "addr add 198.51.100.65/26 dev lo2 label lo2:7"}));
    expect_answers(pair->a(), {
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
    ASSERT_TRUE(configure(pair->b(), {"addr add 127.0.0.2/8 dev lo label lo:1"}));
    expect_answers(pair->b(), {"netmask lo = ERROR [ERR (T):: could not read netmask]", "netmask lo:1 = ERROR [ERR (T):: could not read netmask]", "netmask lo0 = 255.0.0.0",
                              "netmask lo0:1 = 255.0.0.0", "addresses lo = none", "hw lo = 00:00:00:00:00:00"});
    // A host interface that carries the product's loopback name is known by the host's.
    ASSERT_TRUE(configure(pair->a(), {"link add lo0 type veth peer name lo0p", "addr add 198.51.100.200/26 dev lo0"}));
    expect_answers(pair->a(), {"netmask lo = 255.255.255.192", "netmask lo0 = 255.0.0.0",
                              "addresses lo = 198.51.100.200/255.255.255.192 ", "addresses lo0 = 127.0.0.1/255.0.0.0 "});
}

TEST_F(NetQueries, ArpLookupsAnswerResolvedEntriesOfOneAddressAndFillsFollowTheirOwnSize)
{
    ASSERT_TRUE(configure(pair->a(), {
        "link add vc type veth peer name vd", "link set vc up", "link set vd up",
        "neigh add 192.0.2.50 lladdr 02:00:00:00:0b:01 dev va nud noarp",
        "neigh add 203.0.113.60 lladdr 02:00:00:00:0b:02 dev vc nud noarp",
        "neigh add 192.0.2.51 lladdr 02:00:00:00:0b:03 dev va nud permanent",
        "neigh add 224.0.0.251 lladdr 01:00:5e:00:00:fb dev va nud noarp",
        "neigh add 192.0.2.52 lladdr 02:00:00:00:0d:02 dev vc nud permanent",
        "neigh add 192.0.2.52 lladdr 02:00:00:00:0d:01 dev va nud permanent",
        "neigh add 192.0.2.53 lladdr 02:00:00:00:0d:03 dev va nud permanent",
        "neigh add 192.0.2.54 lladdr 02:00:00:00:0d:04 dev va nud permanent"}));
    expect_answers(pair->a(), {
        "arp 192.0.2.2 = ERROR", "ping 192.0.2.2 = 0", "arp 192.0.2.2 = 02:00:00:00:0a:02",
        "ping 192.0.2.77 = 1", "arp 192.0.2.77 = ERROR" /* the entry left behind has no address */,
        "arp 203.0.113.77 = ERROR", "arp 192.0.2.50 = 02:00:00:00:0b:01", "arp 203.0.113.60 = 02:00:00:00:0b:02",
        "arp 192.0.2.51 = 02:00:00:00:0b:03", "arp 224.0.0.251 = ERROR",
        "arp 192.0.2.52 = 02:00:00:00:0d:01" /* the lower interface index first */, "entries 192.0.2.52 = 2",
        "entries 192.0.2.99 = 0"});
    EXPECT_EQ(vttest::run_in_netns(pair->a(), [] {
        std::string out;
        for (auto [whole, between, grown] : {std::tuple{true, "next", "192.0.2.60"}, {true, "between", "192.0.2.61"},
                                             {true, "thread", "192.0.2.62"}, {false, "next", "192.0.2.53"}, {false, "between", "192.0.2.54"}})
            out += size_grow_fill(whole, between, grown) + " ";
        return out;
    }), "filled ENOMEM ENOMEM filled ENOMEM ");
}

namespace {

// In the peer's namespace (whose kernel stays silent): answers one echo request with a reply
// carrying another identifier, an older sequence, or (the control) the request's own.
std::string forge_one_reply(int ident_change, int seq_change, int ready)
{
    std::ofstream("/proc/sys/net/ipv4/icmp_echo_ignore_all") << 1;
    cutil::unique_fd sock(::socket(AF_INET, SOCK_RAW, IPPROTO_ICMP));
    if (!sock || ::write(ready, "r", 1) != 1)
        return "no raw socket";
    std::byte buf[1500];
    for (pollfd pfd{sock.get(), POLLIN, 0}; ::poll(&pfd, 1, 3000) == 1;) {
        sockaddr_in from{};
        socklen_t fromlen = sizeof from;
        ssize_t n = ::recvfrom(sock.get(), buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromlen);
        std::size_t hlen = (std::to_integer<std::size_t>(buf[0]) & 0x0f) * 4;
        if (n < 20 || static_cast<std::size_t>(n) < hlen + 8 || std::to_integer<int>(buf[hlen]) != 8)
            continue;
        std::byte* icmp = buf + hlen;
        build_echo_request(icmp, static_cast<std::uint16_t>(bsd::load<std::uint16_t>(icmp + 4) + ident_change),
                           static_cast<std::uint16_t>(bsd::load<std::uint16_t>(icmp + 6) - seq_change));
        icmp[0] = icmp[2] = icmp[3] = std::byte{0}; // made a reply, its checksum computed again
        std::uint16_t sum = in_cksum(icmp, static_cast<std::size_t>(n) - hlen);
        std::memcpy(icmp + 2, &sum, 2);
        ::sendto(sock.get(), icmp, static_cast<std::size_t>(n) - hlen, 0, reinterpret_cast<sockaddr*>(&from), sizeof from);
        return "sent";
    }
    return "no request";
}

} // namespace

TEST_F(NetQueries, ProbeIgnoresRepliesOfOtherIdentifiersAndOlderSequences)
{
    for (auto [ident_change, seq_change, answer] : {std::tuple{1, 0, "1"}, {0, 1, "1"}, {0, 0, "0"}}) {
        vttest::pipe_ends ready;
        auto responder = std::async(std::launch::async, [&] {
            return vttest::run_in_netns(pair->b(), [&] { return forge_one_reply(ident_change, seq_change, ready.w.get()); });
        });
        pollfd pfd{ready.r.get(), POLLIN, 0};
        ASSERT_EQ(::poll(&pfd, 1, 5000), 1) << responder.get();
        EXPECT_EQ(vttest::run_in_netns(pair->a(), [] { return vttest::ask("ping 192.0.2.2"); }), answer) << ident_change << seq_change;
        EXPECT_EQ(responder.get(), "sent");
    }
}

TEST_F(NetQueries, EveryReadAnswersWhileAddressesChange)
{
    vttest::churning_interface churn(*pair, pair->a(), "churn0", "02:00:00:00:0c:01");
    ASSERT_EQ(churn.failure(), "");
    // Reads until the address count was seen to change at least once, 300 at the least.
    std::string out = vttest::run_in_netns(pair->a(), [] {
        int failed = 0, calls = 0;
        std::set<int> counts;
        for (; calls < 3000 && (calls < 300 || counts.size() < 2); ++calls) {
            device_info info;
            if (get_device_info("churn0", info) == 0 || my_ether_addr("churn0") != "02:00:00:00:0c:01")
                ++failed;
            else
                counts.insert(info.addr_count);
        }
        return "failed " + std::to_string(failed) + ", churn seen " + std::to_string(counts.size() > 1);
    });
    EXPECT_EQ(out, "failed 0, churn seen 1");
}
