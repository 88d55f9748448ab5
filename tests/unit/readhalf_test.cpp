// The read half over one scripted world: the interface list and its address decoder, the ARP
// table, the interface configuration list and the echo probe; then the same bytes made hostile.
#include "carp/carp.hpp"
#include "cping/cping.hpp"
#include "cutil/hwaddr.hpp"
#include "cutil/ifconf.hpp"
#include "cutil/iflist.hpp"
#include "platform/unique_fd.hpp"
#include "support/scripted_kernel.hpp"

using namespace cutil;
using namespace vttest;

namespace {

constexpr int up_bcast = bsd::iff_up | bsd::iff_broadcast | 0x40 | 0x8000; // plus running, multicast

class ReadHalf : public scripted_kernel {
protected:
    void SetUp() override
    {
        link(1, "fxp0", hw0, bsd::iff_up | bsd::iff_broadcast, {{"192.0.2.10", "255.255.255.0"}, {"192.0.2.11", "255.255.255.128"}});
        link(2, "fxp1", hw1, bsd::iff_broadcast);
        link(3, "lo0", {}, bsd::iff_up | bsd::iff_loopback, {{"127.0.0.1", "255.0.0.0"}});
        arp("192.0.2.1", "em0", hw1);
        arp("192.0.2.7", "em0");            // still being resolved: no answer
        arp("192.0.2.7", "em1", vrrp);      // the first resolved entry wins...
        arp("192.0.2.7", "longname1", hw1); // ...over a later one on another interface
        arp("192.0.2.9", "em0");
        kernel.add_conf_link_entry("fxp2", 54); // BSD's link-level entries, one longer than the usual
        kernel.add_conf_link_entry("lo0", 20);
        for (auto [name, flags, a] : {std::tuple{"lo0", bsd::iff_up | bsd::iff_loopback, "192.0.2.1"}, {"ppp0", bsd::iff_up | bsd::iff_pointopoint, "192.0.2.2"},
                                      {"fxp2", bsd::iff_broadcast, "192.0.2.3"} /* down */, {"fxp0:1", up_bcast, "192.0.2.4"}, {"fxp1", up_bcast, "192.0.2.5"}})
            iface(name, flags, a);
        iface("fxp0", up_bcast, "192.0.2.5", "255.255.255.128");
        kernel.interfaces["gif0"] = {bsd::iff_up, std::nullopt, std::nullopt};
        kernel.interfaces["abcdefghijklmno"] = {up_bcast, inet_addr("192.0.2.9"), inet_addr("255.255.0.0")};
        for (int i = 0; i < 100; ++i) // 3200 bytes more: more than a first try holds
            iface("vlan" + std::to_string(i), up_bcast, ("203.0.113." + std::to_string(i + 1)).c_str());
    }
    void iface(const std::string& name, int flags, const char* addr, const char* mask = "255.255.255.0")
    {
        kernel.interfaces[name] = {flags, inet_addr(addr), inet_addr(mask)};
        kernel.add_conf_entry(name, inet_addr(addr));
    }
    device_info info;
};

void patch(bsd::bytes& b, std::size_t at, std::initializer_list<std::uint8_t> with) { std::memcpy(b.data() + at, with.begin(), with.size()); }

// An IPv4 header of `hlen` bytes followed by an ICMP message of `icmplen` bytes.
std::vector<std::byte> datagram(int hlen, int icmplen, std::uint8_t type, std::uint16_t ident, std::uint16_t seq)
{
    std::vector<std::byte> d(static_cast<std::size_t>(hlen + 8));
    d[0] = std::byte(0x40 | (hlen / 4));
    d[hlen] = std::byte{type};
    std::memcpy(d.data() + hlen + 4, &ident, 2);
    std::memcpy(d.data() + hlen + 6, &seq, 2);
    d.resize(static_cast<std::size_t>(hlen + icmplen));
    return d;
}

} // namespace

TEST_F(ReadHalf, EachQuestionFindsWhatTheKernelListsByItsExactName)
{
    const std::string bad_arp = " = ERROR [ERR:: get_arp: called with bad IP address ", unread = " = ERROR [ERR (T):: could not read netmask]";
    const std::string bad_ping = " = 1 [ERR:: unix_ping was called with bad IP address]";
    const std::int32_t sent = nsent;
    expect_answers({
        "addresses fxp0 = 192.0.2.10/255.255.255.0 192.0.2.11/255.255.255.128 ", "addresses fxp1 = ", "addresses fxp = none",
        "addresses fxp00 = none", "addresses lo = none", "hw fxp0 = 00:a0:c9:01:02:03", "hw fxp1 = 02:00:00:00:00:11",
        "hw lo0 = 00:00:00:00:00:00" /* not the neighbour's bytes */, "hw em0 = 00:00:00:00:00:00",
        "arp 192.0.2.7 = 00:00:5e:00:01:0a", "arp 192.0.2.1 = 02:00:00:00:00:11", "arp 192.0.2.9 = ERROR", "arp 192.0.2.8 = ERROR",
        "arp 0.0.0.0 = ERROR", "arp 255.255.255.255" + bad_arp + "255.255.255.255]", "arp 192.0.2.256" + bad_arp + "192.0.2.256]",
        "arp host" + bad_arp + "host]", "ping 10.0.0.256" + bad_ping, "ping host" + bad_ping, "ping" + bad_ping,
        "ping 10.1 = 1 [ERR:: unix_ping: unable to open raw socket ]" /* the short form is an address */,
        "interface 192.0.2.1 = ERROR", "interface 192.0.2.2 = ERROR", "interface 192.0.2.3 = ERROR", "interface 192.0.2.4 = ERROR",
        "interface 192.0.2.9 = ERROR", "interface not.an.address = ERROR", "interface 255.255.255.255 = ERROR",
        "interface 203.0.113.100 = vlan99", "interface 0000000000000000000000192.0.2.5 = ERROR" /* inet_addr would accept it */,
        "interface 192.0.2.5 = fxp1", "netmask abcdefghijklmno = 255.255.0.0", "netmask fxp0 = 255.255.255.128",
        "netmask gif0" + unread, "netmask em9" + unread, "netmask abcdefghijklmnoX" + unread, "netmask" + unread});
    EXPECT_EQ(nsent, sent); // no probe without a socket
    EXPECT_EQ(std::string(real_ethernet_interface) + " " + real_ip_address, "fxp1 192.0.2.5");
    // Nothing past an embedded NUL is read as part of the name or address.
    console c = console_of([] { get_arp({"192.0.2.7\0junk", 14}), unix_ping({"10.0.0.1\0x", 10}), get_netmask({"fxp0\0x", 6}); });
    EXPECT_EQ(timeless(c.err), "ERR:: get_arp: called with bad IP address 192.0.2.7\nERR:: unix_ping was called with bad IP address\n"
                               "ERR (T):: could not read netmask\n");
    EXPECT_EQ(get_device_info("fxp", info) + (info.link == nullptr), 1);
    ASSERT_EQ(get_device_info("fxp1", info), 1);
    EXPECT_EQ(info.first_addr, nullptr);
    std::vector<interface_entry> list;
    ASSERT_TRUE(get_interface_list(list));
    std::string listed;
    for (const auto& e : list)
        listed += e.name + "/" + std::to_string(e.flags) + " ";
    EXPECT_EQ(listed, "fxp0/3 fxp1/2 lo0/9 ");
}

TEST_F(ReadHalf, KernelFailuresAreReportedAndHostileBytesEndEachWalkInsideTheBuffer)
{
    const std::size_t fxp1_nlen = 96 + 56 + 2 * 44 + 96 + 5;
    ASSERT_EQ(std::to_integer<int>(kernel.iflist[fxp1_nlen]), 4);
    const std::pair<std::function<void(platform::fake_backend&)>, std::vector<std::string>> rows[] = {
        {[](auto& k) { k.size_errno = ENOMEM; }, {"addresses fxp0 = none [ERR (T):: get_device_info: failed to get iflist-sysctl-estimate]",
                                                  "arp 192.0.2.7 = ERROR [ERR:: get_arp: unable to open mib database]"}},
        {[](auto& k) { k.read_errno = ENOMEM; }, {"addresses fxp0 = none [ERR (T):: get_device_info: actual retrieval of interface table failed]",
                                                  "arp 192.0.2.7 = ERROR [ERR:: get_arp: failed to retrive ARP info]"}},
        {[](auto& k) { k.conf_errnos = {EINVAL, EINVAL}; }, {"interface 203.0.113.1 = vlan0"}}, // "too small", from some kernels
        {[](auto& k) { k.conf_errnos = {ENXIO}; }, {"interface 203.0.113.1 = ERROR [ioctl SIOCGIFCONF: No such device or address]"}},
        {[](auto& k) { patch(k.iflist, 0, {0, 0}); }, {"addresses fxp0 = none"}},
        {[](auto& k) { patch(k.iflist, 96 + 56, {0xff, 0xff}); }, {"addresses fxp0 = none"}}, // more than there is
        {[](auto& k) { patch(k.iflist, 96 + 56, {4, 0}); }, {"addresses fxp0 = none"}},       // shorter than its header
        {[&](auto& k) { patch(k.iflist, fxp1_nlen, {200}); }, {"addresses fxp1 = none", "addresses fxp0 = 192.0.2.10/255.255.255.0 192.0.2.11/255.255.255.128 "}},
        {[](auto& k) { patch(k.arp, 0, {0, 0}); }, {"arp 192.0.2.7 = ERROR"}},                            // nothing after it is trusted
        {[](auto& k) { patch(k.arp, 2 * 164, {0xf0, 0xff}); }, {"arp 192.0.2.7 = ERROR"}},                // longer than the table
        {[](auto& k) { patch(k.arp, 2 * 164 + 113, {60}); }, {"arp 192.0.2.7 = 02:00:00:00:00:11"}},      // a name past the message
        // A message too short to hold its link-level address is stepped over, whatever address it names.
        {[](auto& k) { k.arp.insert(k.arp.begin(), 100, std::byte{}), patch(k.arp, 0, {100}), patch(k.arp, 96, {192, 0, 2, 7}); }, {"arp 192.0.2.7 = 00:00:5e:00:01:0a"}},
        {[](auto& k) { k.conf_verbatim = true, k.conf.pop_back(); }, {"interface 203.0.113.100 = ERROR", "interface 203.0.113.99 = vlan98"}},
        {[](auto& k) { k.conf_verbatim = true, k.conf[k.conf.size() - 16] = std::byte{250}; }, {"interface 203.0.113.100 = ERROR"}}, // past the list
    };
    const platform::fake_backend good = kernel;
    for (const auto& [edit, lines] : rows) {
        kernel = good;
        edit(kernel);
        expect_answers(lines);
    }
    kernel = good; // a message of another kind amid the interface list
    bsd::bytes stray;
    bsd::put_arp_entry(stray, {.index = 1, .addr = inet_addr("192.0.2.1"), .ifname = "fxp0"});
    kernel.iflist.insert(kernel.iflist.begin() + 96 + 56 + 2 * 44, stray.begin(), stray.end());
    expect_answers({"addresses fxp0 = 192.0.2.10/255.255.255.0 192.0.2.11/255.255.255.128 "}); // found before it
    std::vector<interface_entry> list;
    console c = console_of([&] { EXPECT_EQ(get_interface_list(list) + get_device_info("fxp1", info), 0); });
    EXPECT_NE(timeless(c.err).find("ERR (T):: get_device_info: out of sync parsing NET_RT_IFLIST. expected 14, got 4. msglen = 164. buf:"), std::string::npos) << c.err;
    for (std::size_t cut = 0; cut < good.iflist.size(); cut += 3) { // the sanitizer build watches for reads past the end
        kernel.iflist.assign(good.iflist.begin(), good.iflist.begin() + static_cast<std::ptrdiff_t>(cut));
        console_of([&] { get_device_info("lo0", info), my_ether_addr("fxp1"); });
    }
    for (std::size_t cut = 0; cut < 3 * 164; ++cut) { // every cut before the answer's end
        kernel.arp.assign(good.arp.begin(), good.arp.begin() + static_cast<std::ptrdiff_t>(cut));
        EXPECT_EQ(get_arp("192.0.2.7"), "ERROR") << cut;
    }
}

TEST(RtXaddrs, SlotsFollowTheMaskAndTheRoundedLengths)
{
    bsd::bytes b, z(4); // z: a zero-length netmask, which takes 4 bytes
    bsd::put_sockaddr_in(b, inet_addr("255.255.255.0"), 8);
    bsd::put_sockaddr_in(b, inet_addr("192.0.2.10"));
    bsd::put_sockaddr_in(b, inet_addr("192.0.2.255"));
    bsd::put_sockaddr_in(z, inet_addr("192.0.2.10"));
    rt_addrinfo ai;
    ai.rti_addrs = bsd::rta_netmask | bsd::rta_ifa | bsd::rta_brd;
    ai.rti_info[bsd::rtax_dst] = b.data();
    const auto slots = [&] { return std::vector{ai.rti_info[bsd::rtax_dst], ai.rti_info[bsd::rtax_netmask], ai.rti_info[bsd::rtax_ifa], ai.rti_info[bsd::rtax_brd]}; };
    rt_xaddrs(b.data(), b.data() + b.size(), ai); // the destination is cleared: not in the mask
    EXPECT_EQ(slots(), (std::vector<const std::byte*>{nullptr, b.data(), b.data() + 8, b.data() + 24}));
    rt_xaddrs(b.data(), b.data() + 20, ai); // the address runs past the end: neither it nor what follows
    EXPECT_EQ(slots(), (std::vector<const std::byte*>{nullptr, b.data(), nullptr, nullptr}));
    rt_xaddrs(z.data(), z.data() + z.size(), ai);
    EXPECT_EQ(ai.rti_info[bsd::rtax_ifa], z.data() + 4);
    EXPECT_EQ(sockaddr_in_addr(ai.rti_info[bsd::rtax_netmask]), 0u);
    const std::uint8_t sa[8]{6, 2, 0, 0, 255, 255, 0xEE, 0xEE}; // trailing zero bytes trimmed
    EXPECT_EQ(sockaddr_in_addr(reinterpret_cast<const std::byte*>(sa)), inet_addr("255.255.0.0"));
}

TEST(Echo, RequestBytesAndOnlyOurReplyOfThisProbeEndsTheWait)
{
    // RFC 1071's example words sum to ddf2 (one's complement 220d); an odd byte is the high byte of a last word.
    const std::uint8_t words[8]{0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7}, odd[3]{0x12, 0x34, 0x56};
    EXPECT_EQ(std::tuple(ntohs(in_cksum(words, 8)), ntohs(in_cksum(odd, 3)), in_cksum(words, 0)), std::tuple(0x220d, static_cast<std::uint16_t>(~(0x1234 + 0x5600)), 0xffff));
    std::byte buf[64]{};
    for (std::uint16_t seq : {0x0102, 0x0103}) { // rebuilding replaces the old checksum
        build_echo_request(buf, 0xbeef, seq);
        EXPECT_EQ(in_cksum(buf, 64), 0);
    }
    std::vector<std::byte> header = datagram(0, 8, 8, 0xbeef, 0x0103); // identifier and sequence in host order
    header[2] = buf[2], header[3] = buf[3];
    EXPECT_EQ(std::vector<std::byte>(buf, buf + 8), header);
    using v = echo_verdict;
    std::vector<std::byte> lying = datagram(20, 10, 0, 0x1234, 7);
    lying[0] = std::byte{0x4f}; // a header length beyond the datagram
    const std::tuple<std::vector<std::byte>, v, int> cases[]{
        {datagram(20, 64, 0, 0x1234, 7), v::answer, 64}, {datagram(24, 64, 0, 0x1234, 7), v::answer, 64} /* options */,
        {datagram(20, 64, 0, 0x1235, 7), v::ignore, 64} /* another process's */, {datagram(20, 64, 0, 0x1234, 6), v::ignore, 64} /* late */,
        {datagram(20, 64, 8, 0x1234, 7), v::ignore, 64} /* a request */, {datagram(20, 12, 0, 0x1234, 7), v::short_answer, 12},
        {datagram(20, 5, 0, 0x1234, 7), v::runt, 5}, {lying, v::runt, -30}, {{}, v::runt, 0}};
    for (const auto& [d, verdict, icmplen] : cases) {
        echo_check got = check_echo_reply(d, std::ssize(d), 0x1234, 7);
        EXPECT_EQ(std::pair(got.verdict, got.icmplen), std::pair(verdict, icmplen)) << d.size();
    }
    // The sequence is the counter's low 16 bits; a reply too short is reported.
    const std::uint16_t ident = static_cast<std::uint16_t>(getpid() & 0xffff);
    nsent = 0x1ffff;
    const std::tuple<std::vector<std::byte>, std::ptrdiff_t, int, std::string> replies[]{
        {datagram(20, 64, 0, ident, 0xffff), 84, 1, ""}, {datagram(20, 64, 0, ident, 0xfffe), 84, 0, ""},
        {datagram(20, 4, 0, ident, 0xffff), 24, 0, "ERR:: proc_icmp_echo_reply: icmplen (4) < 8"},
        {datagram(20, 8, 0, ident, 0xffff), 28, 1, "ERR:: proc_icmp_echo_reply: icmplen (8) < 16"},
        {{std::byte{0x45}}, 0, 0, "ERR:: proc_icmp_echo_reply: icmplen (-20) < 8"}}; // nothing received: the length still comes from the buffer
    for (const auto& [d, len, ends, err] : replies)
        EXPECT_EQ(console_of([&] { EXPECT_EQ(proc_icmp_echo_reply(d.data(), len, timeval{}), ends) << len; }).err, err);
}

TEST_F(ReadHalf, ProbeReportsFailingReceivesAndItsCounterWraps)
{
    int fds[2]; // a pipe with data stands in for the socket: always readable, every receive fails, once reported
    ASSERT_EQ(::pipe(fds), 0);
    cutil::unique_fd rd(fds[0]), wr(fds[1]);
    ASSERT_EQ(::write(wr.get(), "x", 1), 1);
    kernel.icmp_fd = rd.get();
    const std::int32_t before = nsent;
    expect_answers({"ping 192.0.2.1 = 1 [ERR:: recv_from error]"});
    EXPECT_EQ(nsent, before + 1);
    nsent = INT32_MAX; // the counter wraps rather than overflowing
    answers({"ping 192.0.2.1"});
    EXPECT_EQ(nsent, INT32_MIN);
}
