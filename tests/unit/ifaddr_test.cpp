// Address, route and flag changes as the scripted kernel receives them, byte for byte, with
// every failure report; and the wait for a lingering address.
#include "cutil/ifaddr.hpp"
#include "cutil/linger.hpp"
#include "cutil/rtmsg.hpp"
#include "support/console.hpp"
#include "support/scripted_kernel.hpp"

using namespace cutil;
using namespace vttest;
using call = platform::fake_backend::call;

namespace {

// A 16-byte IPv4 socket address as the home kernel reads it.
bsd::bytes sin_bytes(const char* addr)
{
    bsd::bytes out{std::byte{16}, std::byte{2}, std::byte{0}, std::byte{0}};
    std::uint32_t a = inet_addr(addr);
    bsd::append(out, a);
    out.resize(16);
    return out;
}

bsd::bytes name_field(std::string_view name)
{
    bsd::bytes out(16);
    std::memcpy(out.data(), name.data(), name.size());
    return out;
}

bsd::bytes concat(std::initializer_list<bsd::bytes> parts)
{
    bsd::bytes out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

class IfAddr : public scripted_kernel {
protected:
    // Runs `fn` with the errno queued for one kind of call; checks its answer, its console and
    // what reached the kernel.
    template <class F>
    void expect(F&& fn, std::map<call, std::deque<int>> errnos, int result, const std::string& err,
                const std::vector<std::string>& log, const std::string& label)
    {
        kernel.writes.clear();
        kernel.errnos = std::move(errnos);
        int got = 0;
        console c = console_of([&] { got = fn(); });
        EXPECT_EQ(got, result) << label;
        EXPECT_EQ(timeless(c.err), err) << label;
        EXPECT_EQ(c.out, "") << label;
        EXPECT_EQ(kernel.summaries(), log) << label;
    }
};

} // namespace

TEST_F(IfAddr, AliasRequestsAndTheirFailures)
{
    const std::string add_err = "ERR (T):: SIOCSIFADDR on va (203.0.113.9) : ";
    const std::string del_err = "ERR (T):: SIOCSIFADDR on va (203.0.113.9): ";
    struct row {
        const char *ifname, *addr, *mask, *brd;
        int remove, scripted, result;
        std::string err;
        std::vector<std::string> log;
    } rows[] = {
        {"va", "203.0.113.9", "255.255.255.255", nullptr, 0, 0, 0, "", {"alias va 203.0.113.9/255.255.255.255"}},
        {"va", "192.0.2.9", "255.255.255.0", "192.0.2.255", 0, 0, 0, "", {"alias va 192.0.2.9/255.255.255.0 brd 192.0.2.255"}},
        {"va", "203.0.113.9", "255.255.255.255", nullptr, 0, EEXIST, 0, "", {"alias va 203.0.113.9/255.255.255.255 -> EEXIST"}},
        // No such interface is a failure, not an address already there.
        {"va", "203.0.113.9", nullptr, nullptr, 0, ENXIO, 1, add_err + "No such device or address\n", {"alias va 203.0.113.9 -> ENXIO"}},
        {"va", "203.0.113.9", nullptr, nullptr, 0, EPERM, 1, add_err + "Operation not permitted\n", {"alias va 203.0.113.9 -> EPERM"}},
        {"va", "203.0.113.9", nullptr, nullptr, 1, 0, 0, "", {"delete va 203.0.113.9"}},
        {"va", "203.0.113.9", nullptr, nullptr, 1, EADDRNOTAVAIL, 1, del_err + "Cannot assign requested address\n",
         {"delete va 203.0.113.9 -> EADDRNOTAVAIL"}},
        // Every malformed text is reported, with the system's text for errno, and nothing is changed.
        {"va", "203.0.113.999", "255.255.0.x", "1.2.3.4.5", 0, 0, 1,
         "ERR (T):: unix_ifconfig was called with bad IP: Numerical argument out of domain\n"
         "ERR (T):: unix_ifconfig was called with bad netmask: Numerical argument out of domain\n"
         "ERR (T):: unix_ifconfig was called with bad broadcast address: Numerical argument out of domain\n", {}},
        // A name the request cannot hold whole is never cut into another interface's name.
        {"va0123456789abcd", "203.0.113.9", nullptr, nullptr, 1, 0, 1,
         "ERR (T):: SIOCSIFADDR on va0123456789abcd (203.0.113.9): No such device or address\n", {}},
    };
    for (const row& r : rows)
        expect([&] {
            errno = EDOM;
            return unix_ifconfig(r.ifname, r.addr, r.mask, r.brd, 7, r.remove);
        },
               {{r.remove ? call::delete_addr : call::add_alias, {r.scripted}}}, r.result, r.err, r.log,
               std::string(r.ifname) + " " + r.addr + " " + std::to_string(r.scripted));

    unix_ifconfig("lo0", "203.0.113.9", "255.255.255.255", nullptr, 0, 0);
    unix_ifconfig("lo0", "203.0.113.9", nullptr, nullptr, 0, 1);
    ASSERT_EQ(kernel.writes.size(), 2u);
    EXPECT_EQ(kernel.writes[0].data,
              concat({name_field("lo0"), sin_bytes("203.0.113.9"), bsd::bytes(16), sin_bytes("255.255.255.255")}));
    EXPECT_EQ(kernel.writes[1].data, concat({name_field("lo0"), sin_bytes("203.0.113.9")}));
}

TEST_F(IfAddr, RoutingMessagesByteForByte)
{
    route_seq = 0;
    struct row {
        const char* addr;
        int del;
        std::uint16_t msglen;
        std::uint8_t type;
        int flags, addrs;
    } rows[] = {
        {"203.0.113.9", 0, 124, bsd::rtm_add, 0x807, 3},
        {"203.0.113.9", 1, 108, bsd::rtm_delete, 0x4, 1},
        {"198.51.100.7", 1, 108, bsd::rtm_delete, 0x4, 1},
    };
    std::int32_t seq = 0;
    for (const row& r : rows) {
        kernel.writes.clear();
        ASSERT_EQ(unix_route("ignored", r.addr, 0, r.del), 0);
        ASSERT_EQ(kernel.writes.size(), 2u);
        const bsd::bytes& msg = kernel.writes[1].data;
        ASSERT_EQ(msg.size(), r.msglen) << r.addr;
        bsd::rt_msghdr expected{};
        expected.rtm_msglen = r.msglen;
        expected.rtm_version = 5;
        expected.rtm_type = r.type;
        expected.rtm_flags = r.flags;
        expected.rtm_addrs = r.addrs;
        expected.rtm_seq = ++seq; // 1, 2, 3 across the calls
        bsd::bytes want;
        bsd::append(want, expected);
        want = concat({want, sin_bytes(r.addr)});
        if (!r.del)
            want = concat({want, sin_bytes("127.0.0.1")});
        EXPECT_EQ(msg, want) << r.addr << " " << r.del;
    }
}

TEST_F(IfAddr, RouteFailuresAndAnswersThatMeanDone)
{
    const auto route = [](const char* addr, int del) { return [=] { return unix_route("va", addr, 0, del); }; };
    expect(route(nullptr, 1), {}, -1, "ERR (T):: unix_route was called with no IP address\n", {}, "none");
    expect(route("203.0.113.x", 1), {}, -1, "ERR (T):: unix_route was called with bad IP address\n", {}, "bad");
    expect(route("203.0.113.9", 1), {{call::route_open, {EACCES}}}, -1,
           "ERR (T):: unix_route: Could not open socket: Permission denied\n", {"route open -> EACCES"}, "open");
    expect(route("203.0.113.9", 0), {{call::route_write, {EEXIST}}}, 0, "",
           {"route open", "route add 203.0.113.9 via 127.0.0.1 -> EEXIST"}, "exists");
    expect(route("203.0.113.9", 1), {{call::route_write, {ESRCH}}}, 0, "",
           {"route open", "route delete 203.0.113.9 -> ESRCH"}, "gone");
    expect(route("203.0.113.9", 1), {{call::route_write, {ENETUNREACH}}}, -1,
           "ERR (T):: unix_route failed to write to socket: Network is unreachable\n",
           {"route open", "route delete 203.0.113.9 -> ENETUNREACH"}, "refused");
}

TEST_F(IfAddr, FlagsReadChangedAndWrittenBack)
{
    kernel.interfaces["va"].flags = bsd::iff_broadcast | 0x1000;
    expect([] { return set_flag(-1, "va", bsd::iff_up); }, {}, 0, "", {"flags va 0x1003"}, "set");
    expect([] { return get_flags(-1, "va"); }, {}, 0x1003, "", {}, "get");
    expect([] { return clr_flag(-1, "va", bsd::iff_up | bsd::iff_broadcast); }, {}, 0, "", {"flags va 0x1000"}, "clear");
    expect([] { return set_flag(-1, "va", 0x20); }, {{call::set_flags, {EPERM}}}, 1,
           "ERR (T):: SIOCSIFFLAGS set 0020 on va: Operation not permitted\n", {"flags va 0x1020 -> EPERM"}, "set refused");
    expect([] { return clr_flag(-1, "va", 0x1000); }, {{call::set_flags, {EPERM}}}, 1,
           "ERR (T):: SIOCSIFFLAGS clear 1000 on va: Operation not permitted\n", {"flags va 0x0000 -> EPERM"}, "clear refused");
    for (const char* unknown : {"vb", "va0123456789abcd"})
        expect([=] { return set_flag(-1, unknown, 1) + get_flags(-1, unknown); }, {}, -2, "", {}, unknown);
    kernel.interfaces["va"].flags = 0x8003;
    expect([] { return get_flags(-1, "va"); }, {}, -32765, "", {}, "sign"); // a signed 16-bit value, widened
}

TEST(Linger, WaitEndsWhenTheAddressIsSilentOrResolvedElsewhere)
{
    const std::string moved(6, '\x02');
    struct row {
        int answered;             // probes answered before silence
        int resolved_after;       // ARP lookups that fail before one resolves (-1: never)
        int rounds;
    } rows[] = {{0, -1, 0}, {2, -1, 2}, {99, -1, 10}, {99, 0, 0}, {99, 3, 3}};
    for (const row& r : rows) {
        int pings = 0, lookups = 0;
        std::vector<int> pauses;
        linger_checks checks{[&](std::string_view) { return pings++ < r.answered ? 0 : 1; },
                             [&](std::string_view) { return lookups++ == r.resolved_after ? moved : "ERROR"; },
                             [&](int attempt) { pauses.push_back(attempt); }};
        int rounds = -1;
        console c = console_of([&] { rounds = wait_while_lingering("192.0.2.7", checks); });
        EXPECT_EQ(rounds, r.rounds) << r.answered << " " << r.resolved_after;
        std::string lines;
        for (int i = 0; i < r.rounds; ++i)
            lines += "IP 192.0.2.7 lingers " + std::to_string(i) + " attempt, trying again\n";
        EXPECT_EQ(c.out, lines);
        EXPECT_EQ(pauses.size(), static_cast<std::size_t>(r.rounds));
    }
    console c = console_of([] { prevent_linger("192.0.2.7"); }); // no kernel quirk here
    EXPECT_EQ(c.out + c.err, "");
}
