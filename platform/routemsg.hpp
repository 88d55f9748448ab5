// Builders of the FreeBSD routing messages that make up the interface-list and ARP snapshots.
// Pure: they only append bytes, laid out as the FreeBSD kernel lays them out.
#pragma once

#include "platform/bsd.hpp"
#include "platform/bytes.hpp"

#include <cstdint>
#include <span>
#include <string_view>

namespace cutil::bsd {

// One socket address of the IPv4 family, `length` bytes (16, or 8 for a netmask as the kernel
// hands it out), padded to 4.
void put_sockaddr_in(bytes& out, std::uint32_t addr_net, std::uint8_t length = sizeof(sockaddr_in));

// A link-level address: name, not terminated, then the hardware address; padded as the kernel does.
void put_sockaddr_dl(bytes& out, std::uint16_t index, std::uint8_t type, std::string_view name,
                     std::span<const std::uint8_t> hw);

// The IPv4 address of an interface request (ifr_addr), as SIOCGIFADDR and SIOCGIFNETMASK answer it.
void put_ifreq_addr(ifreq& req, std::uint32_t addr_net);

struct link_facts {
    std::uint16_t index = 0;
    int flags = 0; // IFF_*
    std::uint8_t type = ift_ether;
    std::uint32_t mtu = 0;
    bool running = false;
    std::string_view name;
    std::span<const std::uint8_t> hw;
};
// rtm_ifinfo: if_msghdr with rta_ifp, followed by the sockaddr_dl.
void put_if_msg(bytes& out, const link_facts& link);

struct address_facts {
    std::uint16_t index = 0;
    std::uint32_t addr = 0;      // network byte order
    std::uint32_t netmask = 0;   // network byte order
    bool has_netmask = true;
    bool has_brd = false;
    std::uint32_t brd = 0;       // broadcast, or the far end of a point-to-point link
};
// rtm_newaddr: ifa_msghdr, then netmask (8 bytes), address, broadcast as present, in slot order.
void put_ifa_msg(bytes& out, const address_facts& address);

struct neighbour_facts {
    std::uint16_t index = 0;
    std::uint32_t addr = 0; // network byte order
    std::string_view ifname;
    std::span<const std::uint8_t> hw; // empty for an entry still being resolved
    bool permanent = false;
};
// rtm_get with rta_dst|rta_gateway: rt_msghdr, sockaddr_inarp at 92, sockaddr_dl at 108.
void put_arp_entry(bytes& out, const neighbour_facts& neighbour);

} // namespace cutil::bsd
