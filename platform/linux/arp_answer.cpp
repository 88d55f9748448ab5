// Whether ARP answers on an interface for addresses held only by the loopback, and whether it
// names them as the sender of its own requests. The home kernel answers ARP only on the interface
// that holds the address and asks with an address of that interface; Linux answers for any local
// address on every interface unless arp_ignore (the larger of "all" and the interface's own) says
// not, and asks with the source of the packet that needs the answer unless arp_announce is 2.
#include "platform/linux/write.hpp"

#include <net/if.h>

#include <cerrno>
#include <fstream>
#include <string>

namespace cutil::platform::linux_write {

namespace {

// One value of a configuration directory of this network namespace, or -1.
int conf_value(const std::string& conf, const char* setting)
{
    std::ifstream in("/proc/sys/net/ipv4/conf/" + conf + "/" + setting);
    int value = -1;
    in >> value;
    return in ? value : -1;
}

// The level the kernel applies on the interface: the larger of "all" and its own.
int effective_level(std::string_view host_name, const char* setting, int& level)
{
    // An alias name (va:1) has no settings of its own: its interface's apply.
    std::string name(host_name.substr(0, host_name.find(':')));
    // Only a name the host has may become part of a path.
    if (name.empty() || name.find('/') != std::string::npos || ::if_nametoindex(name.c_str()) == 0)
        return ENXIO;
    int all = conf_value("all", setting);
    int own = conf_value(name, setting);
    if (all < 0 || own < 0)
        return EIO;
    level = all > own ? all : own;
    return 0;
}

} // namespace

int parked_answered_on(std::string_view host_name, bool& answered)
{
    int level = 0;
    if (int e = effective_level(host_name, "arp_ignore", level))
        return e;
    // 1 and 2: only addresses of the incoming interface; 8: no answers at all. 0 and 3 answer
    // for a global-scope address on the loopback, as do the reserved values.
    answered = level != 1 && level != 2 && level != 8;
    return 0;
}

int parked_announced_on(std::string_view host_name, bool& announced)
{
    int level = 0;
    if (int e = effective_level(host_name, "arp_announce", level))
        return e;
    // 0 takes any local address; 1 takes it too when it lies in a subnet of the interface, as a
    // taken-over address does; only 2 always takes an address of the interface itself.
    announced = level < 2;
    return 0;
}

} // namespace cutil::platform::linux_write
