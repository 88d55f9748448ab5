// The kernel's interface list (NET_RT_IFLIST): one interface's link-level address and address
// messages, and the decoder of the socket addresses that follow a routing message.
#pragma once

#include "platform/bsd.hpp"
#include "platform/bytes.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cutil {

// The addresses that follow a routing message, by slot (RTAX_*).
struct rt_addrinfo {
    int rti_addrs = 0;
    const std::byte* rti_info[bsd::rtax_max]{};
};

// Fills the 8 slots from the socket addresses in [start, end) named by info.rti_addrs. An
// address that would run past `end` is left out, with every slot after it.
void rt_xaddrs(const std::byte* start, const std::byte* end, rt_addrinfo& info);

// The IPv4 address a socket address holds, in network byte order, read from no more bytes than
// its length says (a netmask often comes shorter than 16 bytes; missing bytes are zero).
std::uint32_t sockaddr_in_addr(const std::byte* sa);

// One interface as get_device_info found it. Everything points into `snapshot`, which owns the
// bytes; the address messages are consecutive from `first_addr`, each within the snapshot.
struct device_info {
    device_info() = default;
    device_info(device_info&&) = default; // the bytes move with their buffer; the pointers stay valid
    device_info& operator=(device_info&&) = default;
    device_info(const device_info&) = delete; // a copy would point into the original
    device_info& operator=(const device_info&) = delete;

    bsd::bytes snapshot;
    const std::byte* link = nullptr;       // the sockaddr_dl
    std::size_t link_room = 0;             // bytes from `link` to the end of its message
    const std::byte* first_addr = nullptr; // the first ifa_msghdr, or null
    int addr_count = 0;
};

// 1 when the interface of that name is in the list (`info` then holds it), 0 otherwise (and
// `info` holds nothing).
int get_device_info(std::string_view name, device_info& info);

// One address message of an interface, decoded, in network byte order; a part the message does
// not carry is none.
struct interface_address {
    std::optional<std::uint32_t> addr, netmask, broadcast;
};
// The address messages of the interface get_device_info found, in the kernel's order.
std::vector<interface_address> interface_addresses(const device_info& info);

// One interface of the list: its name and its flags (IFF_*).
struct interface_entry {
    std::string name;
    int flags = 0;
};
// Every interface of the list, in the kernel's order; false when the list cannot be read or a
// message in it does not fit (reported as get_device_info reports it).
bool get_interface_list(std::vector<interface_entry>& out);

// The length of the routing message at `at`: its first two bytes.
inline std::uint16_t msglen_at(const std::byte* at) { return bsd::load<std::uint16_t>(at); }

} // namespace cutil
