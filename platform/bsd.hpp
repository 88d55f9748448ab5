// The FreeBSD (i386) structures and constants the library walks and builds, defined here with
// their exact layout so that they exist, byte for byte, on every build. Every size and offset
// the library relies on is checked below.
#pragma once

#include <cstddef>
#include <cstdint>

namespace cutil::bsd {

// Routing messages and socket addresses.
inline constexpr std::uint8_t rtm_version = 5;
inline constexpr std::uint8_t rtm_add = 1;
inline constexpr std::uint8_t rtm_delete = 2;
inline constexpr std::uint8_t rtm_get = 4;
inline constexpr std::uint8_t rtm_newaddr = 12;
inline constexpr std::uint8_t rtm_deladdr = 13;
inline constexpr std::uint8_t rtm_ifinfo = 14;

inline constexpr int rta_dst = 0x1;
inline constexpr int rta_gateway = 0x2;
inline constexpr int rta_netmask = 0x4;
inline constexpr int rta_genmask = 0x8;
inline constexpr int rta_ifp = 0x10;
inline constexpr int rta_ifa = 0x20;
inline constexpr int rta_author = 0x40;
inline constexpr int rta_brd = 0x80;

inline constexpr int rtax_dst = 0;
inline constexpr int rtax_gateway = 1;
inline constexpr int rtax_netmask = 2;
inline constexpr int rtax_genmask = 3;
inline constexpr int rtax_ifp = 4;
inline constexpr int rtax_ifa = 5;
inline constexpr int rtax_author = 6;
inline constexpr int rtax_brd = 7;
inline constexpr int rtax_max = 8;

inline constexpr int rtf_up = 0x1;
inline constexpr int rtf_gateway = 0x2;
inline constexpr int rtf_host = 0x4;
inline constexpr int rtf_llinfo = 0x400;
inline constexpr int rtf_static = 0x800;

inline constexpr int ctl_net = 4;
inline constexpr int pf_route = 17;
inline constexpr int af_route = 17;
inline constexpr int af_link = 18;
inline constexpr int af_inet = 2;
inline constexpr int net_rt_dump = 1;
inline constexpr int net_rt_flags = 2;
inline constexpr int net_rt_iflist = 3;

inline constexpr std::uint8_t ift_ether = 0x6;
inline constexpr std::uint8_t ift_loop = 0x18;

inline constexpr int iff_up = 0x1;
inline constexpr int iff_broadcast = 0x2;
inline constexpr int iff_loopback = 0x8;
inline constexpr int iff_pointopoint = 0x10;

inline constexpr std::size_t ifnamsiz = 16;

struct rt_metrics {
    std::uint32_t rmx_locks, rmx_mtu, rmx_hopcount, rmx_expire, rmx_recvpipe, rmx_sendpipe,
        rmx_ssthresh, rmx_rtt, rmx_rttvar, rmx_pksent, rmx_weight, rmx_filler[3];
};

struct rt_msghdr {
    std::uint16_t rtm_msglen;
    std::uint8_t rtm_version;
    std::uint8_t rtm_type;
    std::uint16_t rtm_index;
    std::uint16_t rtm_pad;
    std::int32_t rtm_flags;
    std::int32_t rtm_addrs;
    std::int32_t rtm_pid;
    std::int32_t rtm_seq;
    std::int32_t rtm_errno;
    std::int32_t rtm_fmask;
    std::uint32_t rtm_inits;
    rt_metrics rtm_rmx;
};

struct timeval32 {
    std::int32_t tv_sec, tv_usec;
};

struct if_data {
    std::uint8_t ifi_type, ifi_physical, ifi_addrlen, ifi_hdrlen, ifi_link_state, ifi_spare_char1,
        ifi_spare_char2, ifi_datalen;
    std::uint32_t ifi_mtu, ifi_metric, ifi_baudrate, ifi_ipackets, ifi_ierrors, ifi_opackets,
        ifi_oerrors, ifi_collisions, ifi_ibytes, ifi_obytes, ifi_imcasts, ifi_omcasts, ifi_iqdrops,
        ifi_noproto, ifi_hwassist;
    std::int32_t ifi_epoch32; // FreeBSD's <net/if.h> makes ifi_epoch and ifi_lastchange macros
    timeval32 ifi_lastchange32;
};

struct if_msghdr {
    std::uint16_t ifm_msglen;
    std::uint8_t ifm_version;
    std::uint8_t ifm_type;
    std::int32_t ifm_addrs;
    std::int32_t ifm_flags;
    std::uint16_t ifm_index;
    std::uint16_t ifm_pad;
    if_data ifm_data;
};

struct ifa_msghdr {
    std::uint16_t ifam_msglen;
    std::uint8_t ifam_version;
    std::uint8_t ifam_type;
    std::int32_t ifam_addrs;
    std::int32_t ifam_flags;
    std::uint16_t ifam_index;
    std::uint16_t ifam_pad;
    std::int32_t ifam_metric;
};

struct sockaddr {
    std::uint8_t sa_len;
    std::uint8_t sa_family;
    char sa_data[14];
};

struct sockaddr_in {
    std::uint8_t sin_len;
    std::uint8_t sin_family;
    std::uint16_t sin_port;
    std::uint32_t sin_addr; // network byte order
    char sin_zero[8];
};

struct sockaddr_inarp {
    std::uint8_t sin_len;
    std::uint8_t sin_family;
    std::uint16_t sin_port;
    std::uint32_t sin_addr; // network byte order
    std::uint32_t sin_srcaddr;
    std::uint16_t sin_tos;
    std::uint16_t sin_other;
};

struct sockaddr_dl {
    std::uint8_t sdl_len;
    std::uint8_t sdl_family;
    std::uint16_t sdl_index;
    std::uint8_t sdl_type;
    std::uint8_t sdl_nlen;
    std::uint8_t sdl_alen;
    std::uint8_t sdl_slen;
    char sdl_data[46];
};

struct ifreq {
    char name[ifnamsiz];
    union {
        sockaddr addr;
        std::int16_t flags[2]; // flags, flagshigh
    };
};

struct ifaliasreq {
    char ifra_name[ifnamsiz];
    sockaddr ifra_addr;
    sockaddr ifra_broadaddr;
    sockaddr ifra_mask;
};

struct bpf_version {
    std::uint16_t bv_major, bv_minor;
};

static_assert(sizeof(rt_metrics) == 56 && offsetof(rt_metrics, rmx_expire) == 12
              && offsetof(rt_metrics, rmx_filler) == 44);
static_assert(sizeof(rt_msghdr) == 92);
static_assert(offsetof(rt_msghdr, rtm_msglen) == 0 && offsetof(rt_msghdr, rtm_version) == 2
              && offsetof(rt_msghdr, rtm_type) == 3 && offsetof(rt_msghdr, rtm_index) == 4
              && offsetof(rt_msghdr, rtm_flags) == 8 && offsetof(rt_msghdr, rtm_addrs) == 12
              && offsetof(rt_msghdr, rtm_pid) == 16 && offsetof(rt_msghdr, rtm_seq) == 20
              && offsetof(rt_msghdr, rtm_errno) == 24 && offsetof(rt_msghdr, rtm_fmask) == 28
              && offsetof(rt_msghdr, rtm_inits) == 32 && offsetof(rt_msghdr, rtm_rmx) == 36);
static_assert(sizeof(if_data) == 80 && offsetof(if_data, ifi_addrlen) == 2
              && offsetof(if_data, ifi_link_state) == 4 && offsetof(if_data, ifi_mtu) == 8
              && offsetof(if_data, ifi_hwassist) == 64 && offsetof(if_data, ifi_epoch32) == 68
              && offsetof(if_data, ifi_lastchange32) == 72);
static_assert(sizeof(if_msghdr) == 96 && offsetof(if_msghdr, ifm_addrs) == 4
              && offsetof(if_msghdr, ifm_flags) == 8 && offsetof(if_msghdr, ifm_index) == 12
              && offsetof(if_msghdr, ifm_data) == 16);
static_assert(sizeof(ifa_msghdr) == 20 && offsetof(ifa_msghdr, ifam_addrs) == 4
              && offsetof(ifa_msghdr, ifam_flags) == 8 && offsetof(ifa_msghdr, ifam_index) == 12
              && offsetof(ifa_msghdr, ifam_metric) == 16);
static_assert(sizeof(sockaddr) == 16 && sizeof(sockaddr_in) == 16
              && offsetof(sockaddr_in, sin_addr) == 4 && offsetof(sockaddr_in, sin_zero) == 8);
static_assert(sizeof(sockaddr_inarp) == 16 && offsetof(sockaddr_inarp, sin_addr) == 4
              && offsetof(sockaddr_inarp, sin_srcaddr) == 8 && offsetof(sockaddr_inarp, sin_tos) == 12
              && offsetof(sockaddr_inarp, sin_other) == 14);
static_assert(sizeof(sockaddr_dl) == 54 && offsetof(sockaddr_dl, sdl_index) == 2
              && offsetof(sockaddr_dl, sdl_type) == 4 && offsetof(sockaddr_dl, sdl_nlen) == 5
              && offsetof(sockaddr_dl, sdl_alen) == 6 && offsetof(sockaddr_dl, sdl_slen) == 7
              && offsetof(sockaddr_dl, sdl_data) == 8);
static_assert(sizeof(ifreq) == 32 && offsetof(ifreq, addr) == 16);
static_assert(sizeof(ifaliasreq) == 64 && offsetof(ifaliasreq, ifra_addr) == 16
              && offsetof(ifaliasreq, ifra_broadaddr) == 32 && offsetof(ifaliasreq, ifra_mask) == 48);
static_assert(sizeof(bpf_version) == 4);

// Where an ARP entry's addresses sit: the destination right after the header, the link-level
// address 16 bytes further.
inline constexpr std::size_t arp_inarp_offset = sizeof(rt_msghdr);
inline constexpr std::size_t arp_dl_offset = arp_inarp_offset + sizeof(sockaddr_inarp);
static_assert(arp_inarp_offset == 92 && arp_dl_offset == 108);

// The length the kernel gives a sockaddr_dl: at least the structure, rounded up to 4.
constexpr std::size_t sdl_length(std::size_t nlen, std::size_t alen)
{
    std::size_t n = 8 + nlen + alen;
    if (n < sizeof(sockaddr_dl))
        n = sizeof(sockaddr_dl);
    return (n + 3) & ~std::size_t{3};
}
static_assert(sdl_length(4, 6) == 56);

// The room a socket address takes after a routing message header: its length rounded up to 4,
// or 4 when its length is 0.
constexpr std::size_t sa_room(std::uint8_t len) { return len == 0 ? 4 : (std::size_t{len} + 3) & ~std::size_t{3}; }

} // namespace cutil::bsd
