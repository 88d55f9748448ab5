// The network primitives and vtnet over one scripted kernel.
#include "admin/handlers.hpp"
#include "admin/vtnet.hpp"
#include "carp/carp.hpp"
#include "cping/cping.hpp"
#include "cutil/arpcast.hpp"
#include "cutil/ifaddr.hpp"
#include "cutil/ifconf.hpp"
#include "cutil/iflist.hpp"
#include "cutil/rtmsg.hpp"
#include "cutil/takeover.hpp"
#include "platform/fake.hpp"
#include "platform/routemsg.hpp"
#include "platform/routeread.hpp"
#include "platform/unique_fd.hpp"
#include "support/console.hpp"
#include "support/layouts.hpp"
#include "support/queries.hpp"

#include <arpa/inet.h>

#include <cstring>
#include <functional>
#include <sstream>
#include <variant>

using namespace cutil;
using namespace vttest;
using namespace std::string_literals;

namespace {

const std::uint8_t hw0[6]{0x00, 0xa0, 0xc9, 0x01, 0x02, 0x03};
const std::uint8_t hw1[6]{0x02, 0x00, 0x00, 0x00, 0x00, 0x11};
const std::uint8_t vrrp[6]{0x00, 0x00, 0x5e, 0x00, 0x01, 0x0a};
constexpr int up = bsd::iff_up;
constexpr int bcast = bsd::iff_broadcast;
constexpr int up_bcast = up | bcast | 0x40 | 0x8000; // plus running, multicast
const std::string fxp0 = "addresses fxp0 = 192.0.2.10/255.255.255.0 192.0.2.11/255.255.255.128 ";

class Network : public testing::Test {
protected:
    using call = platform::fake_backend::call;
    platform::fake_backend kernel;
    platform::scoped_backend use{kernel};
    device_info info;

    void SetUp() override
    {
        const char* c24 = "255.255.255.0";
        link(1, "fxp0", hw0, up | bcast, {{"192.0.2.10", c24}, {"192.0.2.11", "255.255.255.128"}});
        link(2, "fxp1", hw1, bcast);
        link(3, "em0", hw0, 0,
             {{"192.0.2.10", c24}, {"192.0.2.11", "255.255.255.255"}, {"198.51.100.1", c24}});
        link(4, "em1", hw1, 0, {{"203.0.113.1", c24, "203.0.113.255"}});
        link(5, "lo0", {}, up | bsd::iff_loopback,
             {{"127.0.0.1", "255.0.0.0"}, {"192.0.2.50", "255.255.255.255"}});
        link(6, "gif1", {}, 0, {{"192.0.2.60"}}); // no netmask
        kernel.parked_answered.insert("em0");
        // 192.0.2.7 still unresolved on em0; its first resolved entry wins.
        arp("192.0.2.1", "em0", hw1);
        arp("192.0.2.7", "em0");
        arp("192.0.2.7", "em1", vrrp);
        arp("192.0.2.7", "longname1", hw1);
        arp("192.0.2.9", "em0");
        // link-level entries, one longer than usual
        kernel.add_conf_link_entry("fxp2", 54);
        kernel.add_conf_link_entry("lo0", 20);
        std::vector<std::tuple<std::string, int, std::string>> conf{
            {"ppp0", up | bsd::iff_pointopoint, "192.0.2.2"},
            {"fxp1", up_bcast, "192.0.2.5"},
            {"fxp0", up_bcast, "192.0.2.5"}};
        // more than a first try holds
        for (int i = 0; i < 100; ++i)
            conf.emplace_back("vlan" + std::to_string(i), up_bcast,
                              "203.0.113." + std::to_string(i + 1));
        for (const auto& [name, flags, a] : conf) {
            kernel.interfaces[name] = {flags, inet_addr(a.c_str()), inet_addr(c24)};
            kernel.add_conf_entry(name, inet_addr(a.c_str()));
        }
        kernel.interfaces["gif0"] = {up, std::nullopt, std::nullopt};
        kernel.interfaces["abcdefghijklmno"] =
            {up_bcast, inet_addr("192.0.2.9"), inet_addr("255.255.0.0")};
        kernel.interfaces["va"].flags = bcast | 0x1000;
        c_ip_init();
    }
    struct address {
        const char *addr, *mask = nullptr, *brd = nullptr;
    };
    void link(std::uint16_t index, std::string_view name, std::span<const std::uint8_t> hw,
              int flags, std::initializer_list<address> addrs = {})
    {
        bsd::put_if_msg(kernel.iflist,
                        {.index = index, .flags = flags, .mtu = 1500, .name = name, .hw = hw});
        for (const address& a : addrs)
            bsd::put_ifa_msg(kernel.iflist, {.index = index, .addr = inet_addr(a.addr),
                .netmask = a.mask ? inet_addr(a.mask) : 0, .has_netmask = a.mask != nullptr,
                .has_brd = a.brd != nullptr, .brd = a.brd ? inet_addr(a.brd) : 0});
    }
    void arp(const char* a, std::string_view ifname, std::span<const std::uint8_t> hw = {})
    {
        bsd::put_arp_entry(kernel.arp, {.index = 1, .addr = inet_addr(a), .ifname = ifname, .hw = hw});
    }

    // A step, its errnos, and the answer, its requests, then "out: " and "err: " text.
    struct step {
        std::function<std::variant<int, std::string>()> run;
        std::map<call, std::deque<int>> errnos;
        std::string want;
    };
    void expect_steps(std::initializer_list<step> steps)
    {
        static const std::regex descriptor(R"(\(\d+\): )");
        for (const step& s : steps) {
            kernel.errnos = s.errnos;
            kernel.writes.clear();
            std::variant<int, std::string> answer;
            console c = console_of([&] { errno = 0; answer = s.run(); });
            std::string got = answer.index() ? std::get<std::string>(answer)
                                             : std::to_string(std::get<int>(answer));
            got += " " + joined(kernel.summaries());
            got += (c.out.empty() ? "" : "out: " + c.out) + (c.err.empty() ? "" : "err: " + c.err);
            EXPECT_EQ(std::regex_replace(timeless(got), descriptor, "(FD): "), s.want);
        }
    }
    // An arpcast with a fresh version check and the first `busy` devices busy.
    std::function<std::string()> cast(std::string ifname, int count, int busy = 0,
                                      bsd::bpf_version v = {1, 1}, const char* addr = "192.0.2.5")
    {
        return [=, this] {
            kernel.busy_devices.clear();
            for (int n = 0; n < busy; ++n)
                kernel.busy_devices.insert(n);
            kernel.version = v;
            bpf_first_time = true;
            arpcast(ifname, addr, count);
            return std::string();
        };
    }
};

void patch(bsd::bytes& b, std::size_t at, const std::vector<std::uint8_t>& with)
{
    std::memcpy(b.data() + at, with.data(), with.size());
}

// An IPv4 header of `hlen` bytes, then an ICMP message of `icmplen`.
std::vector<std::byte> datagram(std::size_t hlen, std::size_t icmplen, std::uint8_t type,
                                std::uint16_t ident, std::uint16_t seq)
{
    std::vector<std::byte> d(hlen + 8);
    d[0] = std::byte(0x40 | (hlen / 4));
    d[hlen] = std::byte{type};
    std::memcpy(&d[hlen + 4], &ident, 2);
    std::memcpy(&d[hlen + 6], &seq, 2);
    d.resize(hlen + icmplen);
    return d;
}

// The request as one line, or the usage message.
std::string read_line(std::vector<const char*> args)
{
    auto parsed = Vtnet::parse_request(args, Vtnet::subcommands());
    if (const auto* misuse = std::get_if<Vtnet::usage_error>(&parsed))
        return misuse->message;
    const Vtnet::request& r = std::get<Vtnet::request>(parsed);
    if (r.help || r.version)
        return r.command ? "help " + std::string(r.command->name) : r.help ? "help" : "version";
    std::string line(r.command->name);
    for (const std::string& o : r.operands)
        line += " " + o;
    return line + (r.forget ? " --forget" : "") + (r.count != 3 ? " " + std::to_string(r.count) : "");
}

} // namespace

TEST_F(Network, Queries)
{
    const std::string no_mask = " = ERROR [ERR (T):: could not read netmask]";
    const std::vector<std::string> lines{
        fxp0,
        "addresses fxp1 = ",
        "hw lo0 = 00:00:00:00:00:00", // not the neighbour's bytes
        "arp 192.0.2.7 = 00:00:5e:00:01:0a",
        "arp 192.0.2.9 = ERROR", // unresolved
        "arp 255.255.255.255 = ERROR [ERR:: get_arp: called with bad IP address 255.255.255.255]",
        "ping 10.1 = 1 [ERR:: unix_ping: unable to open raw socket ]", // a short form
        "ping 10.0.0.256 = 1 [ERR:: unix_ping was called with bad IP address]",
        "interface 203.0.113.100 = vlan99",
        "interface 192.0.2.5 = fxp1",
        "interface 192.0.2.2 = ERROR", // point-to-point
        "interface 192.0.2.9 = ERROR", // not listed
        "netmask abcdefghijklmno = 255.255.0.0",
        "netmask gif0" + no_mask,
        "netmask em9" + no_mask,
        "netmask abcdefghijklmnoX" + no_mask,
        // Any address of that interface; one parked on lo0 is configured.
        "device em0 192.0.2.10 = em0",
        "device em0 192.0.2.11 = em0",
        "device em0 192.0.2.013 = ERROR",
        "device em0 203.0.113.1 = ERROR",
        "configured em0 203.0.113.1 = 0",
        "device em0 192.0.2.50 = ERROR",
        "configured em0 192.0.2.50 = 1",
        "device em2 192.0.2.10 = ERROR"};
    EXPECT_EQ(answers(lines), joined(lines));
    EXPECT_EQ(std::string(real_ethernet_interface) + " " + real_ip_address, "fxp1 192.0.2.5");
    ASSERT_TRUE(get_device_info("gif1", info)); // its address read without a netmask
    EXPECT_EQ(interface_addresses(info).at(0).addr, inet_addr("192.0.2.60"));
    // A socket always readable whose every receive fails: said once, and the wait ends.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    cutil::unique_fd rd(fds[0]), wr(fds[1]);
    ASSERT_EQ(::write(wr.get(), "x", 1), 1);
    kernel.icmp_fd = rd.get();
    EXPECT_EQ(answers({"ping 192.0.2.1"}), "ping 192.0.2.1 = 1 [ERR:: recv_from error]\n");
}

TEST_F(Network, KernelFailuresAndHostileBytes)
{
    const std::size_t fxp1_nlen = 96 + 56 + 2 * 44 + 96 + 5; // its link-level name's length
    bsd::bytes stray; // another kind of message amid the interface list
    bsd::put_arp_entry(stray, {.index = 1, .addr = inet_addr("192.0.2.1"), .ifname = "fxp0"});
    const std::string no_fxp0 = "addresses fxp0 = none", no_arp = "arp 192.0.2.7 = ERROR";
    const std::string dev = "[ERR (T):: get_device_info: ", mib = " [ERR:: get_arp: ";
    using edit = std::function<void(platform::fake_backend&)>;
    const std::pair<edit, std::vector<std::string>> rows[] = {
        {[](auto& k) { k.size_errno = ENOMEM; },
         {no_fxp0 + " " + dev + "failed to get iflist-sysctl-estimate]",
          no_arp + mib + "unable to open mib database]"}},
        {[](auto& k) { k.read_errno = ENOMEM; },
         {no_fxp0 + " " + dev + "actual retrieval of interface table failed]",
          no_arp + mib + "failed to retrive ARP info]"}},
        // "too small", from some kernels
        {[](auto& k) { k.conf_errnos = {EINVAL, EINVAL}; }, {"interface 203.0.113.1 = vlan0"}},
        {[](auto& k) { k.conf_errnos = {ENXIO}; },
         {"interface 203.0.113.1 = ERROR [ioctl SIOCGIFCONF: "s + std::strerror(ENXIO) + "]"}},
        {[](auto& k) { patch(k.iflist, 0, {0, 0}); }, {no_fxp0}},
        {[](auto& k) { patch(k.iflist, 96 + 56, {0xff, 0xff}); }, {no_fxp0}}, // more than there is
        {[](auto& k) { patch(k.iflist, 96 + 56, {4, 0}); }, {no_fxp0}}, // shorter than its header
        // a name past the message
        {[&](auto& k) { patch(k.iflist, fxp1_nlen, {200}); }, {"addresses fxp1 = none", fxp0}},
        {[](auto& k) { patch(k.arp, 0, {0, 0}); }, {no_arp}}, // nothing after it is trusted
        {[](auto& k) { patch(k.arp, 2 * 164 + 113, {60}); }, // a name past the message
         {"arp 192.0.2.7 = 02:00:00:00:00:11"}},
        // too short for its link-level address: stepped over
        {[](auto& k) {
             k.arp.insert(k.arp.begin(), 100, std::byte{});
             patch(k.arp, 0, {100});
             patch(k.arp, 96, {192, 0, 2, 7});
         },
         {"arp 192.0.2.7 = 00:00:5e:00:01:0a"}},
        {[](auto& k) { k.conf_verbatim = true; k.conf.pop_back(); },
         {"interface 203.0.113.100 = ERROR", "interface 203.0.113.99 = vlan98"}},
        {[](auto& k) { k.conf_verbatim = true; k.conf.end()[-16] = std::byte{250}; }, // past the list
         {"interface 203.0.113.100 = ERROR"}},
        {[&](auto& k) { k.iflist.insert(k.iflist.begin() + 96 + 56 + 2 * 44, stray.begin(), stray.end()); },
         {fxp0}}, // found before it
    };
    const platform::fake_backend good = kernel;
    for (const auto& [change, lines] : rows) {
        kernel = good;
        change(kernel);
        EXPECT_EQ(answers(lines), joined(lines));
    }
    // The last row's stray message is reported; no list is made of what holds it.
    std::vector<interface_entry> list;
    console c = console_of([&] { EXPECT_EQ(get_interface_list(list) + get_device_info("fxp1", info), 0); });
    EXPECT_NE(c.err.find("out of sync parsing NET_RT_IFLIST"), std::string::npos) << c.err;
    for (std::ptrdiff_t cut = 0; cut < 3 * 164; ++cut) { // the answer cut anywhere, past its table
        kernel.arp.assign(good.arp.begin(), good.arp.begin() + cut);
        EXPECT_EQ(get_arp("192.0.2.7"), "ERROR") << cut;
    }
}

TEST(RtXaddrs, Slots)
{
    bsd::bytes b, z(4); // z: a zero-length netmask, which takes 4 bytes
    bsd::put_sockaddr_in(b, inet_addr("255.255.255.0"), 8);
    bsd::put_sockaddr_in(b, inet_addr("192.0.2.10"), 16);
    bsd::put_sockaddr_in(b, inet_addr("192.0.2.255"), 16);
    bsd::put_sockaddr_in(z, inet_addr("192.0.2.10"));
    rt_addrinfo ai{.rti_addrs = bsd::rta_netmask | bsd::rta_ifa | bsd::rta_brd};
    ai.rti_info[bsd::rtax_dst] = b.data();
    const auto slots = [&] { return std::vector(std::begin(ai.rti_info), std::end(ai.rti_info)); };
    using at = std::vector<const std::byte*>;
    const std::byte* none = nullptr;
    rt_xaddrs(b.data(), b.data() + b.size(), ai); // the destination is cleared: not in the mask
    EXPECT_EQ(slots(), (at{none, none, b.data(), none, none, b.data() + 8, none, b.data() + 24}));
    rt_xaddrs(b.data(), b.data() + 20, ai); // runs past the end: neither it nor what follows
    EXPECT_EQ(slots(), (at{none, none, b.data(), none, none, none, none, none}));
    rt_xaddrs(z.data(), z.data() + z.size(), ai);
    EXPECT_EQ(ai.rti_info[bsd::rtax_ifa], std::as_const(z).data() + 4);
    EXPECT_EQ(sockaddr_in_addr(ai.rti_info[bsd::rtax_netmask]), 0u);
    const std::uint8_t sa[8]{6, 2, 0, 0, 255, 255, 0xEE, 0xEE}; // trailing zero bytes trimmed
    EXPECT_EQ(sockaddr_in_addr(reinterpret_cast<const std::byte*>(sa)), inet_addr("255.255.0.0"));
    // An address added without a netmask gets its class's.
    for (auto [addr, prefix] : {std::pair{"10.0.0.1", 8}, {"172.16.0.1", 16}, {"192.0.2.1", 24}})
        EXPECT_EQ(bsd::classful_prefix(inet_addr(addr)), prefix) << addr;
}

TEST(Echo, OnlyOurReplyEndsTheWait)
{
    const std::pair<std::vector<std::uint8_t>, int> sums[] = {
        {{0x12, 0x34, 0x56}, 0xffff & ~(0x1234 + 0x5600)},         // an odd byte is a high byte
        {{0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x02, 0x00}, 0xfdff}}; // the carry folds twice
    for (const auto& [bytes, sum] : sums)
        EXPECT_EQ(ntohs(in_cksum(bytes.data(), bytes.size())), sum);
    std::byte buf[64]{};
    build_echo_request(buf, 0xbeef, 0x0102);
    build_echo_request(buf, 0xbeef, 0x0103);
    EXPECT_EQ(in_cksum(buf, 64), 0); // rebuilding replaced the old checksum
    // Only our reply to the last probe answers (the counter's low 16 bits); a short one is said.
    const auto ident = static_cast<std::uint16_t>(getpid() & 0xffff);
    nsent = 0x1ffff;
    std::vector<std::byte> beyond = datagram(20, 10, 0, ident, 0xffff);
    beyond[0] = std::byte{0x4f}; // a header length beyond the datagram
    const std::string icmplen = "ERR:: proc_icmp_echo_reply: icmplen ";
    const std::tuple<std::vector<std::byte>, std::ptrdiff_t, int, std::string> replies[]{
        {datagram(20, 64, 0, ident, 0xffff), 84, 1, ""},
        {datagram(24, 64, 0, ident, 0xffff), 88, 1, ""}, // options
        {datagram(20, 64, 0, ident ^ 1, 0xffff), 84, 0, ""}, // another process's
        {datagram(20, 64, 0, ident, 0xfffe), 84, 0, ""}, // late
        {datagram(20, 64, 8, ident, 0xffff), 84, 0, ""}, // a request
        {datagram(20, 8, 0, ident, 0xffff), 28, 1, icmplen + "(8) < 16"},
        {datagram(20, 4, 0, ident, 0xffff), 24, 0, icmplen + "(4) < 8"},
        {beyond, 30, 0, icmplen + "(-30) < 8"}};
    for (const auto& [d, len, ends, err] : replies) {
        int got = -1;
        EXPECT_EQ(console_of([&] { got = proc_icmp_echo_reply(d.data(), len, timeval{}); }).err, err);
        EXPECT_EQ(got, ends) << len;
    }
}

TEST_F(Network, Changes)
{
    const auto route = [](const char* a, int del) {
        return [=] { return unix_route("va", a, 0, del); };
    };
    const auto clear = [](int bits) { return [=] { return clr_flag(-1, "va", bits); }; };
    // The system's words for an errno: FreeBSD's and glibc's differ.
    const auto text = [](int err) { return std::string(std::strerror(err)) + "\n"; };
    const std::string e = "err: ERR (T):: ", bad = "ERR (T):: unix_ifconfig was called with bad ";
    const std::string no_such = text(ENXIO), busy = "open: " + text(EBUSY);
    const std::string opened = " packet open 0\npacket version\n";
    const std::string frame = "packet frame em0 192.0.2.5\n";
    const std::string sent = opened.substr(1) + "packet bind em0\n" + frame;
    const std::string debug = "out: DEBUG (T):: [ 192.0.2.5 -> 00:a0:c9:01:02:03 ]\n";
    const std::string no_device = "ERR::arpcast:Couldn't open device: ";
    const auto unbound = [&](const std::string& name) {
        return e + "initdevice on " + name + "(FD): BIOCSETIF: " + no_such + no_device + no_such;
    };
    const auto old = [&](const std::string& v) {
        return opened + e + "initdevice: kernel bpf (v" + v + ") filter out of date. "
               "current version: 1.1\n" + no_device + "Protocol not supported\n";
    };
    expect_steps({
        {[] { return unix_ifconfig("va", "203.0.113.9", "255.255.255.255", nullptr, 7, 0); },
         {{call::add_alias, {EEXIST}}},
         "0 alias va 203.0.113.9/255.255.255.255 -> EEXIST\n"},
        // Each malformed text is said; nothing changes.
        {[] { return unix_ifconfig("va", "203.0.113.999", "255.255.0.x", "1.2.3.4.5", 7, 0); }, {},
         "1 err: " + bad + "IP: " + text(0) + bad + "netmask: " + text(0) + bad
             + "broadcast address: " + text(0)},
        // A name the request cannot hold whole is never cut into another interface's.
        {[] { return unix_ifconfig("va0123456789abcd", "203.0.113.9", nullptr, nullptr, 7, 1); }, {},
         "1 " + e + "SIOCSIFADDR on va0123456789abcd (203.0.113.9): " + no_such},
        {route(nullptr, 1), {}, "-1 " + e + "unix_route was called with no IP address\n"},
        {route("203.0.113.x", 1), {}, "-1 " + e + "unix_route was called with bad IP address\n"},
        {route("203.0.113.9", 1), {{call::route_open, {EACCES}}},
         "-1 route open -> EACCES\n" + e + "unix_route: Could not open socket: Permission denied\n"},
        {route("203.0.113.9", 1), {{call::route_write, {ESRCH}}}, // already gone: done
         "0 route open\nroute delete 203.0.113.9 -> ESRCH\n"},
        {route("203.0.113.9", 1), {{call::route_write, {ENETUNREACH}}},
         "-1 route open\nroute delete 203.0.113.9 -> ENETUNREACH\n" + e
             + "unix_route failed to write to socket: Network is unreachable\n"},
        // Flags are read, changed and written back; an unknown name is not found.
        {clear(up | bcast), {}, "0 flags va 0x1000\n"}, // up was already clear
        {clear(0x1000), {{call::set_flags, {EPERM}}},
         "1 flags va 0x0000 -> EPERM\n" + e + "SIOCSIFFLAGS clear 1000 on va: Operation not permitted\n"},
        {[] { return set_flag(-1, "vb", 1) + get_flags(-1, "vb"); }, {}, "-2 "},
        // Gratuitous ARP on an alias goes out on its interface.
        {cast("em0:1", 3), {}, " " + sent + frame + frame + debug},
        {cast("em0", 1, 2), {},
         " packet open 0 -> EBUSY\npacket open 1 -> EBUSY\npacket open 2\npacket version\n"
         "packet bind em0\n" + frame + debug + "err: " + busy + busy},
        {cast("em0", 1, 0, {1, 0}), {}, old("1.0")},
        {cast("em0", 1, 0, {2, 1}), {}, old("2.1")},
        {cast("em0", 1, 0, {1, 2}), {}, " " + sent + debug},
        {cast("em0", 1), {{call::packet_bind, {ENXIO}}},
         opened + "packet bind em0 -> ENXIO\n" + unbound("em0")},
        {cast("em0123456789abcd:1", 1), {}, opened + unbound("em0123456789abcd")},
        {cast(std::string(100, 'e'), 1), {}, " err: " + no_device + "File name too long\n"},
        {[] { bpf_first_time = true; return arpcast_sent("em0", "192.0.2.5", 3); },
         {{call::packet_write, {0, EIO}}},
         "2 " + sent + "packet frame em0 192.0.2.5 -> EIO\n" + frame + debug
             + "err: ERR::arpcast: bad write to device em0 ip 192.0.2.5\n: Input/output error\n"},
        {cast("em0", 1, 0, {1, 1}, "255.255.255.255"), {},
         " " + e + "arpcast: invalid ip address: 255.255.255.255\n"},
    });
}

TEST_F(Network, FrameAndRouteBytes)
{
    // Broadcast, ARP; an IPv4 request of the host for itself, its address twice.
    const std::uint8_t frame[42] = {
        0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x00, 0xa0, 0xc9, 0x01, 0x02, 0x03, 0x08, 0x06,
        0x00, 0x01, 0x08, 0x00, 6,    4,    0x00, 0x01, 0x00, 0xa0, 0xc9, 0x01, 0x02, 0x03,
        192,  0,    2,    5,    0x00, 0xa0, 0xc9, 0x01, 0x02, 0x03, 192,  0,    2,    5};
    console_of([] { arpcast("em0:1", "192.0.2.5", 1); });
    const auto* first = reinterpret_cast<const std::byte*>(frame);
    EXPECT_EQ(kernel.writes.back().data, bsd::bytes(first, first + 42));
    route_seq = 0; // then 1 and 2 across the calls
    const std::tuple<const char*, int, bsd::rt_msghdr> built[] = {
        {"203.0.113.9", 0, {.rtm_msglen = 124, .rtm_version = 5, .rtm_type = bsd::rtm_add,
                            .rtm_flags = 0x807, .rtm_addrs = 3, .rtm_seq = 1}},
        {"198.51.100.7", 1, {.rtm_msglen = 108, .rtm_version = 5, .rtm_type = bsd::rtm_delete,
                             .rtm_flags = 0x4, .rtm_addrs = 1, .rtm_seq = 2}}};
    for (const auto& [addr, del, header] : built) {
        ASSERT_EQ(unix_route("ignored", addr, 0, del), 0);
        bsd::bytes want;
        bsd::append(want, header);
        bsd::put_sockaddr_in(want, inet_addr(addr));
        if (!del)
            bsd::put_sockaddr_in(want, inet_addr("127.0.0.1"));
        EXPECT_EQ(kernel.writes.back().data, want) << addr << " " << del;
    }
}

TEST_F(Network, NativeLayouts)
{
    const bsd::route_layout& ours = bsd::product_layout;
    const auto* rt = reinterpret_cast<const std::byte*>(&m_rtmsg);
    bsd::bytes add(rt, rt + build_route_msg(inet_addr("203.0.113.9"), false)), listed = kernel.iflist;
    patch(add, 32, {1}); // rtm_inits, then rmx_expire
    patch(add, 48, {7});
    bsd::append(listed, bsd::ifa_msghdr{.ifam_msglen = 32, .ifam_version = 5,
                                        .ifam_type = bsd::rtm_newaddr, .ifam_addrs = bsd::rta_ifa});
    bsd::put_sockaddr_in(listed, inet_addr("192.0.2.60"), 12); // 16 bytes where rounded to 8
    // Interface and route headers, where rmx_expire sits, how much a list grows. A link-level
    // address (56) follows the one; a destination (16), then a link-level address, the other.
    const std::tuple<bsd::route_layout, std::size_t, std::size_t, std::size_t, std::size_t> layouts[] = {
        {freebsd14_i386, 168, 92, 48, 6 * 72},
        {freebsd14_amd64, 168, 152, 64, 6 * 72 + 4}};
    const auto at = [](const bsd::bytes& b, std::size_t i) { return std::to_integer<int>(b.at(i)); };
    for (const auto& [layout, ifm, rtm, expire, grown] : layouts) {
        const bsd::bytes ifs = bsd::translate_messages(listed, ours, layout);
        const bsd::bytes arps = bsd::translate_messages(kernel.arp, ours, layout);
        const bsd::bytes route = bsd::translate_messages(add, ours, layout);
        EXPECT_EQ(std::tuple(msglen_at(ifs.data()), at(ifs, ifm + 1), at(ifs, 16 + layout.ifi_mtu + 1)),
                  std::tuple(ifm + 56, bsd::af_link, 1500 >> 8)) << ifm;
        EXPECT_EQ(std::tuple(msglen_at(arps.data()), at(arps, rtm + 1), at(arps, rtm + 17)),
                  std::tuple(rtm + 72, bsd::af_inet, bsd::af_link)) << rtm;
        EXPECT_EQ(std::tuple(msglen_at(route.data()), at(route, rtm + 17), at(route, expire)),
                  std::tuple(rtm + 32, bsd::af_inet, 7)) << rtm;
        EXPECT_EQ(ifs.size() - listed.size(), grown);
        EXPECT_EQ(bsd::translate_messages(ifs, layout, ours), listed) << ifm;
        EXPECT_EQ(bsd::translate_messages(arps, layout, ours), kernel.arp) << rtm;
        EXPECT_EQ(bsd::translate_messages(route, layout, ours), add) << rtm;
    }
    // Hostile amd64 bytes: what comes before the first message that does not fit.
    const bsd::bytes ifs = bsd::translate_messages(kernel.iflist, ours, freebsd14_amd64);
    const std::tuple<std::size_t, std::vector<std::uint8_t>, std::ptrdiff_t> hostile[] = {
        {224, {0xff, 0xff}, 152},  // past the end
        {224, {19, 0}, 152},       // shorter than its header
        {224, {3, 0, 5, 99}, 152}, // shorter than any message
        {168, {60}, 0}};           // an address past its message
    for (const auto& [offset, with, kept] : hostile) {
        bsd::bytes native = ifs;
        patch(native, offset, with);
        EXPECT_EQ(bsd::translate_messages(native, freebsd14_amd64, ours),
                  bsd::bytes(kernel.iflist.begin(), kernel.iflist.begin() + kept)) << offset;
    }
}

TEST_F(Network, Takeover)
{
    const auto take = [](const char* dev, const char* a) {
        return [=] { return do_take_ip(dev, a); };
    };
    const auto give = [](const char* dev, const char* a, int forget) {
        return [=] { return do_release_ip(dev, a, forget); };
    };
    const auto released = [] {
        std::string out;
        for (std::string a = get_released(); !a.empty(); a = get_released())
            out += a + " ";
        return out;
    };
    const std::string said = "out: do_release_ip device ";
    const auto back = [&](const std::string& dev) {
        return "delete " + dev + " 192.0.2.11\nroute open\nroute delete 192.0.2.11\n"
               "alias lo0 192.0.2.11/255.255.255.255\n" + said + dev + " IP 192.0.2.11 forget 0\n";
    };
    const std::string frame = "packet frame em0 192.0.2.50\n";
    const std::string forget50 = "delete lo0 192.0.2.50\nroute open\nroute delete 192.0.2.50\n";
    bpf_first_time = true;
    expect_steps({
        {take("em0:1", "192.0.2.50"), {},
         "SUCCESS route open\nroute delete 192.0.2.50\nalias em0:1 192.0.2.50/255.255.255.255\n"
         "delete lo0 192.0.2.50\npacket open 0\npacket version\npacket bind em0\n" + frame + frame
             + frame + "out: DEBUG (T):: [ 192.0.2.50 -> 00:a0:c9:01:02:03 ]\n"},
        {give("em0:1", "192.0.2.11", 0), {}, // ARP is the physical interface's
         "SUCCESS " + back("em0:1") + "WARNING (T):: addresses parked on lo0 are still claimed by "
         "ARP on em0: set net.ipv4.conf.em0.arp_ignore=1 and arp_announce=2\n"},
        {give("em0", "192.0.2.11", 0), {}, "SUCCESS " + back("em0")}, // warned once
        {give("ERROR", "192.0.2.50", 1), {}, // off the loopback
         "SUCCESS " + forget50 + said + "ERROR IP 192.0.2.50 forget 1\n"},
        {[] { return c_ip_init(); }, {}, "SUCCESS "}, // again: nothing queued is lost
        {[] { return queue_release_ip("192.0.2.50", 1); }, {}, "SUCCESS " + forget50},
        // Not four dotted decimal numbers: not queued, and no kernel is asked.
        {give("em0", "192.0.2.013", 0), {},
         "FAIL " + said + "em0 IP 192.0.2.013 forget 0\nerr: invalid ipaddress (192.0.2.013)\n"},
        {take("em0", "192.0.2.999"), {}, "FAIL err: invalid ipaddress (192.0.2.999)\n"},
        {[] { return device_cleanup("em0"); }, {},
         "SUCCESS delete em0 192.0.2.11\ndelete em0 198.51.100.1\n"},
        {[] { return device_cleanup("lo0") + device_cleanup("em1") + device_cleanup("em9"); }, {},
         "SUCCESSSUCCESSFAIL delete lo0 192.0.2.50\n"},
    });
    EXPECT_EQ(released(), "192.0.2.11 192.0.2.11 192.0.2.50 192.0.2.50 ");
    enqueue_released(inet_addr("198.51.100.7")); // the tail was reset when the queue ran empty
    EXPECT_EQ(queue_release_ip("203.0.113.9", 0), "SUCCESS");
    EXPECT_EQ(released(), "198.51.100.7 203.0.113.9 ");
    for (const char* bad : {"0.0.0.0", "192.0.2"})
        EXPECT_EXIT(queue_release_ip(bad, 0), testing::ExitedWithCode(1),
                    "^invalid ipaddress \\(" + std::string(bad) + "\\)\n$");
}

// The scripted kernel keeps its lists as they were: vtnet reads back that no change landed.
TEST_F(Network, VtnetReadsBack)
{
    using handler = int (*)(const Vtnet::request&);
    const std::tuple<handler, std::vector<std::string>, bool, std::string> rows[] = {
        {Vtnet::run_take, {"fxp0", "203.0.113.9"}, false, "\nvtnet: 203.0.113.9 is not on fxp0\n"},
        {Vtnet::run_release, {"ERROR", "192.0.2.50"}, true, "\nvtnet: 192.0.2.50 is still on lo0\n"},
        {Vtnet::run_cleanup, {"em0"}, false, "\nvtnet: em0 still has more than one address\n"}};
    for (const auto& [run, operands, forget, said] : rows) {
        int status = -1;
        const std::string err = console_of([&] { status = run({.operands = operands, .forget = forget}); }).err;
        EXPECT_TRUE(status == 1 && ("\n" + err).ends_with(said)) << status << err;
    }
}

TEST(VtnetRequest, Lines)
{
    const std::string take = "; usage: vtnet take IF ADDR", garp = "; usage: vtnet garp IF ADDR [COUNT]";
    const char* a = "192.0.2.7";
    const auto badif = [&](const std::string& n) {
        return "vtnet take: bad interface name '" + n + "' (an alias is IF:N)" + take;
    };
    const std::string count = "' (0 to 100)" + garp;
    const std::pair<std::vector<const char*>, std::string> rows[] = {
        {{"ping", "192.0.2.2"}, "ping 192.0.2.2"},
        {{"release", "--forget", "va", a}, "release va 192.0.2.7 --forget"},
        {{"garp", "va:1", a, "0"}, "garp va 192.0.2.7 0"}, // an alias is its interface
        {{"--version", "x"}, "version"},
        {{"garp", "va", a, "100"}, "garp va 192.0.2.7 100"},
        {{"route", "del", a}, "route del 192.0.2.7"},
        {{"check"}, "check"},
        {{"--help"}, "help"},
        {{"garp", "-h", "x"}, "help garp"},
        {{"takeover", "va"}, "vtnet: unknown subcommand 'takeover' (vtnet --help lists them)"},
        {{"take", "va"}, "vtnet take: missing operand" + take},
        {{"take", "va", a, "x"}, "vtnet take: unexpected operand 'x'" + take},
        {{"take", "--forget", "va", a}, "vtnet take: unknown option '--forget'" + take},
        {{"take", "abcdefghijklmnop", a},
         "vtnet take: interface name too long (at most 15 bytes): 'abcdefghijklmnop'" + take},
        {{"take", "v/a", a}, badif("v/a")},
        {{"take", "va\n", a}, badif("va?")}, // one line, whatever it holds
        {{"take", "va:x", a}, badif("va:x")},
        {{"take", ":1", a}, badif(":1")},
        {{"take", "lo0", "127.0.0.1"}, "vtnet take: address '127.0.0.1' is the loopback's own" + take},
        {{"route", "show"}, "vtnet route: expected add or del, not 'show'; usage: vtnet route add|del ADDR"},
        {{"garp", "va", a, "101"}, "vtnet garp: bad count '101" + count},
        {{"garp", "va", a, "3x"}, "vtnet garp: bad count '3x" + count},
        {{"garp", "va", a, "-1"}, "vtnet garp: unknown option '-1'" + garp},
    };
    for (const auto& [args, read] : rows)
        EXPECT_EQ(read_line(args), read);
    for (const char* addr : {"192.0.2", "0.0.0.0", "255.255.255.255"})
        EXPECT_EQ(read_line({"take", "va", addr}),
                  "vtnet take: bad address '"s + addr + "' (four dotted decimal numbers, a host's)" + take);
    // Every help fits 80 columns.
    std::string helps = Vtnet::help_text({.help = true}, Vtnet::subcommands());
    for (const Vtnet::subcommand& sub : Vtnet::subcommands()) {
        const std::string help = Vtnet::help_text({.command = &sub, .help = true}, Vtnet::subcommands());
        EXPECT_EQ(help.find("\n  3  the probe could not be made") != std::string::npos, sub.probe) << help;
        helps += help;
    }
    std::istringstream lines(helps);
    for (std::string line; std::getline(lines, line);)
        EXPECT_LE(line.size(), 80u) << line;
}
