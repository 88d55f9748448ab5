// The routing message the library writes to the routing socket, built in one process-wide
// buffer with a process-wide sequence, as the host routes of address takeover need them.
#pragma once

#include "platform/bsd.hpp"

#include <cstddef>
#include <cstdint>

namespace cutil {

struct rtmsg_buffer {
    bsd::rt_msghdr m_rtm;
    std::byte m_space[512]; // the socket addresses, each padded to 4 bytes
};
static_assert(sizeof(rtmsg_buffer) == 604);

// The buffer of the last message built, and the sequence number of the last message (0 at
// start; the first message carries 1).
extern rtmsg_buffer m_rtmsg;
extern std::int32_t route_seq;

// Builds into m_rtmsg, under the next sequence number, the message that adds a static host route
// to `dst` via 127.0.0.1 (124 bytes) or deletes the host route to it (108 bytes); answers its
// length. Addresses in network byte order.
std::size_t build_route_msg(std::uint32_t dst, bool del);

} // namespace cutil
