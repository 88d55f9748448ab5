// FreeBSD 14's routing message layouts on i386 and amd64, where its headers are not at hand.
#pragma once

#include "platform/translate.hpp"

namespace vttest {

inline constexpr cutil::bsd::route_layout freebsd14_i386{
    .word = 4, .rt_msghdr = 92, .rtm_inits = 32, .rtm_rmx = 36, .rmx_field = 4,
    .if_msghdr = 168, .ifm_data = 16, .if_data = 152, .ifi_datalen = 6, .ifi_datalen_size = 2,
    .ifi_mtu = 8, .ifa_msghdr = 20};
inline constexpr cutil::bsd::route_layout freebsd14_amd64{
    .word = 8, .rt_msghdr = 152, .rtm_inits = 32, .rtm_rmx = 40, .rmx_field = 8,
    .if_msghdr = 168, .ifm_data = 16, .if_data = 152, .ifi_datalen = 6, .ifi_datalen_size = 2,
    .ifi_mtu = 8, .ifa_msghdr = 20};

} // namespace vttest
