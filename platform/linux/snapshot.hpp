// The kernel's tables read through rtnetlink and handed out as the home kernel's sysctl answers.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "platform/bytes.hpp"
#include "platform/linux/rtnl.hpp"

#include <arpa/inet.h>

#include <vector>

namespace cutil::platform::linux_snapshot {

inline constexpr std::string_view host_loopback = "lo";

inline std::uint32_t prefix_to_mask(std::uint8_t prefixlen)
{
    return prefixlen == 0 ? 0 : htonl(~std::uint32_t{0} << (32 - std::min<unsigned>(prefixlen, 32)));
}

// The kernel's links and IPv4 addresses as NET_RT_IFLIST lays them out: per interface, in index
// order, RTM_IFINFO with its sockaddr_dl, then RTM_NEWADDR per address.
void put_iflist(bsd::bytes& out, std::vector<linux_rtnl::link> links, std::vector<linux_rtnl::address> addresses);
// The entries ARP keeps among `neighbours` as NET_RT_FLAGS/RTF_LLINFO lays them out: one RTM_GET
// message each, interfaces in index order and, within one, in the kernel's order.
void put_arp_entries(bsd::bytes& out, std::vector<linux_rtnl::neighbour> neighbours,
                     const std::vector<linux_rtnl::link>& links);

// sysctl NET_RT_IFLIST and NET_RT_FLAGS/RTF_LLINFO of AF_INET; 0 or an errno value.
int route_sysctl(std::span<const int> mib, void* buffer, std::size_t* size);
// NET_RT_FLAGS/RTF_LLINFO narrowed to the entries for one address (network byte order).
int arp_sysctl(std::uint32_t addr, void* buffer, std::size_t* size);

} // namespace cutil::platform::linux_snapshot
