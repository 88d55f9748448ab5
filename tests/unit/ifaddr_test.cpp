// Address, route and flag changes as the scripted kernel receives them, byte for byte, with
// every failure report; and the wait for a lingering address.
#include "cutil/ifaddr.hpp"
#include "cutil/linger.hpp"
#include "cutil/rtmsg.hpp"
#include "support/scripted_kernel.hpp"

using namespace cutil;
using namespace vttest;
using call = platform::fake_backend::call;

namespace {

// A 16-byte IPv4 socket address as the home kernel reads it (zeros for none), after `before`.
bsd::bytes with_sin(bsd::bytes before, const char* addr)
{
    if (addr != nullptr) {
        before.insert(before.end(), {std::byte{16}, std::byte{2}, std::byte{0}, std::byte{0}});
        bsd::append(before, inet_addr(addr));
    }
    before.resize(before.size() + (addr ? 8 : 16));
    return before;
}

using IfAddr = scripted_kernel;

} // namespace

TEST_F(IfAddr, EveryRequestReachesTheKernelAsAskedAndEveryFailureIsReported)
{
    kernel.interfaces["va"].flags = bsd::iff_broadcast | 0x1000;
    const std::string add_err = "ERR (T):: SIOCSIFADDR on va (203.0.113.9) : ", del_err = "ERR (T):: SIOCSIFADDR on va (203.0.113.9): ";
    const std::string bad = "ERR (T):: unix_ifconfig was called with bad ";
    const auto ifconfig = [](const char* ifname, const char* mask, const char* brd, int remove, const char* addr = "203.0.113.9") {
        return [=] { return unix_ifconfig(ifname, addr, mask, brd, 7, remove); };
    };
    const auto route = [](const char* addr, int del) { return [=] { return unix_route("va", addr, 0, del); }; };
    const std::tuple<std::function<int()>, std::map<call, std::deque<int>>, std::string> rows[] = {
        {ifconfig("va", "255.255.255.255", nullptr, 0), {}, "0 alias va 203.0.113.9/255.255.255.255\nout: err: "},
        {ifconfig("va", "255.255.255.0", "192.0.2.255", 0, "192.0.2.9"), {},
         "0 alias va 192.0.2.9/255.255.255.0 brd 192.0.2.255\nout: err: "},
        {ifconfig("va", "255.255.255.255", nullptr, 0), {{call::add_alias, {EEXIST}}},
         "0 alias va 203.0.113.9/255.255.255.255 -> EEXIST\nout: err: "},
        // No such interface is a failure, not an address already there.
        {ifconfig("va", nullptr, nullptr, 0), {{call::add_alias, {ENXIO}}},
         "1 alias va 203.0.113.9 -> ENXIO\nout: err: " + add_err + "No such device or address\n"},
        {ifconfig("va", nullptr, nullptr, 0), {{call::add_alias, {EPERM}}},
         "1 alias va 203.0.113.9 -> EPERM\nout: err: " + add_err + "Operation not permitted\n"},
        {ifconfig("va", nullptr, nullptr, 1), {}, "0 delete va 203.0.113.9\nout: err: "},
        {ifconfig("va", nullptr, nullptr, 1), {{call::delete_addr, {EADDRNOTAVAIL}}},
         "1 delete va 203.0.113.9 -> EADDRNOTAVAIL\nout: err: " + del_err + "Cannot assign requested address\n"},
        // Every malformed text is reported, with the system's text for errno, and nothing is changed.
        {ifconfig("va", "255.255.0.x", "1.2.3.4.5", 0, "203.0.113.999"), {},
         "1 out: err: " + bad + "IP: Numerical argument out of domain\n" + bad + "netmask: Numerical argument out of domain\n"
             + bad + "broadcast address: Numerical argument out of domain\n"},
        // A name the request cannot hold whole is never cut into another interface's name.
        {ifconfig("va0123456789abcd", nullptr, nullptr, 1), {},
         "1 out: err: ERR (T):: SIOCSIFADDR on va0123456789abcd (203.0.113.9): No such device or address\n"},
        {route(nullptr, 1), {}, "-1 out: err: ERR (T):: unix_route was called with no IP address\n"},
        {route("203.0.113.x", 1), {}, "-1 out: err: ERR (T):: unix_route was called with bad IP address\n"},
        {route("203.0.113.9", 1), {{call::route_open, {EACCES}}},
         "-1 route open -> EACCES\nout: err: ERR (T):: unix_route: Could not open socket: Permission denied\n"},
        // A route already there, or already gone, is what was wanted.
        {route("203.0.113.9", 0), {{call::route_write, {EEXIST}}}, "0 route open\nroute add 203.0.113.9 via 127.0.0.1 -> EEXIST\nout: err: "},
        {route("203.0.113.9", 1), {{call::route_write, {ESRCH}}}, "0 route open\nroute delete 203.0.113.9 -> ESRCH\nout: err: "},
        {route("203.0.113.9", 1), {{call::route_write, {ENETUNREACH}}}, "-1 route open\nroute delete 203.0.113.9 -> ENETUNREACH\n"
                                                                         "out: err: ERR (T):: unix_route failed to write to socket: Network is unreachable\n"},
        // Flags are read, changed and written back; an unknown or too long name is not found.
        {[] { return set_flag(-1, "va", bsd::iff_up); }, {}, "0 flags va 0x1003\nout: err: "},
        {[] { return get_flags(-1, "va"); }, {}, "4099 out: err: "},
        {[] { return clr_flag(-1, "va", bsd::iff_up | bsd::iff_broadcast); }, {}, "0 flags va 0x1000\nout: err: "},
        {[] { return set_flag(-1, "va", 0x20); }, {{call::set_flags, {EPERM}}},
         "1 flags va 0x1020 -> EPERM\nout: err: ERR (T):: SIOCSIFFLAGS set 0020 on va: Operation not permitted\n"},
        {[] { return clr_flag(-1, "va", 0x1000); }, {{call::set_flags, {EPERM}}},
         "1 flags va 0x0000 -> EPERM\nout: err: ERR (T):: SIOCSIFFLAGS clear 1000 on va: Operation not permitted\n"},
        {[] { return set_flag(-1, "vb", 1) + get_flags(-1, "vb"); }, {}, "-2 out: err: "},
        {[] { return set_flag(-1, "va0123456789abcd", 1) + get_flags(-1, "va0123456789abcd"); }, {}, "-2 out: err: "},
        {[this] { kernel.interfaces["va"].flags = 0x8003; return get_flags(-1, "va"); }, {}, "-32765 out: err: "}, // signed, widened
    };
    for (const auto& [fn, errnos, want] : rows) {
        kernel.errnos = errnos;
        int answer = 0;
        std::string t = trace([&] { errno = EDOM, answer = fn(); });
        EXPECT_EQ(std::to_string(answer) + " " + t, want);
    }
}

TEST_F(IfAddr, AliasRequestsAndRoutingMessagesByteForByte)
{
    unix_ifconfig("lo0", "203.0.113.9", "255.255.255.255", nullptr, 0, 0);
    unix_ifconfig("lo0", "203.0.113.9", nullptr, nullptr, 0, 1);
    ASSERT_EQ(kernel.writes.size(), 2u);
    const bsd::bytes lo0{std::byte{'l'}, std::byte{'o'}, std::byte{'0'}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}};
    EXPECT_EQ(kernel.writes[0].data, with_sin(with_sin(with_sin(lo0, "203.0.113.9"), nullptr), "255.255.255.255"));
    EXPECT_EQ(kernel.writes[1].data, with_sin(lo0, "203.0.113.9"));

    route_seq = 0;
    std::int32_t seq = 0;
    for (auto [addr, del, msglen, type, flags, addrs] : {std::tuple{"203.0.113.9", 0, 124, bsd::rtm_add, 0x807, 3},
                                                        {"203.0.113.9", 1, 108, bsd::rtm_delete, 0x4, 1},
                                                        {"198.51.100.7", 1, 108, bsd::rtm_delete, 0x4, 1}}) {
        kernel.writes.clear();
        ASSERT_EQ(unix_route("ignored", addr, 0, del), 0);
        ASSERT_EQ(kernel.writes.size(), 2u);
        bsd::rt_msghdr expected{};
        expected.rtm_msglen = static_cast<std::uint16_t>(msglen);
        expected.rtm_version = 5;
        expected.rtm_type = static_cast<std::uint8_t>(type);
        expected.rtm_flags = flags;
        expected.rtm_addrs = addrs;
        expected.rtm_seq = ++seq; // 1, 2, 3 across the calls
        bsd::bytes want;
        bsd::append(want, expected);
        want = with_sin(want, addr);
        EXPECT_EQ(kernel.writes[1].data, del ? want : with_sin(want, "127.0.0.1")) << addr << " " << del;
    }
}

TEST(Linger, WaitEndsWhenTheAddressIsSilentOrResolvedElsewhere)
{
    // Probes answered before silence, ARP lookups that fail before one resolves (-1: never),
    // and the rounds that print.
    for (auto [answered, resolved_after, rounds] : {std::tuple{0, -1, 0}, {2, -1, 2}, {99, -1, 10}, {99, 0, 0}, {99, 3, 3}}) {
        int pings = 0, lookups = 0, pauses = 0;
        linger_checks checks{[&](std::string_view) { return pings++ < answered ? 0 : 1; },
                             [&](std::string_view) { return lookups++ == resolved_after ? std::string(6, '\x02') : "ERROR"; },
                             [&](int attempt) { pauses += attempt == pauses; }};
        int got = -1;
        console c = console_of([&] { got = wait_while_lingering("192.0.2.7", checks); });
        std::string lines;
        for (int i = 0; i < rounds; ++i)
            lines += "IP 192.0.2.7 lingers " + std::to_string(i) + " attempt, trying again\n";
        EXPECT_EQ(std::to_string(got) + " " + std::to_string(pauses) + " " + c.out, std::to_string(rounds) + " " + std::to_string(rounds) + " " + lines);
    }
    console c = console_of([] { prevent_linger("192.0.2.7"); }); // no kernel quirk here
    EXPECT_EQ(c.out + c.err, "");
}
