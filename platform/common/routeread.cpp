#include "platform/routeread.hpp"

#include "platform/bytes.hpp"

#include <arpa/inet.h>

#include <algorithm>
#include <bit>
#include <cerrno>

namespace cutil::bsd {

int mask_prefix(std::uint32_t mask_net)
{
    std::uint32_t inverse = ~ntohl(mask_net);
    if ((inverse & (inverse + 1)) != 0)
        return -1; // the host part is not one run of low bits
    return std::popcount(ntohl(mask_net));
}

int classful_prefix(std::uint32_t addr_net)
{
    std::uint32_t a = ntohl(addr_net);
    return (a >> 31) == 0 ? 8 : (a >> 30) == 2 ? 16 : 24;
}

std::uint32_t inet_of(const sockaddr& sa)
{
    constexpr std::size_t at = offsetof(sockaddr_in, sin_addr);
    std::uint32_t addr = 0;
    if (sa.sa_len > at)
        std::memcpy(&addr, reinterpret_cast<const std::byte*>(&sa) + at, std::min<std::size_t>(sa.sa_len - at, sizeof addr));
    return addr;
}

// The socket addresses after the header, by slot, as route_output takes them apart.
static int address_slots(std::span<const std::byte> rest, int addrs, std::optional<sockaddr> (&slot)[rtax_max])
{
    for (int i = 0; i < rtax_max; ++i) {
        if ((addrs & (1 << i)) == 0)
            continue;
        if (rest.empty())
            return EINVAL;
        std::size_t room = sa_room(std::to_integer<std::uint8_t>(rest[0]));
        if (room > rest.size())
            return EINVAL;
        slot[i] = load_part<sockaddr>(rest.data(), std::to_integer<std::uint8_t>(rest[0]));
        rest = rest.subspan(room);
    }
    return 0;
}

int read_route_request(std::span<const std::byte> msg, route_request& out)
{
    if (msg.size() < sizeof(rt_msghdr) || load<std::uint16_t>(msg.data()) != msg.size())
        return EINVAL;
    auto rtm = load<rt_msghdr>(msg.data());
    if (rtm.rtm_version != rtm_version)
        return EPROTONOSUPPORT;
    std::optional<sockaddr> slot[rtax_max];
    if (int e = address_slots(msg.subspan(sizeof rtm), rtm.rtm_addrs, slot))
        return e;
    const auto& dst = slot[rtax_dst];
    const auto& gateway = slot[rtax_gateway];
    const auto& netmask = slot[rtax_netmask];
    if (!dst || dst->sa_family != af_inet)
        return EINVAL;
    if (rtm.rtm_type != rtm_add && rtm.rtm_type != rtm_delete)
        return EOPNOTSUPP;
    if (rtm.rtm_type == rtm_add && !gateway)
        return EINVAL;
    if (gateway && gateway->sa_family != af_inet)
        return EAFNOSUPPORT;
    out = {};
    out.type = rtm.rtm_type;
    out.flags = rtm.rtm_flags;
    out.seq = rtm.rtm_seq;
    out.dst = inet_of(*dst);
    if (gateway)
        out.gateway = inet_of(*gateway);
    // A host route ignores any netmask; a message without one is a host route as well.
    if (netmask && (rtm.rtm_flags & rtf_host) == 0) {
        int prefix = mask_prefix(inet_of(*netmask));
        if (prefix < 0)
            return EINVAL;
        out.prefixlen = static_cast<std::uint8_t>(prefix);
    }
    return 0;
}

} // namespace cutil::bsd
