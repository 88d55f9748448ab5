// Routing messages of a kernel whose layout is not the product's, carried over to the product's
// layout (what the library walks) and back (what it writes). Pure: bytes in, bytes out.
#pragma once

#include "platform/bsd.hpp"
#include "platform/bytes.hpp"

#include <cstddef>
#include <span>

namespace cutil::bsd {

// Where a kernel puts what the product's structures hold. A FreeBSD build takes every figure
// from its own headers. The fields before rtm_inits, the if_msghdr fields before ifm_data and the
// first five bytes of if_data sit where the product has them on every FreeBSD.
struct route_layout {
    std::size_t word;             // socket addresses after a header are rounded to it: sizeof(long)
    std::size_t rt_msghdr;        // sizeof(struct rt_msghdr)
    std::size_t rtm_inits;        // offsetof(struct rt_msghdr, rtm_inits)
    std::size_t rtm_rmx;          // offsetof(struct rt_msghdr, rtm_rmx)
    std::size_t rmx_field;        // sizeof rtm_inits, and of each metric
    std::size_t if_msghdr;        // sizeof(struct if_msghdr)
    std::size_t ifm_data;         // offsetof(struct if_msghdr, ifm_data)
    std::size_t if_data;          // sizeof(struct if_data)
    std::size_t ifi_datalen;      // offsetof(struct if_data, ifi_datalen)
    std::size_t ifi_datalen_size; // sizeof ifi_datalen
    std::size_t ifi_mtu;          // offsetof(struct if_data, ifi_mtu), 4 bytes
    std::size_t ifa_msghdr;       // sizeof(struct ifa_msghdr)
    bool operator==(const route_layout&) const = default;
};

// The product's own layout, platform/bsd.hpp.
inline constexpr route_layout product_layout{
    .word = 4,
    .rt_msghdr = sizeof(rt_msghdr),
    .rtm_inits = offsetof(rt_msghdr, rtm_inits),
    .rtm_rmx = offsetof(rt_msghdr, rtm_rmx),
    .rmx_field = sizeof(rt_msghdr::rtm_inits),
    .if_msghdr = sizeof(if_msghdr),
    .ifm_data = offsetof(if_msghdr, ifm_data),
    .if_data = sizeof(if_data),
    .ifi_datalen = offsetof(if_data, ifi_datalen),
    .ifi_datalen_size = sizeof(if_data::ifi_datalen),
    .ifi_mtu = offsetof(if_data, ifi_mtu),
    .ifa_msghdr = sizeof(ifa_msghdr),
};

// The if_data bytes every layout shares: type, physical, addrlen, hdrlen, link_state.
inline constexpr std::size_t if_data_common = offsetof(if_data, ifi_link_state) + 1;

// The room a socket address of length `len` takes after a header when rounded to `word`.
constexpr std::size_t sa_room(std::uint8_t len, std::size_t word)
{
    return len == 0 ? word : (std::size_t{len} + word - 1) & ~(word - 1);
}

// Each whole message of `in`, laid out as `from`, laid out as `to`: the header fields the product
// holds, each socket address rounded anew, each length recomputed; counters and time stamps are
// not carried. A message of a kind the product does not read is copied as it stands. The walk
// ends at the first message that does not fit (a length of 0 or past the end, shorter than its
// header, addresses past its length): what came before it is answered.
bytes translate_messages(std::span<const std::byte> in, const route_layout& from,
                         const route_layout& to);

} // namespace cutil::bsd
