// Interface address configuration and host routes: adding and removing an interface address,
// host routes through the routing socket, interface flags, and the wait for an address that
// keeps answering after it was given away.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace cutil {

// Adds (remove 0) or removes (remove nonzero) the address on the interface. Texts may be null
// (none). 0 on success (an add of an address already there included), 1 when an argument was
// malformed or the kernel refused, -1 when no socket could be opened. `unused` has no effect.
int unix_ifconfig(std::string_view ifname, const char* addr, const char* netmask,
                  const char* broadcast, int unused, int remove);
// Adds (del 0) a static host route to the address via 127.0.0.1, or deletes (del nonzero) the
// host route to it. 0 on success, also when the route was already there or already gone; -1 on
// failure. `ifname` and `unused` have no effect.
int unix_route(std::string_view ifname, const char* addr, int unused, int del);

// The host route to an address as the kernel holds it.
struct host_route_entry {
    std::uint32_t gateway = 0; // network byte order; 0 for a direct route
    std::string ifname;        // the interface it leaves by, when the kernel names one
};
// 1 with the route when the kernel holds a host route to the address, 0 when it holds none, -1
// when the address is bad or the table cannot be read (reported).
int find_host_route(const char* addr, host_route_entry& out);
// The kernel-quirk predicate: false on this platform.
bool is_bad_kernel();
// The interface flags (a signed 16-bit value widened), or -1 when SIOCGIFFLAGS fails.
int get_flags(int sock, std::string_view ifname);
// ORs (set_flag) or clears (clr_flag) the bits: 0 on success, -1 when the flags cannot be read,
// 1 when they cannot be written.
int set_flag(int sock, std::string_view ifname, std::uint16_t bits);
int clr_flag(int sock, std::string_view ifname, std::uint16_t bits);
// Waits, while the kernel quirk is present, for an address given away to stop answering here.
void prevent_linger(const char* addr);

// True when this host answers ARP requests arriving on the interface for an address that sits
// only on lo0: an address parked there would then still be claimed by this host after another
// host took it over (Linux while arp_ignore is 0; never at home). False when it would not be
// answered, or the interface is unknown. Changes nothing.
bool parked_answered_on(std::string_view ifname);
// True when this host may name an address that sits only on lo0 as the sender of its own ARP
// requests on the interface, which claims the address for this host as well (Linux while
// arp_announce is below 2; never at home). False otherwise, or for an unknown interface.
bool parked_announced_on(std::string_view ifname);

} // namespace cutil
