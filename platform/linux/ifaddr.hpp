// The interface address queries SIOCGIFADDR and SIOCGIFNETMASK, answered as the home kernel does.
#pragma once

#include "platform/bsd.hpp"

namespace cutil::platform::linux_ifaddr {

enum class part { address, netmask };

// Of the IPv4 addresses of the interface named in `req`, the one whose address the request holds
// (at ifr_addr's address bytes, whatever precedes them) when the interface carries it, else the
// interface's first; its address or netmask goes to ifr_addr. A name:label names only the
// addresses of that label. 0, ENXIO (no such interface), EADDRNOTAVAIL (no IPv4 address) or
// another errno value. `sock` is an AF_INET datagram socket.
int query(int sock, bsd::ifreq& req, part what);

} // namespace cutil::platform::linux_ifaddr
