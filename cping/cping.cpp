#include "cping/cping.hpp"

#include "cutil/report.hpp"
#include "platform/unique_fd.hpp"
#include "platform/backend.hpp"

#include <sys/socket.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <string>

namespace cutil {

std::int32_t nsent;

std::byte sendbuf[1500];
std::byte recvbuf[1500];

namespace {

constexpr long window_us = 100000;

std::uint16_t own_ident() { return static_cast<std::uint16_t>(::getpid() & 0xffff); }
std::uint16_t current_seq() { return static_cast<std::uint16_t>(nsent & 0xffff); }

long elapsed_us(const timespec& since)
{
    timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return (now.tv_sec - since.tv_sec) * 1000000L + (now.tv_nsec - since.tv_nsec) / 1000;
}

} // namespace

void send_icmp_echo_request(int sock, std::byte* buf, const sockaddr* dest, socklen_t destlen, int seq)
{
    build_echo_request(buf, own_ident(), static_cast<std::uint16_t>(seq & 0xffff));
    (void)::sendto(sock, buf, echo_request_size, 0, dest, destlen);
}

int proc_icmp_echo_reply(const std::byte* buf, std::ptrdiff_t len, const timeval&)
{
    const std::size_t room = len > 0 ? static_cast<std::size_t>(len) : 1; // the header byte is always there
    echo_check check = check_echo_reply({buf, room}, len, own_ident(), current_seq());
    switch (check.verdict) {
    case echo_verdict::ignore:
        return 0;
    case echo_verdict::runt:
        // Too short to carry an identifier and sequence: it cannot answer this probe.
        report_untimed(compose_err("proc_icmp_echo_reply: icmplen (%d) < %d", check.icmplen, 8));
        return 0;
    case echo_verdict::short_answer:
        report_untimed(compose_err("proc_icmp_echo_reply: icmplen (%d) < %d", check.icmplen, 16));
        return 1;
    case echo_verdict::answer:
        return 1;
    }
    return 0;
}

int unix_ping(std::string_view address)
{
    std::string text(address);
    sockaddr_in dest{};
    if (address.find('\0') != std::string_view::npos || ::inet_aton(text.c_str(), &dest.sin_addr) == 0) {
        report_untimed(compose_err("unix_ping was called with bad IP address\n"));
        return 1;
    }
    dest.sin_family = AF_INET;
    dest.sin_port = 0;
    sockaddr_in from = dest;

    unique_fd sock(platform::active().open_icmp_socket());
    if (!sock) {
        report_untimed(compose_err("unix_ping: unable to open raw socket \n"));
        return 1;
    }
    int rcvbuf = 60 * 1024;
    (void)::setsockopt(sock.get(), SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);

    // The counter only grows and wraps through its full width; only its low 16 bits go out.
    nsent = static_cast<std::int32_t>(static_cast<std::uint32_t>(nsent) + 1);
    for (int i = 0; i < 3; ++i)
        send_icmp_echo_request(sock.get(), sendbuf, reinterpret_cast<const sockaddr*>(&dest), sizeof dest, nsent);

    // The window is fixed from this moment; every pass waits only for what is left of it.
    timespec start;
    ::clock_gettime(CLOCK_MONOTONIC, &start);
    bool receive_failed = false;
    for (;;) {
        socklen_t fromlen = sizeof from;
        long left = window_us - elapsed_us(start);
        if (left <= 0)
            return 1; // the window is over, even for a socket that keeps reporting readable
        timespec timeout{0, left * 1000};
        // ppoll rather than select: safe for any descriptor number, and exact to the microsecond.
        pollfd pfd{sock.get(), POLLIN, 0};
        int ready = ::ppoll(&pfd, 1, &timeout, nullptr);
        if (ready == 0)
            return 1;
        if (ready < 0) {
            report_untimed("ping: main_loop: select error\n");
            return 1;
        }
        // A pending error makes the socket readable, as select would say; recvfrom then reports it.
        if ((pfd.revents & (POLLIN | POLLERR)) == 0)
            continue;
        ssize_t n = ::recvfrom(sock.get(), recvbuf, sizeof recvbuf, 0, reinterpret_cast<sockaddr*>(&from), &fromlen);
        if (n < 0) {
            // The window still bounds the wait; a failed receive neither ends it early nor, when the
            // socket keeps failing, floods the console: one line per probe.
            if (errno != EINTR && !receive_failed) {
                receive_failed = true;
                report_untimed("recv_from error\n");
            }
            continue;
        }
        if (from.sin_family != AF_INET || from.sin_addr.s_addr != dest.sin_addr.s_addr)
            continue;
        timeval received;
        ::gettimeofday(&received, nullptr);
        if (proc_icmp_echo_reply(recvbuf, n, received) == 1)
            return 0;
    }
}

} // namespace cutil
