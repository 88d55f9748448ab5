// The ICMP echo probe: does the host at an IPv4 address answer within a tenth of a second?
#pragma once

#include <sys/socket.h>
#include <sys/time.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "cping/echo.hpp"

namespace cutil {

// The probe counter: grows by one per probe; its low 16 bits are that probe's sequence number.
extern std::int32_t nsent;
// The request under construction (only its first 64 bytes are used) and the last datagram
// received, IPv4 header included; both keep their contents between probes.
extern std::byte sendbuf[1500];
extern std::byte recvbuf[1500];

// Fills the echo request in `buf` with sequence `seq` and sends its 64 bytes to `dest`.
void send_icmp_echo_request(int sock, std::byte* buf, const sockaddr* dest, socklen_t destlen, int seq);
// 1 when the datagram (IPv4 header included) ends the wait, 0 when it is to be ignored.
int proc_icmp_echo_reply(const std::byte* buf, std::ptrdiff_t len, const timeval& received);
// 0 when the host answered an echo request within 100 ms of sending, 1 otherwise.
int unix_ping(std::string_view address);

} // namespace cutil
