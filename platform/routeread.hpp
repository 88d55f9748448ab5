// Reading back what the library writes to the routing socket, as the home kernel reads it: the
// request a routing message carries, or the error number that kernel answers for it.
#pragma once

#include "platform/bsd.hpp"

#include <cstdint>
#include <optional>
#include <span>

namespace cutil::bsd {

struct route_request {
    std::uint8_t type = 0;                // rtm_add, rtm_delete
    int flags = 0;                        // RTF_*
    std::int32_t seq = 0;
    std::uint32_t dst = 0;                // network byte order
    std::uint8_t prefixlen = 32;          // 32 for a host route
    std::optional<std::uint32_t> gateway; // network byte order
};

// 0 with the request in `out`, or the errno for a malformed message: EINVAL (length, missing or
// non-IPv4 destination, an add without gateway, a non-contiguous netmask), EPROTONOSUPPORT
// (version), EOPNOTSUPP (a type other than add and delete), EAFNOSUPPORT (a non-IPv4 gateway).
int read_route_request(std::span<const std::byte> msg, route_request& out);

// The prefix length of a contiguous netmask (network byte order), or -1.
int mask_prefix(std::uint32_t mask_net);

// The prefix length the home kernel gives an address added without a netmask: its class's.
int classful_prefix(std::uint32_t addr_net);

// The IPv4 address of a socket address of the IPv4 family, read from no more bytes than its
// length says (a netmask may come shorter than 16 bytes; the rest reads as zero).
std::uint32_t inet_of(const sockaddr& sa);

} // namespace cutil::bsd
