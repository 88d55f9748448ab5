// The Linux backend: rtnetlink dumps presented as FreeBSD routing messages, the native SIOCGIF*
// ioctls presented as FreeBSD ifreq entries, and the host's "lo" presented as "lo0".
#include "platform/backend.hpp"
#include "platform/ifname.hpp"
#include "platform/linux/rtnl.hpp"
#include "platform/linux/write.hpp"
#include "platform/routemsg.hpp"

#include <arpa/inet.h>
#include <linux/neighbour.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <new>
#include <optional>

namespace cutil::platform {

namespace {

constexpr std::string_view host_loopback = "lo";
constexpr std::uint8_t IFT_OTHER = 0x1;

std::uint32_t prefix_to_mask(std::uint8_t prefixlen)
{
    return prefixlen == 0 ? 0 : htonl(~std::uint32_t{0} << (32 - std::min<unsigned>(prefixlen, 32)));
}

// NET_RT_IFLIST of AF_INET: per interface RTM_IFINFO with its sockaddr_dl, then RTM_NEWADDR
// per IPv4 address, interfaces in index order.
int iflist_snapshot(bsd::bytes& out)
{
    std::vector<linux_rtnl::link> links;
    std::vector<linux_rtnl::address> addresses;
    if (int e = linux_rtnl::dump_links(links))
        return e;
    if (int e = linux_rtnl::dump_addresses(addresses))
        return e;
    std::sort(links.begin(), links.end(), [](auto& a, auto& b) { return a.index < b.index; });
    std::stable_sort(addresses.begin(), addresses.end(), [](auto& a, auto& b) { return a.index < b.index; });
    auto next = addresses.begin();
    for (const auto& l : links) {
        std::string name = product_ifname(l.name, host_loopback);
        bsd::link_facts facts;
        facts.index = static_cast<std::uint16_t>(l.index);
        facts.flags = static_cast<int>(l.flags & 0xffff);
        facts.type = l.type == ARPHRD_ETHER ? bsd::ift_ether : l.type == ARPHRD_LOOPBACK ? bsd::ift_loop : IFT_OTHER;
        facts.mtu = l.mtu;
        facts.running = (l.flags & IFF_RUNNING) != 0;
        facts.name = name;
        facts.hw = l.hw;
        bsd::put_if_msg(out, facts);
        while (next != addresses.end() && next->index < l.index)
            ++next;
        for (; next != addresses.end() && next->index == l.index; ++next) {
            bsd::address_facts a;
            a.index = facts.index;
            a.addr = next->has_local ? next->local : next->peer;
            a.netmask = prefix_to_mask(next->prefixlen);
            if (next->has_brd) {
                a.has_brd = true;
                a.brd = next->brd;
            } else if (next->has_local && next->has_peer && next->peer != next->local) {
                a.has_brd = true; // the far end of a point-to-point link takes the broadcast slot
                a.brd = next->peer;
            }
            bsd::put_ifa_msg(out, a);
        }
    }
    return 0;
}

// NET_RT_FLAGS/RTF_LLINFO of AF_INET: one RTM_GET message per IPv4 neighbour entry that ARP
// manages (entries without ARP, such as multicast ones, are not ARP entries).
int arp_snapshot(bsd::bytes& out)
{
    std::vector<linux_rtnl::link> links;
    std::vector<linux_rtnl::neighbour> neighbours;
    if (int e = linux_rtnl::dump_links(links))
        return e;
    if (int e = linux_rtnl::dump_neighbours(neighbours))
        return e;
    std::map<int, std::string> names;
    for (const auto& l : links)
        names[l.index] = product_ifname(l.name, host_loopback);
    out.reserve(neighbours.size() * 164);
    for (const auto& n : neighbours) {
        if (n.state & NUD_NOARP)
            continue;
        bsd::neighbour_facts facts;
        facts.index = static_cast<std::uint16_t>(n.index);
        facts.addr = n.dst;
        facts.ifname = names[n.index];
        facts.hw = (n.state & (NUD_INCOMPLETE | NUD_FAILED)) ? std::span<const std::uint8_t>{} : n.hw;
        facts.permanent = (n.state & NUD_PERMANENT) != 0;
        bsd::put_arp_entry(out, facts);
    }
    return 0;
}

bool is_mib(std::span<const int> mib, int what, int flags)
{
    return mib.size() == 6 && mib[0] == bsd::ctl_net && mib[1] == bsd::pf_route && mib[2] == 0
           && mib[3] == bsd::af_inet && mib[4] == what && mib[5] == flags;
}

// The host's ifreq for a FreeBSD one: the name translated; refused when it does not fit.
std::optional<::ifreq> host_request(const bsd::ifreq& req)
{
    std::string name = host_ifname(std::string_view(req.name, strnlen(req.name, bsd::ifnamsiz)), host_loopback);
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
    bsd::sockaddr_in sin{};
    sin.sin_len = sizeof sin;
    sin.sin_family = bsd::af_inet;
    std::memcpy(&sin.sin_addr, &reinterpret_cast<const ::sockaddr_in&>(addr).sin_addr, 4);
    std::memcpy(&req.addr, &sin, sizeof sin);
}

class linux_backend final : public backend {
public:
    // sysctl NET_RT_IFLIST / NET_RT_FLAGS: the size query takes the snapshot and keeps it for the
    // read that follows, so both see one table.
    int route_sysctl(std::span<const int> mib, void* buffer, std::size_t* size) override
    {
        try {
            return route_sysctl_as_kernel(mib, buffer, size);
        } catch (const std::bad_alloc&) {
            return ENOMEM;
        }
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

    // SIOCGIFADDR: the interface's first IPv4 address.
    int interface_addr(int sock, bsd::ifreq& req) override { return address_query(sock, SIOCGIFADDR, req); }
    // SIOCGIFNETMASK: the netmask of the interface's first IPv4 address.
    int interface_netmask(int sock, bsd::ifreq& req) override { return address_query(sock, SIOCGIFNETMASK, req); }

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
        std::string host = host_ifname(ifname, host_loopback);
        return linux_write::parked_answered_on(host, answered);
    }

private:
    int route_sysctl_as_kernel(std::span<const int> mib, void* buffer, std::size_t* size)
    {
        int what = is_mib(mib, bsd::net_rt_iflist, 0) ? bsd::net_rt_iflist
                 : is_mib(mib, bsd::net_rt_flags, bsd::rtf_llinfo) ? bsd::net_rt_flags : 0;
        if (what == 0)
            return EINVAL;
        if (buffer == nullptr || kept_what_ != what) {
            kept_.clear();
            kept_what_ = 0;
            int e = what == bsd::net_rt_iflist ? iflist_snapshot(kept_) : arp_snapshot(kept_);
            if (e != 0)
                return e;
            kept_what_ = what;
        }
        if (buffer == nullptr) {
            *size = kept_.size();
            return 0;
        }
        bsd::bytes snapshot = std::move(kept_);
        kept_.clear();
        kept_what_ = 0;
        if (*size < snapshot.size())
            return ENOMEM;
        if (!snapshot.empty())
            std::memcpy(buffer, snapshot.data(), snapshot.size());
        *size = snapshot.size();
        return 0;
    }

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
            std::string name = product_ifname(std::string_view(host[i].ifr_name, strnlen(host[i].ifr_name, IFNAMSIZ)), host_loopback);
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

    int address_query(int sock, unsigned long request, bsd::ifreq& req)
    {
        auto host = host_request(req);
        if (!host)
            return ENXIO;
        if (::ioctl(sock, request, &*host) < 0)
            return errno;
        put_bsd_addr(req, host->ifr_addr);
        return 0;
    }

    bsd::bytes kept_;
    int kept_what_ = 0;
    linux_rtnl::netlink_session session_;
};

} // namespace

backend& native()
{
    static linux_backend instance;
    return instance;
}

} // namespace cutil::platform
