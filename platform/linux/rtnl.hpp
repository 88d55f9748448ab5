// rtnetlink dumps of links, IPv4 addresses and IPv4 neighbours, read through libmnl.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace cutil::platform::linux_rtnl {

struct link {
    int index = 0;
    unsigned flags = 0;        // IFF_*
    unsigned short type = 0;   // ARPHRD_*
    std::uint32_t mtu = 0;
    std::string name;          // the host's name
    std::vector<std::uint8_t> hw;
};

struct address {
    int index = 0;
    std::uint8_t prefixlen = 0;
    std::uint32_t local = 0;   // network byte order
    std::uint32_t peer = 0;    // IFA_ADDRESS: the local address again, or a point-to-point far end
    bool has_local = false, has_peer = false, has_brd = false;
    std::uint32_t brd = 0;
    std::string label;         // IFA_LABEL: the interface name, or name:label for an alias
};

struct neighbour {
    int index = 0;
    std::uint16_t state = 0;   // NUD_*
    std::uint8_t type = 0;     // RTN_* of the destination
    std::uint32_t dst = 0;     // network byte order
    std::vector<std::uint8_t> hw;
};

// Each answers 0 or an errno value. A dump that the kernel reports as interrupted (the table
// changed under it) is taken again until one comes whole, for a bounded time.
int dump_links(std::vector<link>& out);
// Addresses of every interface, or (index != 0) of that interface only.
int dump_addresses(std::vector<address>& out, int index = 0);
int dump_neighbours(std::vector<neighbour>& out);
// The entry for `dst` (network byte order) on each interface of `indexes`, in that order;
// interfaces without one contribute nothing.
int get_neighbours(std::uint32_t dst, std::span<const int> indexes, std::vector<neighbour>& out);

} // namespace cutil::platform::linux_rtnl
