// The write half against the scripted kernel: address, route and flag changes, routing messages
// byte for byte and read back, gratuitous ARP, the takeover steps with their released-address
// queue, and the wait for a lingering address.
#include "cutil/arpcast.hpp"
#include "cutil/ifaddr.hpp"
#include "cutil/linger.hpp"
#include "cutil/rtmsg.hpp"
#include "cutil/takeover.hpp"
#include "platform/routeread.hpp"
#include "support/queries.hpp"
#include "support/scripted_kernel.hpp"

using namespace cutil;
using namespace vttest;

namespace {

// em0 with two addresses and a third, em1 with one, 192.0.2.50 parked on lo0; va for the flags.
class WriteHalf : public scripted_kernel {
protected:
    void SetUp() override
    {
        // A second address of em0 is found like the first.
        link(1, "em0", hw0, 0, {{"192.0.2.10", "255.255.255.0"}, {"192.0.2.11", "255.255.255.255"}, {"198.51.100.1", "255.255.255.0"}});
        link(2, "em1", hw1, 0, {{"203.0.113.1", "255.255.255.0"}});
        link(3, "lo0", {}, 0, {{"127.0.0.1", "255.0.0.0"}, {"192.0.2.50", "255.255.255.255"}});
        kernel.parked_answered.insert("em0");
        kernel.interfaces["va"].flags = bsd::iff_broadcast | 0x1000;
        c_ip_init();
    }
    // One arpcast from a fresh version check, with the packet devices `busy`: "checked" when it passed.
    std::function<std::string()> cast(std::string ifname, const char* addr, int count, std::set<int> busy = {}, bsd::bpf_version v = {1, 1})
    {
        return [=, this] {
            kernel.busy_devices = busy, kernel.version = v, bpf_first_time = true;
            arpcast(ifname, addr, count);
            return bpf_first_time ? "" : "checked";
        };
    }
};

} // namespace

TEST_F(WriteHalf, EveryRequestReachesTheKernelAsAskedAndEveryFailureIsReported)
{
    const std::string add_err = "err: ERR (T):: SIOCSIFADDR on va (203.0.113.9) : ", bad = "ERR (T):: unix_ifconfig was called with bad ";
    const auto ifconfig = [](const char* ifname, const char* mask, const char* brd, int remove, const char* addr = "203.0.113.9") {
        return [=] { return unix_ifconfig(ifname, addr, mask, brd, 7, remove); };
    };
    const auto route = [](const char* addr, int del) { return [=] { return unix_route("va", addr, 0, del); }; };
    const std::string unreachable = "err: ERR (T):: unix_route failed to write to socket: Network is unreachable\n";
    expect_steps({
        {ifconfig("va", "255.255.255.255", nullptr, 0), {}, "0 alias va 203.0.113.9/255.255.255.255\n"},
        {ifconfig("va", "255.255.255.0", "192.0.2.255", 0, "192.0.2.9"), {}, "0 alias va 192.0.2.9/255.255.255.0 brd 192.0.2.255\n"},
        {ifconfig("va", "255.255.255.255", nullptr, 0), {{call::add_alias, {EEXIST}}}, "0 alias va 203.0.113.9/255.255.255.255 -> EEXIST\n"},
        // No such interface is a failure, not an address already there.
        {ifconfig("va", nullptr, nullptr, 0), {{call::add_alias, {ENXIO}}}, "1 alias va 203.0.113.9 -> ENXIO\n" + add_err + "No such device or address\n"},
        {ifconfig("va", nullptr, nullptr, 1), {}, "0 delete va 203.0.113.9\n"},
        {ifconfig("va", nullptr, nullptr, 1), {{call::delete_addr, {EADDRNOTAVAIL}}},
         "1 delete va 203.0.113.9 -> EADDRNOTAVAIL\nerr: ERR (T):: SIOCSIFADDR on va (203.0.113.9): Cannot assign requested address\n"},
        // Every malformed text is reported, with the system's text for errno, and nothing is changed.
        {ifconfig("va", "255.255.0.x", "1.2.3.4.5", 0, "203.0.113.999"), {}, "1 err: " + bad + "IP: Success\n" + bad + "netmask: Success\n" + bad + "broadcast address: Success\n"},
        // A name the request cannot hold whole is never cut into another interface's name.
        {ifconfig("va0123456789abcd", nullptr, nullptr, 1), {}, "1 err: ERR (T):: SIOCSIFADDR on va0123456789abcd (203.0.113.9): No such device or address\n"},
        {route(nullptr, 1), {}, "-1 err: ERR (T):: unix_route was called with no IP address\n"},
        {route("203.0.113.x", 1), {}, "-1 err: ERR (T):: unix_route was called with bad IP address\n"},
        {route("203.0.113.9", 1), {{call::route_open, {EACCES}}}, "-1 route open -> EACCES\nerr: ERR (T):: unix_route: Could not open socket: Permission denied\n"},
        // A route already there, or already gone, is what was wanted.
        {route("203.0.113.9", 0), {{call::route_write, {EEXIST}}}, "0 route open\nroute add 203.0.113.9 via 127.0.0.1 -> EEXIST\n"},
        {route("203.0.113.9", 1), {{call::route_write, {ESRCH}}}, "0 route open\nroute delete 203.0.113.9 -> ESRCH\n"},
        {route("203.0.113.9", 1), {{call::route_write, {ENETUNREACH}}}, "-1 route open\nroute delete 203.0.113.9 -> ENETUNREACH\n" + unreachable},
        // Flags are read, changed and written back; an unknown or too long name is not found.
        {[] { return set_flag(-1, "va", bsd::iff_up); }, {}, "0 flags va 0x1003\n"},
        {[] { return get_flags(-1, "va"); }, {}, "4099 "},
        {[] { return clr_flag(-1, "va", bsd::iff_up | bsd::iff_broadcast); }, {}, "0 flags va 0x1000\n"},
        {[] { return set_flag(-1, "va", 0x20); }, {{call::set_flags, {EPERM}}}, "1 flags va 0x1020 -> EPERM\nerr: ERR (T):: SIOCSIFFLAGS set 0020 on va: Operation not permitted\n"},
        {[] { return clr_flag(-1, "va", 0x1000); }, {{call::set_flags, {EPERM}}}, "1 flags va 0x0000 -> EPERM\nerr: ERR (T):: SIOCSIFFLAGS clear 1000 on va: Operation not permitted\n"},
        {[] { return set_flag(-1, "vb", 1) + get_flags(-1, "vb"); }, {}, "-2 "},
        {[] { return set_flag(-1, "va0123456789abcd", 1) + get_flags(-1, "va0123456789abcd"); }, {}, "-2 "},
        {[this] { kernel.interfaces["va"].flags = 0x8003; return get_flags(-1, "va"); }, {}, "-32765 "}, // signed, widened
    });
}

TEST_F(WriteHalf, AliasRequestsAndRoutingMessagesByteForByte)
{
    unix_ifconfig("lo0", "203.0.113.9", "255.255.255.255", nullptr, 0, 0);
    unix_ifconfig("lo0", "203.0.113.9", nullptr, nullptr, 0, 1);
    bsd::bytes alias(16), removal; // the name, the address, no broadcast address, the netmask
    std::memcpy(alias.data(), "lo0", 3);
    bsd::put_sockaddr_in(alias, inet_addr("203.0.113.9"));
    removal = alias;
    alias.resize(48);
    bsd::put_sockaddr_in(alias, inet_addr("255.255.255.255"));
    ASSERT_EQ(kernel.writes.size(), 2u);
    EXPECT_EQ(std::vector({kernel.writes[0].data, kernel.writes[1].data}), std::vector({alias, removal}));
    route_seq = 0; // then 1, 2, 3 across the calls
    const std::tuple<const char*, int, bsd::rt_msghdr> rows[] = {
        {"203.0.113.9", 0, {.rtm_msglen = 124, .rtm_version = 5, .rtm_type = bsd::rtm_add, .rtm_flags = 0x807, .rtm_addrs = 3, .rtm_seq = 1}},
        {"203.0.113.9", 1, {.rtm_msglen = 108, .rtm_version = 5, .rtm_type = bsd::rtm_delete, .rtm_flags = 0x4, .rtm_addrs = 1, .rtm_seq = 2}},
        {"198.51.100.7", 1, {.rtm_msglen = 108, .rtm_version = 5, .rtm_type = bsd::rtm_delete, .rtm_flags = 0x4, .rtm_addrs = 1, .rtm_seq = 3}}};
    for (const auto& [addr, del, header] : rows) {
        ASSERT_EQ(unix_route("ignored", addr, 0, del), 0);
        bsd::bytes want;
        bsd::append(want, header);
        bsd::put_sockaddr_in(want, inet_addr(addr));
        if (!del)
            bsd::put_sockaddr_in(want, inet_addr("127.0.0.1"));
        EXPECT_EQ(kernel.writes.back().data, want) << addr << " " << del;
    }
}

// The FreeBSD messages the Linux backend builds: lengths, address masks, padding and slot order,
// which the walkers do not check (field offsets are held by static_asserts).
TEST(RouteMessages, LengthsMasksPaddingAndSlotOrder)
{
    bsd::bytes ifm, ifa, bare, arp, incomplete;
    bsd::put_if_msg(ifm, {.name = "fxp0", .hw = hw0});
    bsd::put_ifa_msg(ifa, {.addr = inet_addr("192.0.2.10"), .netmask = inet_addr("255.255.255.0"), .has_brd = true, .brd = inet_addr("192.0.2.255")});
    bsd::put_ifa_msg(bare, {.addr = inet_addr("192.0.2.10"), .has_netmask = false});
    bsd::put_arp_entry(arp, {.addr = inet_addr("198.51.100.7"), .ifname = "em0", .hw = vrrp});
    bsd::put_arp_entry(incomplete, {.addr = inet_addr("198.51.100.8"), .ifname = "em0"});
    const auto u32 = [](const bsd::bytes& b, std::size_t i) { return bsd::load<std::uint32_t>(b.data() + i); };
    for (auto [b, size, addrs_at, addrs] : {std::tuple{&ifm, 96 + 56, 4, bsd::rta_ifp}, {&ifa, 20 + 8 + 16 + 16, 4, bsd::rta_netmask | bsd::rta_ifa | bsd::rta_brd},
                                           {&bare, 20 + 16, 4, bsd::rta_ifa}, {&arp, 164, 12, bsd::rta_dst | bsd::rta_gateway},
                                           {&incomplete, 164, 12, bsd::rta_dst | bsd::rta_gateway}})
        EXPECT_EQ(std::tuple(b->size(), bsd::load<std::uint16_t>(b->data()), u32(*b, addrs_at)), std::tuple(size, size, addrs)) << size;
    // sdl_len padded as the kernel does; the short netmask first, then the address and the
    // broadcast; sdl_alen of a resolved and of an incomplete entry.
    EXPECT_EQ(std::tuple(ifm[96], ifa[20], arp[114], incomplete[114]), std::tuple(std::byte{56}, std::byte{8}, std::byte{6}, std::byte{0}));
    EXPECT_EQ(std::tuple(u32(ifa, 24), u32(ifa, 32), u32(ifa, 48)), std::tuple(inet_addr("255.255.255.0"), inet_addr("192.0.2.10"), inet_addr("192.0.2.255")));
}

// Routing messages read back as the home kernel reads them, with the errors it answers.
TEST(RouteRead, MalformedMessagesAnswerTheHomeKernelsErrors)
{
    using edit = std::function<void(bsd::bytes&)>;
    const auto set_u8 = [](std::size_t at, int v) -> edit { return [=](bsd::bytes& m) { m[at] = std::byte(v); }; };
    const auto with_netmask = [](const char* mask, int flags) -> edit {
        return [=](bsd::bytes& m) {
            bsd::rt_msghdr h = bsd::load<bsd::rt_msghdr>(m.data());
            m.insert(m.end(), {std::byte{8}, std::byte{0}, std::byte{0}, std::byte{0}});
            bsd::append(m, inet_addr(mask));
            h.rtm_addrs |= bsd::rta_netmask, h.rtm_flags = flags, h.rtm_msglen = static_cast<std::uint16_t>(m.size());
            std::memcpy(m.data(), &h, sizeof h);
        };
    };
    const std::tuple<const char*, bool, edit, int, int> rows[] = {
        {"add as built", false, [](bsd::bytes&) {}, 0, 32},
        {"delete as built", true, [](bsd::bytes&) {}, 0, 32},
        {"shorter than its header", true, [](bsd::bytes& m) { m.resize(91); }, EINVAL, 0},
        {"length field disagrees", true, set_u8(0, 107), EINVAL, 0},
        {"version 4", true, set_u8(2, 4), EPROTONOSUPPORT, 0},
        {"RTM_GET", true, set_u8(3, bsd::rtm_get), EOPNOTSUPP, 0},
        {"add without gateway", false, set_u8(12, bsd::rta_dst), EINVAL, 0},
        {"destination not IPv4", true, set_u8(93, bsd::af_link), EINVAL, 0},
        {"gateway not IPv4", false, set_u8(109, bsd::af_link), EAFNOSUPPORT, 0},
        {"address past the end", true, set_u8(92, 40), EINVAL, 0},
        {"network route", false, with_netmask("255.255.255.0", bsd::rtf_up | bsd::rtf_gateway), 0, 24},
        {"host route ignores its netmask", false, with_netmask("255.255.255.0", bsd::rtf_host), 0, 32},
        {"netmask with a hole", false, with_netmask("255.0.255.0", 0), EINVAL, 0},
    };
    for (const auto& [label, del, change, answer, prefixlen] : rows) {
        const auto* at = reinterpret_cast<const std::byte*>(&m_rtmsg);
        bsd::bytes msg(at, at + build_route_msg(inet_addr("203.0.113.9"), del));
        change(msg);
        bsd::route_request got;
        EXPECT_EQ(bsd::read_route_request(msg, got), answer) << label;
        EXPECT_EQ(answer ? 0 : got.dst == inet_addr("203.0.113.9") && got.seq == route_seq ? got.prefixlen : -1, prefixlen) << label;
    }
}

TEST_F(WriteHalf, GratuitousArpFramesDeviceSearchVersionBindingAndFailures)
{
    const std::string frame = "packet frame em0 192.0.2.5\n", sent = "packet open 0\npacket version\npacket bind em0\n" + frame;
    const std::string debug = "out: DEBUG (T):: [ 192.0.2.5 -> 00:a0:c9:01:02:03 ]\n", no_device = "ERR::arpcast:Couldn't open device: ";
    const std::string busy = "open: Device or resource busy\n", no_such = no_device + "No such device or address\n";
    const auto unbound = [&](const std::string& name) { return "err: ERR (T):: initdevice on " + name + "(FD): BIOCSETIF: No such device or address\n" + no_such; };
    const auto old = [&](const std::string& v) {
        return " packet open 0\npacket version\nerr: ERR (T):: initdevice: kernel bpf (v" + v + ") filter out of date. current version: 1.1\n" + no_device + "Protocol not supported\n";
    };
    std::string opened16, busy16;
    for (int n = 0; n < 16; ++n)
        opened16 += "packet open " + std::to_string(n) + " -> EBUSY\n", busy16 += busy;
    expect_steps({
        {cast("em0:1", "192.0.2.5", 3), {}, "checked " + sent + frame + frame + debug}, // on the alias's physical interface
        {[] { arpcast("em0", "192.0.2.5", 1); return 0; }, {}, "0 packet open 0\npacket bind em0\n" + frame + debug}, // the version checked once
        {cast("em0", "192.0.2.5", 1, {0, 1}), {}, "checked packet open 0 -> EBUSY\npacket open 1 -> EBUSY\n" + std::regex_replace(sent, std::regex("open 0"), "open 2") + debug + "err: " + busy + busy},
        {cast("em0", "192.0.2.5", 1, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}), {},
         " " + opened16 + "err: " + busy16 + "ERR (T):: initdevice: no bpf devices available as /dev/bpfxx\n" + no_device + "Device or resource busy\n"},
        {cast("em0", "192.0.2.5", 1, {}, {1, 0}), {}, old("1.0")},
        {cast("em0", "192.0.2.5", 1, {}, {2, 1}), {}, old("2.1")},
        {cast("em0", "192.0.2.5", 1), {{call::packet_version, {EINVAL}}},
         " packet open 0\npacket version -> EINVAL\nerr: ERR (T):: initdevice: BIOCVERSION: Invalid argument\n" + no_device + "Invalid argument\n"},
        {cast("em0", "192.0.2.5", 1), {{call::packet_bind, {ENXIO}}}, "checked packet open 0\npacket version\npacket bind em0 -> ENXIO\n" + unbound("em0")},
        // A name the request cannot hold is refused, never cut into another interface's name.
        {cast("em0123456789abcd:1", "192.0.2.5", 1), {}, "checked packet open 0\npacket version\n" + unbound("em0123456789abcd")},
        {cast("em0", "192.0.2.5", 3), {{call::packet_write, {0, EIO}}},
         "checked " + sent + "packet frame em0 192.0.2.5 -> EIO\n" + frame + debug + "err: ERR::arpcast: bad write to device em0 ip 192.0.2.5\n: Input/output error\n"},
        {cast("em0", "192.0.2.5", 0), {}, "checked packet open 0\npacket version\npacket bind em0\n" + debug},
        {cast("em9", "192.0.2.5", 1), {}, "checked " + std::regex_replace(sent, std::regex("em0"), "em9") + "out: DEBUG (T):: [ 192.0.2.5 -> 00:00:00:00:00:00 ]\n"},
        {cast("em0", "255.255.255.255", 1), {}, " err: ERR (T):: arpcast: invalid ip address: 255.255.255.255\n"},
        {cast("em0", nullptr, 1), {}, " err: ERR (T):: arpcast: invalid ip address: (null)\n"},
        {cast("em0:" + std::string(96, '1'), "192.0.2.5", 1), {}, " err: " + no_device + "File name too long\n"},
    });
    const unsigned char expected[42] = {
        0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x00, 0xa0, 0xc9, 0x01, 0x02, 0x03, 0x08, 0x06, // Ethernet
        0x00, 0x01, 0x08, 0x00, 6, 4, 0x00, 0x01,                                          // ARP request
        0x00, 0xa0, 0xc9, 0x01, 0x02, 0x03, 192, 0, 2, 5,                                   // sender
        0x00, 0xa0, 0xc9, 0x01, 0x02, 0x03, 192, 0, 2, 5};                                  // target: the same
    console_of([] { arpcast("em0:1", "192.0.2.5", 1); });
    EXPECT_EQ(kernel.writes.back().data, bsd::bytes(reinterpret_cast<const std::byte*>(expected), reinterpret_cast<const std::byte*>(expected) + 42));
}

TEST_F(WriteHalf, EachTakeoverStepAsksTheKernelInItsOrderAndQueuesWhatItGaveBack)
{
    const auto frames = [](const std::string& a) {
        return "packet bind em0\npacket frame em0 " + a + "\npacket frame em0 " + a + "\npacket frame em0 " + a + "\nout: DEBUG (T):: [ " + a + " -> 00:a0:c9:01:02:03 ]\n";
    };
    const auto released = [] { std::string out; for (std::string a = get_released(); !a.empty(); a = get_released()) out += a + " "; return out; };
    const std::string back = "delete em0 192.0.2.11\nroute open\nroute delete 192.0.2.11\nalias lo0 192.0.2.11/255.255.255.255\nout: do_release_ip device em0 IP 192.0.2.11 forget 0\n";
    const std::string take = "SUCCESS route open\nroute delete ", forget50 = "delete lo0 192.0.2.50\nroute open\nroute delete 192.0.2.50\n";
    const std::string bad_ip = "ERR (T):: unix_ifconfig was called with bad IP: Success\n";
    bpf_first_time = true;
    expect_steps({
        {released, {}, " "},
        {[] { return do_take_ip("em0:1", "192.0.2.50"); }, {},
         take + "192.0.2.50\nalias em0:1 192.0.2.50/255.255.255.255\ndelete lo0 192.0.2.50\npacket open 0\npacket version\n" + frames("192.0.2.50")},
        {[] { return do_take_ip("em0", "203.0.113.9"); }, {}, take + "203.0.113.9\nalias em0 203.0.113.9/255.255.255.255\npacket open 0\n" + frames("203.0.113.9")}, // not parked
        {[] { return do_release_ip("em0", "192.0.2.11", 0); }, {},
         "SUCCESS " + back + "WARNING (T):: addresses parked on lo0 are still claimed by ARP on em0: set net.ipv4.conf.em0.arp_ignore=1 and arp_announce=2\n"},
        {[] { return do_release_ip("em0", "192.0.2.11", 0); }, {}, "SUCCESS " + back}, // the warning is said once
        {[] { return do_release_ip("ERROR", "192.0.2.50", 1); }, {}, "SUCCESS " + forget50 + "out: do_release_ip device ERROR IP 192.0.2.50 forget 1\n"}, // off the loopback
        {[] { return do_release_ip("ERROR", "203.0.113.9", 1); }, {}, "SUCCESS out: do_release_ip device ERROR IP 203.0.113.9 forget 1\n"},
        {[] { return c_ip_init(); }, {}, "SUCCESS "}, // again on a full queue: nothing queued is lost
        {[] { return queue_release_ip("192.0.2.50", 1); }, {}, "SUCCESS " + forget50},
        // Text that is no address is not queued and reaches no kernel.
        {[] { return do_release_ip("em0", "192.0.2.999", 0); }, {}, "SUCCESS out: do_release_ip device em0 IP 192.0.2.999 forget 0\nerr: invalid ipaddress "
                                                                    "(192.0.2.999)\n" + bad_ip + "ERR (T):: unix_route was called with bad IP address\n" + bad_ip},
        {[] { return device_cleanup("em0"); }, {}, "SUCCESS delete em0 192.0.2.11\ndelete em0 198.51.100.1\n"},
        {[] { return device_cleanup("lo0") + device_cleanup("em1") + device_cleanup("em9"); }, {}, "SUCCESSSUCCESSFAIL delete lo0 192.0.2.50\n"},
        {released, {}, "192.0.2.11 192.0.2.11 192.0.2.50 203.0.113.9 192.0.2.50  "},
        {[] { queue_release_ip("198.51.100.7", 0); return queue_release_ip("203.0.113.9", 0); }, {}, "SUCCESS "}, // after running empty
        {released, {}, "198.51.100.7 203.0.113.9  "},
    });
    for (const char* bad : {"0.0.0.0", "host", "192.0.2", "192.0.2.300", ""})
        EXPECT_EXIT(queue_release_ip(bad, 0), testing::ExitedWithCode(1), "^invalid ipaddress \\(" + std::string(bad) + "\\)\n$");
}

TEST_F(WriteHalf, LookupsFindEveryAddressOfTheNamedInterfaceOnly)
{
    const std::vector<std::string> lines = {
        "device em0 192.0.2.10 = em0", "configured em0 192.0.2.10 = 1", "device em0 192.0.2.11 = em0", "configured em0 192.0.2.11 = 1",
        "device em0 203.0.113.1 = ERROR", "configured em0 203.0.113.1 = 0", "device em0 192.0.2.50 = ERROR", "configured em0 192.0.2.50 = 1" /* parked */,
        "device em2 192.0.2.10 = ERROR", "configured em2 192.0.2.10 = 0", "device em2 192.0.2.50 = ERROR", "configured em2 192.0.2.50 = 1",
        "device em0 192.0.2.12 = ERROR", "configured em0 192.0.2.12 = 0", "device em0 not.an.address = ERROR", "configured em0 not.an.address = 0",
        "device em0 " + std::string(79, '1') + " = ERROR"};
    EXPECT_EQ(answers(lines), joined(lines));
    char name[4] = "xxx";
    EXPECT_EQ(find_local_device("192.0.2.10", name, 1), 1); // no search: yes, without looking
    EXPECT_STREQ(name, "lo0");
    EXPECT_EQ(find_local_device("192.0.2.10", name, 0) * 10 + find_local_device("192.0.2.50", name, 0), 1);
}

TEST(Linger, WaitEndsWhenTheAddressIsSilentOrResolvedElsewhere)
{
    // Probes answered before silence, ARP lookups that fail before one resolves (-1: never), and the rounds that print.
    for (auto [answered, resolved_after, rounds] : {std::tuple{0, -1, 0}, {2, -1, 2}, {99, -1, 10}, {99, 0, 0}, {99, 3, 3}}) {
        int pings = 0, lookups = 0, pauses = 0, got = -1;
        linger_checks checks{[&](std::string_view) { return pings++ < answered ? 0 : 1; },
                             [&](std::string_view) { return lookups++ == resolved_after ? std::string(6, '\x02') : "ERROR"; },
                             [&](int attempt) { pauses += attempt == pauses; }};
        std::string out = console_of([&] { got = wait_while_lingering("192.0.2.7", checks); }).out, lines;
        for (int i = 0; i < rounds; ++i)
            lines += "IP 192.0.2.7 lingers " + std::to_string(i) + " attempt, trying again\n";
        EXPECT_EQ(std::to_string(got) + " " + std::to_string(pauses) + " " + out, std::to_string(rounds) + " " + std::to_string(rounds) + " " + lines);
    }
    console c = console_of([] { prevent_linger("192.0.2.7"); }); // no kernel quirk here
    EXPECT_EQ(c.out + c.err, "");
}
