// The ICMP echo messages of the probe: built and checked as bytes, without system calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace cutil {

inline constexpr std::size_t echo_request_size = 64;
inline constexpr std::uint8_t icmp_echo_request = 8;
inline constexpr std::uint8_t icmp_echo_reply = 0;

// The Internet checksum (RFC 1071) over `length` bytes, words taken in memory order.
std::uint16_t in_cksum(const void* data, std::size_t length);

// Writes bytes 0-7 of a 64-byte echo request into `buf` (type 8, code 0, identifier and
// sequence in host byte order, checksum over all 64 bytes); bytes 8-63 are left as they are.
void build_echo_request(std::byte* buf, std::uint16_t ident, std::uint16_t seq);

// What one received datagram (IPv4 header included) means to the probe waiting for `ident`/`seq`.
enum class echo_verdict {
    ignore,        // not our reply: the wait goes on
    answer,        // our echo reply
    runt,          // too short to hold an ICMP echo header (icmplen < 8): cannot be our reply
    short_answer,  // our echo reply, with less than 8 payload bytes (icmplen < 16)
};
struct echo_check {
    echo_verdict verdict;
    int icmplen;
};
// `buffer` is what the datagram was received into; `received` is its length as recvfrom answered
// it. The header length always comes from the buffer's first byte, as the kernel would have put it.
echo_check check_echo_reply(std::span<const std::byte> buffer, std::ptrdiff_t received, std::uint16_t ident,
                            std::uint16_t seq);

} // namespace cutil
