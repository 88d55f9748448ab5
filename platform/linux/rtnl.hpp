// rtnetlink dumps of links, IPv4 addresses and IPv4 neighbours, read through libmnl.
#pragma once

#include <linux/netlink.h>

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
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
    std::uint32_t flags = 0;   // IFA_F_*: IFA_F_SECONDARY for an address that goes with its primary
    std::string label;         // IFA_LABEL: the interface name, or name:label for an alias
};

struct neighbour {
    int index = 0;
    std::uint16_t state = 0;   // NUD_*
    std::uint8_t type = 0;     // RTN_* of the destination
    std::uint32_t dst = 0;     // network byte order
    std::vector<std::uint8_t> hw;
};

struct route {
    std::uint32_t dst = 0;     // network byte order
    std::uint8_t dst_len = 0;
    std::uint32_t gateway = 0; // network byte order; 0 for a direct route
    int oif = 0;
};

// The bytes that whole netlink messages take from the start of a datagram. libmnl's own test
// lets a length above INT_MAX pass and would then walk out of the datagram.
std::size_t whole_messages(std::span<const char> datagram);
// One datagram sent by the kernel itself into `buffer` (one that another process sent to the
// socket is passed over): its length, or -1 with errno set.
ssize_t receive_from_kernel(int fd, std::vector<char>& buffer);

// The messages of one datagram of a dump's answer, each handed to `each`: 0 with `done` telling
// whether the answer ended here, or an errno value (EAGAIN: the table changed under the dump).
int read_dump_datagram(std::span<const char> datagram, const std::function<void(const nlmsghdr*)>& each, bool& done);

// One message of an answer read into its entry, when it is one: a link of RTM_NEWLINK, an IPv4
// address of RTM_NEWADDR, an IPv4 neighbour of RTM_NEWNEIGH. A message too short for its family
// header is none.
std::optional<link> read_link(const nlmsghdr* nlh);
std::optional<address> read_address(const nlmsghdr* nlh);
std::optional<neighbour> read_neighbour(const nlmsghdr* nlh);
// An IPv4 unicast route of the main table, of RTM_NEWROUTE.
std::optional<route> read_route(const nlmsghdr* nlh);

// Each answers 0 or an errno value. A dump that the kernel reports as interrupted (the table
// changed under it) is taken again until one comes whole, for a bounded time.
int dump_links(std::vector<link>& out);
// Addresses of every interface, or (index != 0) of that interface only.
int dump_addresses(std::vector<address>& out, int index = 0);
int dump_neighbours(std::vector<neighbour>& out);
// The kernel's own messages, as it sent them: the IPv4 addresses of one interface, and the IPv4
// routes of every table. Sent back as requests they put the entry back as it was.
using message = std::vector<char>;
int dump_address_messages(std::vector<message>& out, int index);
int dump_route_messages(std::vector<message>& out);
// The IPv4 unicast routes of the main table.
int dump_routes(std::vector<route>& out);
// The entry for `dst` (network byte order) on each interface of `indexes`, in that order;
// interfaces without one contribute nothing.
int get_neighbours(std::uint32_t dst, std::span<const int> indexes, std::vector<neighbour>& out);

} // namespace cutil::platform::linux_rtnl
