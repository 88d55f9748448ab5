// Gratuitous ARP through the packet device: announces an address with this host's hardware
// address so that the segment's ARP caches follow a takeover at once.
#pragma once

#include "platform/unique_fd.hpp"

#include <string_view>

namespace cutil {

// Broadcasts `count` announcements of the address on the interface (an alias suffix ":n" is
// cut off and the physical interface used).
void arpcast(std::string_view ifname, const char* addr, int count);
// A packet device bound to the interface, or none (every failure reported).
unique_fd initdevice(std::string_view ifname);

} // namespace cutil
