// This kernel's layout of the routing messages, taken from its own headers, and what the
// translator copies as it stands checked against the library's.
#pragma once

#include "platform/translate.hpp"

#include <sys/types.h>
#include <sys/socket.h>
#include <net/if.h>
#include <net/route.h>

#include <cstddef>

namespace cutil::platform {

// What the translator needs of this kernel's routing messages.
inline constexpr bsd::route_layout native_layout{
    .word = sizeof(long),
    .rt_msghdr = sizeof(::rt_msghdr),
    .rtm_inits = offsetof(::rt_msghdr, rtm_inits),
    .rtm_rmx = offsetof(::rt_msghdr, rtm_rmx),
    .rmx_field = sizeof(::rt_msghdr::rtm_inits),
    .if_msghdr = sizeof(::if_msghdr),
    .ifm_data = offsetof(::if_msghdr, ifm_data),
    .if_data = sizeof(::if_data),
    .ifi_datalen = offsetof(::if_data, ifi_datalen),
    .ifi_datalen_size = sizeof(::if_data::ifi_datalen),
    .ifi_mtu = offsetof(::if_data, ifi_mtu),
    .ifa_msghdr = sizeof(::ifa_msghdr),
};

// What the translator copies as it stands must sit where the library has it.
static_assert(offsetof(::rt_msghdr, rtm_flags) == offsetof(bsd::rt_msghdr, rtm_flags)
              && offsetof(::rt_msghdr, rtm_addrs) == offsetof(bsd::rt_msghdr, rtm_addrs)
              && offsetof(::rt_msghdr, rtm_seq) == offsetof(bsd::rt_msghdr, rtm_seq)
              && offsetof(::rt_msghdr, rtm_fmask) == offsetof(bsd::rt_msghdr, rtm_fmask)
              && offsetof(::rt_msghdr, rtm_inits) >= offsetof(bsd::rt_msghdr, rtm_inits)
              && sizeof(::rt_metrics::rmx_expire) == sizeof(::rt_msghdr::rtm_inits));
static_assert(offsetof(::if_msghdr, ifm_addrs) == offsetof(bsd::if_msghdr, ifm_addrs)
              && offsetof(::if_msghdr, ifm_flags) == offsetof(bsd::if_msghdr, ifm_flags)
              && offsetof(::if_msghdr, ifm_index) == offsetof(bsd::if_msghdr, ifm_index)
              && offsetof(::if_data, ifi_link_state) + 1 == bsd::if_data_common
              && sizeof(::if_data::ifi_mtu) == sizeof(bsd::if_data::ifi_mtu));
static_assert(offsetof(::ifa_msghdr, ifam_addrs) == offsetof(bsd::ifa_msghdr, ifam_addrs)
              && offsetof(::ifa_msghdr, ifam_index) == offsetof(bsd::ifa_msghdr, ifam_index)
              && offsetof(::ifa_msghdr, ifam_metric) == offsetof(bsd::ifa_msghdr, ifam_metric));

} // namespace cutil::platform
