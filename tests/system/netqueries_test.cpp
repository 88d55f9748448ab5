// Interface discovery, ARP lookup and the echo probe against the real kernel, inside network
// namespaces the test makes, on a veth pair with documentation addresses.
#include "carp/carp.hpp"
#include "cping/cping.hpp"
#include "cutil/hwaddr.hpp"
#include "cutil/ifconf.hpp"
#include "platform/backend.hpp"
#include "platform/unique_fd.hpp"
#include "support/netns.hpp"
#include "support/pipes.hpp"
#include "support/scripted_kernel.hpp"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>

#include <fstream>
#include <set>
#include <future>
#include <sstream>
#include <thread>

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
    // Runs the ip commands in `ns`, in order; false (the failed one reported) when one fails.
    bool configure(const std::string& ns, std::initializer_list<const char*> steps)
    {
        for (const char* step : steps)
            if (!pair->ip(ns, step)) {
                ADD_FAILURE() << "ip " << step;
                return false;
            }
        return true;
    }
    std::unique_ptr<vttest::netns_pair> pair;
};

std::string device_addresses(const std::string& name)
{
    device_info info;
    return get_device_info(name, info) == 0 ? "none" : vttest::decoded_addresses(info);
}

std::string arp_text(const std::string& address)
{
    std::string hw = get_arp(address);
    return hw.size() == 6 ? ether_sprintf(reinterpret_cast<const std::uint8_t*>(hw.data())) : hw;
}

// One query of a table: what it asks (for the failure message), how, and the answer expected.
struct row {
    std::string what;
    std::function<std::string()> ask;
    std::string want;
};

// Runs the rows in one child inside `ns` and compares every answer with the expected one.
void expect_answers(const std::string& ns, const std::vector<row>& rows)
{
    std::string got = vttest::run_in_netns(ns, [&] {
        std::string out;
        for (const auto& r : rows)
            out += r.what + " -> " + r.ask() + "\n";
        return out;
    });
    std::string want;
    for (const auto& r : rows)
        want += r.what + " -> " + r.want + "\n";
    EXPECT_EQ(got, want);
}

row interface_of(const char* address, const char* want)
{
    return {std::string("interface of ") + address, [=] { return get_ethernet_interface(address); }, want};
}
row netmask_of(const char* name, const char* want)
{
    return {std::string("netmask of ") + name, [=] { return get_netmask(name); }, want};
}
row addresses_of(const char* name, const char* want)
{
    return {std::string("addresses of ") + name, [=] { return device_addresses(name); }, want};
}
row arp_of(const char* address, const char* want)
{
    return {std::string("arp of ") + address, [=] { return arp_text(address); }, want};
}

} // namespace

TEST_F(Netns, InterfaceQueriesSeeWhatIpConfigured)
{
    ASSERT_TRUE(configure(pair->a(), {"addr add 198.51.100.1/25 dev va", "addr add 203.0.113.5/24 dev va label va:5",
                                      "addr add 203.0.113.9/32 dev lo", "link add dn0 type veth peer name dn1",
                                      "addr add 203.0.113.1/24 dev dn0" /* left down */}));
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

TEST_F(Netns, AnAddressIsFoundWhereverItSitsOnItsInterface)
{
    ASSERT_TRUE(configure(pair->a(), {"addr add 198.51.100.1/25 dev va", "addr add 192.0.2.7/24 dev va",
                                      "addr add 203.0.113.5/24 dev va label va:5", "link add vc type veth peer name vd",
                                      "link set vc up", "link set vd up", "addr add 203.0.113.20/24 dev vc label vc:1",
                                      "addr add 203.0.113.21/24 dev vc", "addr add 203.0.113.22/24 dev vc",
                                      "link add ve0 type veth peer name ve1", "link set ve0 up", "link set ve1 up",
                                      "addr add 198.51.100.1/25 dev ve0" /* first there, listed after va */}));
    expect_answers(pair->a(), {interface_of("192.0.2.1", "va"), interface_of("198.51.100.1", "va"),
                               interface_of("192.0.2.7", "va"), interface_of("203.0.113.5", "ERROR"),
                               interface_of("203.0.113.20", "ERROR"), interface_of("203.0.113.21", "vc"),
                               interface_of("203.0.113.22", "vc")});
}

TEST_F(Netns, NetmaskIsThatOfTheFirstAddressWhateverItsLabel)
{
    ASSERT_TRUE(configure(pair->a(), {"link add lo1 type veth peer name lo1p", "addr add 203.0.113.1/28 dev lo1 label lo1:1",
                                      "addr add 203.0.113.100/24 dev lo1", "link add lo2 type veth peer name lo2p",
                                      "addr add 198.51.100.129/25 dev lo2 label lo2:7"}));
    expect_answers(pair->a(), {netmask_of("lo1", "255.255.255.240"), netmask_of("lo1:1", "255.255.255.240"),
                               netmask_of("lo2", "255.255.255.128"), netmask_of("lo2:7", "255.255.255.128"),
                               netmask_of("va", "255.255.255.0"), netmask_of("lo1p", "ERROR")});
}

TEST_F(Netns, TheHostsLoopbackNameIsNoInterfaceOfTheProduct)
{
    ASSERT_TRUE(pair->ip(pair->b(), "addr add 127.0.0.2/8 dev lo label lo:1"));
    expect_answers(pair->b(), {netmask_of("lo", "ERROR"), netmask_of("lo:1", "ERROR"), netmask_of("lo0", "255.0.0.0"),
                               netmask_of("lo0:1", "255.0.0.0"), addresses_of("lo", "none"),
                               {"hardware address of lo", [] { return my_ether_addr("lo"); }, "00:00:00:00:00:00"}});
    // A host interface that carries the product's loopback name is known by the host's.
    ASSERT_TRUE(configure(pair->a(), {"link add lo0 type veth peer name lo0p", "addr add 198.51.100.200/26 dev lo0"}));
    expect_answers(pair->a(), {netmask_of("lo", "255.255.255.192"), netmask_of("lo0", "255.0.0.0"),
                               addresses_of("lo", "198.51.100.200/255.255.255.192 "),
                               addresses_of("lo0", "127.0.0.1/255.0.0.0 ")});
}

TEST_F(Netns, ArpEntriesThatNeedNoResolutionAnswerTheirAddress)
{
    ASSERT_TRUE(configure(pair->a(), {"link add vc type veth peer name vd", "link set vc up", "link set vd up",
                                      "neigh add 192.0.2.50 lladdr 02:00:00:00:0b:01 dev va nud noarp",
                                      "neigh add 203.0.113.60 lladdr 02:00:00:00:0b:02 dev vc nud noarp",
                                      "neigh add 192.0.2.51 lladdr 02:00:00:00:0b:03 dev va nud permanent",
                                      "neigh add 224.0.0.251 lladdr 01:00:5e:00:00:fb dev va nud noarp"}));
    expect_answers(pair->a(), {arp_of("192.0.2.50", "02:00:00:00:0b:01"), arp_of("203.0.113.60", "02:00:00:00:0b:02"),
                               arp_of("192.0.2.51", "02:00:00:00:0b:03"), arp_of("224.0.0.251", "ERROR")});
}

TEST_F(Netns, EveryReadAnswersWhileAddressesChange)
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

namespace {

const int whole_arp_table[6]{bsd::ctl_net, bsd::pf_route, 0, bsd::af_inet, bsd::net_rt_flags, bsd::rtf_llinfo};

// Asks a size, adds an ARP entry for `grown` on vc, runs `between`, then fills a buffer of the
// size first answered through `fill`: "filled" or the error.
std::string size_grow_fill(const std::function<int(void*, std::size_t*)>& query, const std::string& grown,
                           const std::function<void()>& between, bool fill_in_other_thread)
{
    std::size_t size = 0;
    if (int e = query(nullptr, &size))
        return "size " + std::to_string(e);
    if (std::system(("ip neigh add " + grown + " lladdr 02:00:00:00:0e:01 dev vc nud permanent").c_str()) != 0)
        return "ip failed";
    between();
    std::vector<std::byte> buffer(size + 1);
    int e = 0;
    auto fill = [&] { e = query(buffer.data(), &size); };
    if (fill_in_other_thread)
        std::thread(fill).join();
    else
        fill();
    return e == 0 ? "filled" : e == ENOMEM ? "ENOMEM" : std::to_string(e);
}

row size_then_fill(const char* what, const char* grown, const char* only, std::function<void()> between, bool other_thread,
                   const char* want)
{
    return {what, [=] {
                auto query = [only](void* buffer, std::size_t* size) {
                    return only == nullptr ? platform::active().route_sysctl(whole_arp_table, buffer, size)
                                           : platform::active().arp_sysctl(inet_addr(only), buffer, size);
                };
                return size_grow_fill(query, grown, between, other_thread);
            },
            want};
}

} // namespace

TEST_F(Netns, OneAddressIsLookedUpAloneAndAFillFollowsItsOwnSizeOnly)
{
    ASSERT_TRUE(configure(pair->a(), {"link add vc type veth peer name vd", "link set vc up", "link set vd up",
                                      "neigh add 192.0.2.52 lladdr 02:00:00:00:0d:02 dev vc nud permanent",
                                      "neigh add 192.0.2.52 lladdr 02:00:00:00:0d:01 dev va nud permanent",
                                      "neigh add 192.0.2.53 lladdr 02:00:00:00:0d:03 dev va nud permanent",
                                      "neigh add 192.0.2.54 lladdr 02:00:00:00:0d:04 dev va nud permanent"}));
    auto entries_for = [](const char* address) {
        return [=] {
            std::size_t size = 0;
            int e = platform::active().arp_sysctl(inet_addr(address), nullptr, &size);
            return e != 0 ? "error " + std::to_string(e) : std::to_string(size / 164);
        };
    };
    auto nothing = [] {};
    auto iflist_size = [] {
        const int mib[6]{bsd::ctl_net, bsd::pf_route, 0, bsd::af_inet, bsd::net_rt_iflist, 0};
        std::size_t size = 0;
        platform::active().route_sysctl(mib, nullptr, &size);
    };
    expect_answers(pair->a(), {
        arp_of("192.0.2.52", "02:00:00:00:0d:01"), // the lower interface index first
        {"entries for 192.0.2.52", entries_for("192.0.2.52"), "2"},
        {"entries for 192.0.2.99", entries_for("192.0.2.99"), "0"},
        size_then_fill("whole table, fill next", "192.0.2.60", nullptr, nothing, false, "filled"),
        size_then_fill("whole table, another query between", "192.0.2.61", nullptr, iflist_size, false, "ENOMEM"),
        size_then_fill("whole table, fill in another thread", "192.0.2.62", nullptr, nothing, true, "ENOMEM"),
        size_then_fill("one address, fill next", "192.0.2.53", "192.0.2.53", nothing, false, "filled"),
        size_then_fill("one address, another query between", "192.0.2.54", "192.0.2.54", iflist_size, false, "ENOMEM"),
    });
}
