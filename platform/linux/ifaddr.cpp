#include "platform/linux/ifaddr.hpp"

#include "platform/bytes.hpp"
#include "platform/ifname.hpp"
#include "platform/linux/rtnl.hpp"
#include "platform/linux/snapshot.hpp"
#include "platform/routemsg.hpp"

#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <string>

namespace cutil::platform::linux_ifaddr {

namespace {

// The address the request names, or the first: the host's own SIOCGIFADDR would match the
// address's label as well, so it never finds an address that an alias label carries, and
// without a label match it answers none at all.
const linux_rtnl::address* choose(const std::vector<linux_rtnl::address>& addresses, std::uint32_t named,
                                  const std::string* label)
{
    const linux_rtnl::address* first = nullptr;
    for (const auto& a : addresses) {
        if (label != nullptr && a.label != *label)
            continue;
        if ((a.has_local ? a.local : a.peer) == named)
            return &a;
        if (first == nullptr)
            first = &a;
    }
    return first;
}

// The host's own answer when it is the address asked for: given an IPv4 address, its
// SIOCGIFADDR and SIOCGIFNETMASK match the label and the address, and such a match is the
// address the home kernel answers too. One ioctl where the walk reads every address.
bool answered_by_host(int sock, const std::string& name, std::uint32_t named, part what, bsd::ifreq& req)
{
    ::ifreq host{};
    auto ask = [&](unsigned long request) {
        std::memcpy(host.ifr_name, name.data(), name.size());
        ::sockaddr_in sin{};
        sin.sin_family = AF_INET;
        sin.sin_addr.s_addr = named;
        std::memcpy(&host.ifr_addr, &sin, sizeof sin);
        return ::ioctl(sock, request, &host) == 0;
    };
    auto answer = [&] { return reinterpret_cast<const ::sockaddr_in&>(host.ifr_addr).sin_addr.s_addr; };
    if (named == 0 || !ask(SIOCGIFADDR) || answer() != named)
        return false;
    if (what == part::netmask && !ask(SIOCGIFNETMASK))
        return false;
    bsd::put_ifreq_addr(req, answer());
    return true;
}

int query_as_kernel(int sock, bsd::ifreq& req, part what)
{
    std::string name = host_ifname(std::string_view(req.name, strnlen(req.name, bsd::ifnamsiz)), linux_snapshot::host_loopback);
    ::ifreq host{};
    std::size_t colon = name.find(':');
    std::size_t device = std::min(colon, name.size());
    if (device == 0 || name.size() >= sizeof host.ifr_name)
        return ENXIO;
    std::uint32_t named = bsd::load<bsd::sockaddr_in>(reinterpret_cast<const std::byte*>(&req.addr)).sin_addr;
    if (answered_by_host(sock, name, named, what, req))
        return 0;
    std::memcpy(host.ifr_name, name.data(), device);
    if (::ioctl(sock, SIOCGIFINDEX, &host) < 0)
        return errno == ENODEV ? ENXIO : errno;
    std::vector<linux_rtnl::address> addresses;
    if (int e = linux_rtnl::dump_addresses(addresses, host.ifr_ifindex))
        return e == ENODEV ? ENXIO : e;
    const linux_rtnl::address* a = choose(addresses, named, colon == std::string::npos ? nullptr : &name);
    if (a == nullptr)
        return EADDRNOTAVAIL;
    bsd::put_ifreq_addr(req, what == part::address ? (a->has_local ? a->local : a->peer) : linux_snapshot::prefix_to_mask(a->prefixlen));
    return 0;
}

} // namespace

int query(int sock, bsd::ifreq& req, part what)
{
    try {
        return query_as_kernel(sock, req, what);
    } catch (const std::bad_alloc&) {
        return ENOMEM;
    }
}

} // namespace cutil::platform::linux_ifaddr
