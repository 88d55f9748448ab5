// The kernel's tables read through rtnetlink and handed out as the home kernel's sysctl answers.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include <arpa/inet.h>

namespace cutil::platform::linux_snapshot {

inline constexpr std::string_view host_loopback = "lo";

inline std::uint32_t prefix_to_mask(std::uint8_t prefixlen)
{
    return prefixlen == 0 ? 0 : htonl(~std::uint32_t{0} << (32 - std::min<unsigned>(prefixlen, 32)));
}

// sysctl NET_RT_IFLIST and NET_RT_FLAGS/RTF_LLINFO of AF_INET; 0 or an errno value.
int route_sysctl(std::span<const int> mib, void* buffer, std::size_t* size);
// NET_RT_FLAGS/RTF_LLINFO narrowed to the entries for one address (network byte order).
int arp_sysctl(std::uint32_t addr, void* buffer, std::size_t* size);

} // namespace cutil::platform::linux_snapshot
