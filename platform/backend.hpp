// The narrow kernel interface the library is written against. It speaks the FreeBSD structures
// of platform/bsd.hpp on every platform; each backend maps it onto its own kernel. Operations
// answer 0 or an errno value and never throw: the read half (snapshots, interface queries) and
// the write half (addresses, flags, routing messages, packet device) alike.
#pragma once

#include "platform/bsd.hpp"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace cutil::platform {

class backend {
public:
    virtual ~backend() = default;

    // sysctl(3) on the routing tree: NET_RT_IFLIST and NET_RT_FLAGS/RTF_LLINFO of AF_INET. With
    // no buffer, *size becomes the room needed; with one, it is filled and *size becomes the bytes
    // written (ENOMEM when it does not fit).
    virtual int route_sysctl(std::span<const int> mib, void* buffer, std::size_t* size) = 0;
    // NET_RT_FLAGS/RTF_LLINFO narrowed to one IPv4 address (network byte order): every entry the
    // table holds for it, in the table's order, perhaps among others; sized and filled as above.
    // By default the whole table.
    virtual int arp_sysctl(std::uint32_t addr, void* buffer, std::size_t* size);

    // SIOCGIFCONF: fills `buffer` (of `*length` bytes) with FreeBSD ifreq entries of the IPv4
    // addresses and sets *length to the bytes used. `sock` is an AF_INET datagram socket.
    virtual int interface_conf(int sock, std::byte* buffer, int* length) = 0;
    // SIOCGIFFLAGS, SIOCGIFADDR, SIOCGIFNETMASK on the entry named in req.ifr_name.
    virtual int interface_flags(int sock, bsd::ifreq& req) = 0;
    virtual int interface_addr(int sock, bsd::ifreq& req) = 0;
    virtual int interface_netmask(int sock, bsd::ifreq& req) = 0;

    // A raw ICMP socket (AF_INET, SOCK_RAW, IPPROTO_ICMP): the descriptor, or -1 with errno set.
    // The caller owns it from the moment it is answered.
    virtual int open_icmp_socket() = 0;

    // SIOCAIFADDR: adds req.ifra_addr, with the netmask and broadcast address where given (a part
    // not given is all zero), to the interface req.ifra_name. `sock` is an AF_INET datagram socket.
    virtual int interface_add_alias(int sock, const bsd::ifaliasreq& req) = 0;
    // SIOCDIFADDR: removes the address in req.addr from the interface req.name, whatever its mask.
    virtual int interface_delete_addr(int sock, const bsd::ifreq& req) = 0;
    // SIOCSIFFLAGS: the interface req.name takes the flags req.flags[0].
    virtual int interface_set_flags(int sock, const bsd::ifreq& req) = 0;

    // A routing socket (PF_ROUTE, SOCK_RAW, 0): the descriptor, or -1 with errno set. The caller
    // owns it from the moment it is answered.
    virtual int open_route_socket() = 0;
    // write(2) of one whole routing message (an rt_msghdr and its addresses, rtm_msglen bytes):
    // 0 when the kernel carried it out, else its errno (a short write answers EIO).
    virtual int route_write(int fd, std::span<const std::byte> msg) = 0;

    // The packet device numbered n (BPF's "/dev/bpfN", opened for writing only): the descriptor,
    // or -1 with errno set (EBUSY when another process holds it). The caller owns it.
    virtual int open_packet_device(int n) = 0;
    // BIOCVERSION.
    virtual int packet_version(int fd, bsd::bpf_version& version) = 0;
    // BIOCSETIF: binds the device to the interface req.name.
    virtual int packet_bind(int fd, const bsd::ifreq& req) = 0;
    // write(2) of one whole link-level frame on the bound device (a short write answers EIO).
    virtual int packet_write(int fd, std::span<const std::byte> frame) = 0;

    // Whether this host answers ARP requests arriving on `ifname` for an address that sits only
    // on the loopback interface (an address parked there would then be claimed from the new owner).
    virtual int parked_answered_on(std::string_view ifname, bool& answered) = 0;
    // Whether this host may name an address that sits only on the loopback interface as the
    // sender of its own ARP requests on `ifname` (which claims the address for this host too).
    virtual int parked_announced_on(std::string_view ifname, bool& announced) = 0;

    // RTM_GET of the host route to `dst` (network byte order): its gateway (network byte order,
    // 0 for a direct route) and interface; ESRCH when the table holds none. By default unread.
    virtual int host_route(std::uint32_t dst, std::uint32_t& gateway, std::string& ifname);
};

// The backend the library uses: the native one unless a test swapped in another.
backend& active();
// Makes `next` the active backend (nullptr: the native one) and answers the previous one.
backend* set_active(backend* next);
// The backend of the kernel this build runs on.
backend& native();

// Swaps a backend in for the life of a scope.
class scoped_backend {
public:
    explicit scoped_backend(backend& b) : previous_(set_active(&b)) {}
    ~scoped_backend() { set_active(previous_); }
    scoped_backend(const scoped_backend&) = delete;
    scoped_backend& operator=(const scoped_backend&) = delete;

private:
    backend* previous_;
};

} // namespace cutil::platform
