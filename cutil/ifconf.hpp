// Interface discovery through the SIOCGIFCONF list and the interface ioctls: which
// broadcast interface carries an address, the loopback name, an interface's netmask.
#pragma once

#include "platform/bsd.hpp"
#include "platform/bytes.hpp"

#include <cstdint>
#include <string>
#include <string_view>

namespace cutil {

// The interface found and the address asked for by the last successful get_ethernet_interface,
// for the rest of the product; nothing here reads them.
inline constexpr std::size_t real_text_size = 30;
extern char real_ethernet_interface[real_text_size];
extern char real_ip_address[real_text_size];

// What SIOCGIFCONF filled: `len` bytes of ifreq entries at the start of `buf`.
struct ifconf_buffer {
    bsd::bytes buf;
    int len = 0;
};

// 1 when the entry is an up broadcast interface, neither loopback nor point-to-point nor an
// alias (name:number), whose address is `addr` (network byte order); 0 otherwise. The entry's
// address part is overwritten by the queries.
int is_desired_interface(int sock, bsd::ifreq& entry, std::uint32_t addr);
// 1 with the complete interface list in `ifc`, 0 on failure.
int do_siocgifconf(int sock, ifconf_buffer& ifc);
// The name of the first interface that passes is_desired_interface, held in a module buffer
// until the next call; null when there is none.
const char* find_interface(std::uint32_t addr);
// The interface that carries the address text, or "ERROR".
std::string get_ethernet_interface(std::string_view address);
// The product's loopback interface name.
std::string get_local_interface();
// The interface's IPv4 netmask as dotted text, or "ERROR".
std::string get_netmask(std::string_view ifname);

// The room one SIOCGIFCONF entry takes: the name, then its address, at least 16 bytes long.
std::size_t ifreq_entry_size(const std::byte* entry);

} // namespace cutil
