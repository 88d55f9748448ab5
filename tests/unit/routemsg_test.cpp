// The FreeBSD messages the Linux backend builds (lengths, address masks, padding and slot order:
// what the walkers do not check; field offsets are held by static_asserts), and routing messages
// read back as the home kernel reads them, with the errors it answers for malformed ones.
#include "cutil/rtmsg.hpp"
#include "platform/routeread.hpp"
#include "support/scripted_kernel.hpp"

using namespace cutil;

TEST(RouteMessages, LengthsMasksPaddingAndSlotOrder)
{
    bsd::bytes ifm, ifa, bare, arp, incomplete;
    bsd::put_if_msg(ifm, {.name = "fxp0", .hw = vttest::hw0});
    bsd::put_ifa_msg(ifa, {.addr = inet_addr("192.0.2.10"), .netmask = inet_addr("255.255.255.0"), .has_brd = true,
                           .brd = inet_addr("192.0.2.255")});
    bsd::put_ifa_msg(bare, {.addr = inet_addr("192.0.2.10"), .has_netmask = false});
    bsd::put_arp_entry(arp, {.addr = inet_addr("198.51.100.7"), .ifname = "em0", .hw = vttest::vrrp});
    bsd::put_arp_entry(incomplete, {.addr = inet_addr("198.51.100.8"), .ifname = "em0"});
    const auto u32 = [](const bsd::bytes& b, std::size_t i) { return bsd::load<std::uint32_t>(b.data() + i); };
    for (auto [b, size, addrs_at, addrs] : {std::tuple{&ifm, 96 + 56, 4, bsd::rta_ifp},
                                           {&ifa, 20 + 8 + 16 + 16, 4, bsd::rta_netmask | bsd::rta_ifa | bsd::rta_brd},
                                           {&bare, 20 + 16, 4, bsd::rta_ifa}, {&arp, 164, 12, bsd::rta_dst | bsd::rta_gateway},
                                           {&incomplete, 164, 12, bsd::rta_dst | bsd::rta_gateway}}) {
        EXPECT_EQ(b->size(), static_cast<std::size_t>(size));
        EXPECT_EQ(bsd::load<std::uint16_t>(b->data()), size);
        EXPECT_EQ(u32(*b, static_cast<std::size_t>(addrs_at)), static_cast<std::uint32_t>(addrs)) << size;
    }
    // sdl_len padded as the kernel does; the short netmask first, then the address and the
    // broadcast; sdl_alen of a resolved and of an incomplete entry.
    EXPECT_EQ(std::to_integer<int>(ifm[96]), 56);
    EXPECT_EQ(std::to_integer<int>(ifa[20]), 8);
    EXPECT_EQ(std::tuple(u32(ifa, 24), u32(ifa, 32), u32(ifa, 48)),
              std::tuple(inet_addr("255.255.255.0"), inet_addr("192.0.2.10"), inet_addr("192.0.2.255")));
    EXPECT_EQ(std::to_integer<int>(arp[114]) * 10 + std::to_integer<int>(incomplete[114]), 60);
}

TEST(RouteRead, MalformedMessagesAnswerTheHomeKernelsErrors)
{
    using edit = std::function<void(bsd::bytes&)>;
    const auto set_u8 = [](std::size_t at, int v) -> edit { return [=](bsd::bytes& m) { m[at] = std::byte(v); }; };
    const auto with_netmask = [](const char* mask, int flags) -> edit {
        return [=](bsd::bytes& m) {
            bsd::rt_msghdr h = bsd::load<bsd::rt_msghdr>(m.data());
            h.rtm_addrs |= bsd::rta_netmask;
            h.rtm_flags = flags;
            m.insert(m.end(), {std::byte{8}, std::byte{0}, std::byte{0}, std::byte{0}});
            bsd::append(m, inet_addr(mask));
            h.rtm_msglen = static_cast<std::uint16_t>(m.size());
            std::memcpy(m.data(), &h, sizeof h);
        };
    };
    const std::tuple<const char*, bool, edit, int, int> rows[] = {
        {"add as built", false, [](bsd::bytes&) {}, 0, 32},
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
        std::size_t len = build_route_msg(inet_addr("203.0.113.9"), del);
        const auto* at = reinterpret_cast<const std::byte*>(&m_rtmsg);
        bsd::bytes msg(at, at + len);
        change(msg);
        bsd::route_request got;
        EXPECT_EQ(bsd::read_route_request(msg, got), answer) << label;
        EXPECT_EQ(answer ? 0 : got.dst == inet_addr("203.0.113.9") ? got.prefixlen : -1, prefixlen) << label;
    }
}
