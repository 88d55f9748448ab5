// Gratuitous ARP through the packet device: announces an address with this host's hardware
// address so that the segment's ARP caches follow a takeover at once.
#pragma once

#include "platform/bsd.hpp"
#include "platform/unique_fd.hpp"

#include <string_view>

namespace cutil {

// Broadcasts `count` announcements of the address on the interface (an alias suffix ":n" is
// cut off and the physical interface used).
void arpcast(std::string_view ifname, const char* addr, int count);
// The same, answering how many frames were written whole; -1 when none could be tried (a name
// or address refused, no packet device).
int arpcast_sent(std::string_view ifname, const char* addr, int count);
// A packet device bound to the interface, or none (every failure reported, errno telling why).
// Devices 0 to 15 are tried in order; the filter version is checked until it passed once.
unique_fd initdevice(std::string_view ifname);

// The packet-filter version the kernel answered, and whether it is still to be checked (set at
// start, cleared by the first check that passes).
extern bsd::bpf_version bv;
extern bool bpf_first_time;

} // namespace cutil
