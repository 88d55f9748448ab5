// The packet device as an AF_PACKET socket: opened with protocol 0 so that it never receives,
// bound to one interface, and written whole frames that carry their own link-level header.
#include "platform/linux/kept_socket.hpp"
#include "platform/linux/write.hpp"

#include <fcntl.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <string>

namespace cutil::platform::linux_write {

namespace {

constexpr std::size_t ether_header_size = 14;
constexpr unsigned char hw_len = 6;

// The address the socket is bound to; sll_ifindex 0 when it is not bound.
int bound_address(int fd, sockaddr_ll& where)
{
    where = {};
    socklen_t len = sizeof where;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&where), &len) < 0)
        return errno;
    return where.sll_family == AF_PACKET ? 0 : ENOTTY; // not a packet device
}

} // namespace

// Opening "/dev/bpfN": the host has no numbered devices and none is ever busy. The kernel takes
// about 10 ms to release a packet socket (it waits for a network grace period), which would
// delay every announcement; so the process keeps its sockets: one unbound, of which every number
// answers a new descriptor, and one per interface, which binding puts in place of the caller's.
// The caller still owns and closes its descriptor.
int open_packet_socket()
{
    static linux_rtnl::kept_socket kept{AF_PACKET, SOCK_RAW, 0};
    int fd = kept.get();
    return fd < 0 ? -1 : ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
}

// BIOCVERSION: whole frames written as they stand, which is what filter version 1.1 offers.
int packet_version(int fd, bsd::bpf_version& version)
{
    sockaddr_ll where;
    if (int e = bound_address(fd, where))
        return e;
    version = {1, 1};
    return 0;
}

// BIOCSETIF: the descriptor becomes one of the interface's own socket, so that a device bound
// before stays bound where it was. An unknown interface answers ENXIO, as at home.
int packet_bind(int fd, std::string_view host_name)
{
    static std::map<unsigned, linux_rtnl::kept_socket> per_interface;
    sockaddr_ll where{};
    if (int e = bound_address(fd, where))
        return e;
    unsigned index = host_name.empty() ? 0 : ::if_nametoindex(std::string(host_name).c_str());
    if (index == 0)
        return ENXIO;
    int own = per_interface.try_emplace(index, AF_PACKET, SOCK_RAW, 0).first->second.get();
    if (own < 0)
        return errno;
    where = {};
    where.sll_family = AF_PACKET;
    where.sll_ifindex = static_cast<int>(index);
    // Bound each time: an index the host gave to a new interface leaves the old binding stale.
    if (::bind(own, reinterpret_cast<sockaddr*>(&where), sizeof where) < 0)
        return errno;
    return ::dup3(own, fd, O_CLOEXEC) < 0 ? errno : 0;
}

// write(2) on the bound device: the frame goes out as it stands on the bound interface, to the
// destination its own header names. A device not bound answers ENXIO, as at home.
int packet_write(int fd, std::span<const std::byte> frame)
{
    sockaddr_ll to;
    if (int e = bound_address(fd, to))
        return e;
    if (to.sll_ifindex == 0)
        return ENXIO;
    if (frame.size() < ether_header_size)
        return EINVAL;
    std::memcpy(&to.sll_protocol, frame.data() + 12, sizeof to.sll_protocol);
    to.sll_halen = hw_len;
    std::memcpy(to.sll_addr, frame.data(), hw_len);
    ssize_t sent = ::sendto(fd, frame.data(), frame.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    if (sent < 0)
        return errno;
    return static_cast<std::size_t>(sent) == frame.size() ? 0 : EIO;
}

} // namespace cutil::platform::linux_write
