// The Linux backend: rtnetlink dumps presented as FreeBSD routing messages, the native SIOCGIF*
// ioctls presented as FreeBSD ifreq entries, and the host's "lo" presented as "lo0".
#include "platform/backend.hpp"
#include "platform/ifname.hpp"
#include "platform/linux/ifaddr.hpp"
#include "platform/linux/rtnl.hpp"
#include "platform/linux/snapshot.hpp"
#include "platform/linux/write.hpp"
#include "platform/routemsg.hpp"

#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <vector>

namespace cutil::platform {

namespace {

// The host's ifreq for a FreeBSD one: the name translated; refused when it does not fit.
std::optional<::ifreq> host_request(const bsd::ifreq& req)
{
    std::string name = host_ifname(std::string_view(req.name, strnlen(req.name, bsd::ifnamsiz)), linux_snapshot::host_loopback);
    ::ifreq host{};
    if (name.empty() || name.size() >= sizeof host.ifr_name)
        return std::nullopt;
    std::memcpy(host.ifr_name, name.data(), name.size());
    return host;
}

// The host's name for a FreeBSD name field; empty when it cannot name a host interface.
std::string host_name(const char (&field)[bsd::ifnamsiz])
{
    bsd::ifreq req{};
    std::memcpy(req.name, field, sizeof req.name);
    auto host = host_request(req);
    return host ? host->ifr_name : "";
}

void put_bsd_addr(bsd::ifreq& req, const ::sockaddr& addr)
{
    bsd::put_ifreq_addr(req, reinterpret_cast<const ::sockaddr_in&>(addr).sin_addr.s_addr);
}

class linux_backend final : public backend {
public:
    // sysctl NET_RT_IFLIST / NET_RT_FLAGS, whole or for one address: rtnetlink dumps and lookups.
    int route_sysctl(std::span<const int> mib, void* buffer, std::size_t* size) override
    {
        return linux_snapshot::route_sysctl(mib, buffer, size);
    }
    int arp_sysctl(std::uint32_t addr, void* buffer, std::size_t* size) override
    {
        return linux_snapshot::arp_sysctl(addr, buffer, size);
    }

    // SIOCGIFCONF: the host's entries (40 bytes on this platform) rewritten as 32-byte FreeBSD ones.
    int interface_conf(int sock, std::byte* buffer, int* length) override
    {
        try {
            return interface_conf_as_kernel(sock, buffer, length);
        } catch (const std::bad_alloc&) {
            return ENOMEM;
        }
    }

    // SIOCGIFFLAGS: the low flag bits are the same on both kernels.
    int interface_flags(int sock, bsd::ifreq& req) override
    {
        auto host = host_request(req);
        if (!host)
            return ENXIO;
        if (::ioctl(sock, SIOCGIFFLAGS, &*host) < 0)
            return errno;
        req.flags[0] = host->ifr_flags;
        req.flags[1] = 0;
        return 0;
    }

    // SIOCGIFADDR, SIOCGIFNETMASK: the address the request names when the interface has it, else its first.
    int interface_addr(int sock, bsd::ifreq& req) override { return linux_ifaddr::query(sock, req, linux_ifaddr::part::address); }
    int interface_netmask(int sock, bsd::ifreq& req) override { return linux_ifaddr::query(sock, req, linux_ifaddr::part::netmask); }

    // The raw ICMP socket: the same call on both kernels; replies arrive with their IPv4 header.
    int open_icmp_socket() override { return ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP); }

    // SIOCAIFADDR and SIOCDIFADDR: RTM_NEWADDR and RTM_DELADDR on the backend's netlink session.
    int interface_add_alias(int, const bsd::ifaliasreq& req) override
    {
        return linux_write::add_alias(session_, host_name(req.ifra_name), req);
    }
    int interface_delete_addr(int, const bsd::ifreq& req) override
    {
        return linux_write::delete_address(session_, host_name(req.name), req);
    }
    // SIOCSIFFLAGS: the low flag bits are the same on both kernels.
    int interface_set_flags(int sock, const bsd::ifreq& req) override
    {
        auto host = host_request(req);
        if (!host)
            return ENXIO;
        host->ifr_flags = req.flags[0];
        return ::ioctl(sock, SIOCSIFFLAGS, &*host) < 0 ? errno : 0;
    }
    // The routing socket: a netlink socket of its own, each message carried out and acknowledged.
    int open_route_socket() override { return ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE); }
    int route_write(int fd, std::span<const std::byte> msg) override { return linux_write::route_write(fd, msg); }
    // The packet device "/dev/bpfN": an AF_PACKET socket, whatever the number.
    int open_packet_device(int) override { return linux_write::open_packet_socket(); }
    int packet_version(int fd, bsd::bpf_version& version) override { return linux_write::packet_version(fd, version); }
    int packet_bind(int fd, const bsd::ifreq& req) override { return linux_write::packet_bind(fd, host_name(req.name)); }
    int packet_write(int fd, std::span<const std::byte> frame) override { return linux_write::packet_write(fd, frame); }
    int parked_answered_on(std::string_view ifname, bool& answered) override
    {
        std::string host = host_ifname(ifname, linux_snapshot::host_loopback);
        return linux_write::parked_answered_on(host, answered);
    }
    int parked_announced_on(std::string_view ifname, bool& announced) override
    {
        std::string host = host_ifname(ifname, linux_snapshot::host_loopback);
        return linux_write::parked_announced_on(host, announced);
    }
    // RTM_GET as a look through the main table for the /32 to dst, as `ip route show` lists it.
    int host_route(std::uint32_t dst, std::uint32_t& gateway, std::string& ifname) override
    {
        std::vector<linux_rtnl::route> routes;
        if (int e = linux_rtnl::dump_routes(routes))
            return e;
        for (const linux_rtnl::route& r : routes) {
            if (r.dst_len != 32 || r.dst != dst)
                continue;
            char name[IF_NAMESIZE]{};
            gateway = r.gateway;
            ifname = ::if_indextoname(static_cast<unsigned>(r.oif), name) ? product_ifname(name, linux_snapshot::host_loopback) : "";
            return 0;
        }
        return ESRCH;
    }

private:
    int interface_conf_as_kernel(int sock, std::byte* buffer, int* length)
    {
        std::size_t room = *length < 0 ? 0 : static_cast<std::size_t>(*length) / sizeof(bsd::ifreq);
        std::vector<::ifreq> host(room == 0 ? 1 : room);
        ::ifconf ifc{};
        ifc.ifc_len = static_cast<int>(room * sizeof(::ifreq));
        ifc.ifc_req = host.data();
        if (::ioctl(sock, SIOCGIFCONF, &ifc) < 0)
            return errno;
        std::size_t got = static_cast<std::size_t>(ifc.ifc_len) / sizeof(::ifreq);
        std::size_t used = 0;
        for (std::size_t i = 0; i < got && i < room; ++i) {
            std::string name = product_ifname(std::string_view(host[i].ifr_name, strnlen(host[i].ifr_name, IFNAMSIZ)), linux_snapshot::host_loopback);
            if (name.size() > bsd::ifnamsiz)
                continue; // a name the product cannot hold is left out, never cut
            bsd::ifreq req{};
            std::memcpy(req.name, name.data(), name.size());
            put_bsd_addr(req, host[i].ifr_addr);
            std::memcpy(buffer + used, &req, sizeof req);
            used += sizeof req;
        }
        *length = static_cast<int>(used);
        return 0;
    }

    linux_rtnl::netlink_session session_;
};

} // namespace

backend& native()
{
    static linux_backend instance;
    return instance;
}

} // namespace cutil::platform
