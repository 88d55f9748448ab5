// Routing messages read back as the home kernel reads them (what the Linux backend carries out):
// the errors it answers for malformed ones, and the prefix a netmask gives.
#include "cutil/rtmsg.hpp"
#include "platform/bytes.hpp"
#include "platform/routeread.hpp"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <functional>

using namespace cutil;

TEST(RouteRead, MalformedMessagesAnswerTheHomeKernelsErrors)
{
    using edit = std::function<void(bsd::bytes&)>;
    const auto set_u8 = [](std::size_t at, int v) { return [=](bsd::bytes& m) { m[at] = std::byte(v); }; };
    const auto with_netmask = [](const char* mask, int flags) {
        return [=](bsd::bytes& m) {
            bsd::rt_msghdr h = bsd::load<bsd::rt_msghdr>(m.data());
            h.rtm_addrs |= bsd::rta_netmask;
            h.rtm_flags = flags;
            std::uint32_t a = inet_addr(mask);
            bsd::bytes sa{std::byte{8}, std::byte{0}, std::byte{0}, std::byte{0}};
            bsd::append(sa, a);
            m.insert(m.end(), sa.begin(), sa.end());
            h.rtm_msglen = static_cast<std::uint16_t>(m.size());
            std::memcpy(m.data(), &h, sizeof h);
        };
    };
    struct row {
        const char* label;
        bool del;
        edit change;
        int answer;
        int prefixlen;
    } rows[] = {
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
    for (const row& r : rows) {
        std::size_t len = build_route_msg(inet_addr("203.0.113.9"), r.del);
        bsd::bytes msg(reinterpret_cast<const std::byte*>(&m_rtmsg), reinterpret_cast<const std::byte*>(&m_rtmsg) + len);
        r.change(msg);
        bsd::route_request got;
        EXPECT_EQ(bsd::read_route_request(msg, got), r.answer) << r.label;
        if (r.answer == 0) {
            EXPECT_EQ(got.dst, inet_addr("203.0.113.9")) << r.label;
            EXPECT_EQ(got.prefixlen, r.prefixlen) << r.label;
        }
    }
}
