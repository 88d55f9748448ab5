// The platform layer: FreeBSD structures and the kernel backends live beside this file.
#include "platform/backend.hpp"

#include <cerrno>

namespace cutil::platform {

static backend* current = nullptr;

int backend::arp_sysctl(std::uint32_t, void* buffer, std::size_t* size)
{
    const int mib[6]{bsd::ctl_net, bsd::pf_route, 0, bsd::af_inet, bsd::net_rt_flags, bsd::rtf_llinfo};
    return route_sysctl(mib, buffer, size);
}

int backend::host_route(std::uint32_t, std::uint32_t&, std::string&) { return EOPNOTSUPP; }

backend& active() { return current ? *current : native(); }

backend* set_active(backend* next)
{
    backend* previous = current;
    current = next;
    return previous;
}

} // namespace cutil::platform
