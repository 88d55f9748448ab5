#include "cutil/ifaddr.hpp"
#include "cutil/report.hpp"
#include "cutil/rtmsg.hpp"
#include "platform/backend.hpp"
#include "platform/unique_fd.hpp"

#include <sys/socket.h>
#include <netinet/in.h>
#include <arpa/inet.h>

#include <cerrno>
#include <cstring>
#include <span>

namespace cutil {

rtmsg_buffer m_rtmsg;
std::int32_t route_seq = 0;

namespace {

// Appends an IPv4 socket address at `at`, answers the position after it (padded to 4).
std::byte* put_inet(std::byte* at, std::uint32_t addr_net)
{
    bsd::sockaddr_in sin{};
    sin.sin_len = sizeof sin;
    sin.sin_family = bsd::af_inet;
    sin.sin_addr = addr_net;
    std::memcpy(at, &sin, sizeof sin);
    return at + bsd::sa_room(sin.sin_len);
}

} // namespace

std::size_t build_route_msg(std::uint32_t dst, bool del)
{
    std::memset(&m_rtmsg, 0, sizeof m_rtmsg);
    std::byte* end = put_inet(m_rtmsg.m_space, dst);
    if (!del)
        end = put_inet(end, htonl(INADDR_LOOPBACK));
    bsd::rt_msghdr& rtm = m_rtmsg.m_rtm;
    rtm.rtm_type = del ? bsd::rtm_delete : bsd::rtm_add;
    rtm.rtm_flags = del ? bsd::rtf_host : bsd::rtf_up | bsd::rtf_gateway | bsd::rtf_host | bsd::rtf_static;
    rtm.rtm_version = bsd::rtm_version;
    rtm.rtm_seq = ++route_seq;
    rtm.rtm_addrs = del ? bsd::rta_dst : bsd::rta_dst | bsd::rta_gateway;
    rtm.rtm_msglen = static_cast<std::uint16_t>(end - reinterpret_cast<std::byte*>(&m_rtmsg));
    return rtm.rtm_msglen;
}

int unix_route(std::string_view, const char* addr, int, int del)
{
    if (addr == nullptr) {
        report_error("unix_route was called with no IP address\n");
        return -1;
    }
    in_addr dst{};
    if (::inet_aton(addr, &dst) == 0) {
        report_error("unix_route was called with bad IP address\n");
        return -1;
    }
    std::size_t len = build_route_msg(dst.s_addr, del != 0);
    platform::backend& kernel = platform::active();
    unique_fd sock(kernel.open_route_socket());
    if (!sock) {
        report_error(compose_err("unix_route: Could not open socket: %s\n", std::strerror(errno)));
        return -1;
    }
    // A route already there, or already gone, is what was wanted.
    int e = kernel.route_write(sock.get(), std::span(reinterpret_cast<const std::byte*>(&m_rtmsg), len));
    if (e != 0 && e != EEXIST && e != ESRCH) {
        report_error(compose_err("unix_route failed to write to socket: %s\n", std::strerror(e)));
        return -1;
    }
    return 0;
}

int find_host_route(const char* addr, host_route_entry& out)
{
    in_addr dst{};
    if (addr == nullptr || ::inet_aton(addr, &dst) == 0) {
        report_error("find_host_route was called with bad IP address\n");
        return -1;
    }
    int e = platform::active().host_route(dst.s_addr, out.gateway, out.ifname);
    if (e == ESRCH)
        return 0;
    if (e != 0) {
        report_error(compose_err("find_host_route: cannot read the routing table: %s\n", std::strerror(e)));
        return -1;
    }
    return 1;
}

} // namespace cutil
