// Whether ARP answers on an interface for addresses held only by the loopback. The home kernel
// answers ARP only on the interface that holds the address; Linux answers for any local address
// on every interface unless arp_ignore (the larger of "all" and the interface's own) says not.
#include "platform/linux/write.hpp"

#include <net/if.h>

#include <cerrno>
#include <fstream>
#include <string>

namespace cutil::platform::linux_write {

namespace {

// The arp_ignore value of one configuration directory of this network namespace, or -1.
int arp_ignore_of(const std::string& conf)
{
    std::ifstream in("/proc/sys/net/ipv4/conf/" + conf + "/arp_ignore");
    int value = -1;
    in >> value;
    return in ? value : -1;
}

} // namespace

int parked_answered_on(std::string_view host_name, bool& answered)
{
    std::string name(host_name);
    // Only a name the host has may become part of a path.
    if (name.empty() || name.find('/') != std::string::npos || ::if_nametoindex(name.c_str()) == 0)
        return ENXIO;
    int all = arp_ignore_of("all");
    int own = arp_ignore_of(name);
    if (all < 0 || own < 0)
        return EIO;
    // 1 and 2: only addresses of the incoming interface; 8: no answers at all. 0 and 3 answer
    // for a global-scope address on the loopback, as do the reserved values.
    int level = all > own ? all : own;
    answered = level != 1 && level != 2 && level != 8;
    return 0;
}

} // namespace cutil::platform::linux_write
