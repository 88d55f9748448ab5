#include "cutil/iflist.hpp"

#include "cutil/report.hpp"
#include "platform/backend.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

namespace cutil {

void rt_xaddrs(const std::byte* start, const std::byte* end, rt_addrinfo& info)
{
    std::fill(std::begin(info.rti_info), std::end(info.rti_info), nullptr);
    const std::byte* p = start;
    for (int i = 0; i < bsd::rtax_max && p < end; ++i) {
        if ((info.rti_addrs & (1 << i)) == 0)
            continue;
        std::size_t room = bsd::sa_room(std::to_integer<std::uint8_t>(*p));
        if (room > static_cast<std::size_t>(end - p))
            break;
        info.rti_info[i] = p;
        p += room;
    }
}

std::uint32_t sockaddr_in_addr(const std::byte* sa)
{
    constexpr std::size_t at = offsetof(bsd::sockaddr_in, sin_addr);
    std::size_t len = std::to_integer<std::size_t>(sa[0]);
    std::uint32_t addr = 0;
    if (len > at)
        std::memcpy(&addr, sa + at, std::min(len - at, sizeof addr));
    return addr;
}

// Reads the interface list as the kernel hands it to sysctl NET_RT_IFLIST.
static int read_iflist(bsd::bytes& snapshot)
{
    const std::array<int, 6> mib{bsd::ctl_net, bsd::pf_route, 0, bsd::af_inet, bsd::net_rt_iflist, 0};
    platform::backend& kernel = platform::active();
    std::size_t needed = 0;
    if (kernel.route_sysctl(mib, nullptr, &needed) != 0) {
        report_error("get_device_info: failed to get iflist-sysctl-estimate\n");
        return 0;
    }
    try {
        snapshot.resize(needed == 0 ? 1 : needed);
    } catch (const std::bad_alloc&) {
        report_error("get_device_info: Failed to malloc\n");
        return 0;
    }
    if (kernel.route_sysctl(mib, snapshot.data(), &needed) != 0) {
        report_error("get_device_info: actual retrieval of interface table failed\n");
        return 0;
    }
    snapshot.resize(std::min(needed, snapshot.size()));
    return 1;
}

// A message fits when its length is at least `least` and does not run past the end; a zero or
// oversized length ends every walk.
static bool message_fits(const std::byte* at, const std::byte* lim, std::size_t least)
{
    if (lim - at < 4)
        return false;
    std::size_t len = msglen_at(at);
    return len >= least && len <= static_cast<std::size_t>(lim - at);
}

int get_device_info(std::string_view name, device_info& info)
{
    info = device_info{};
    bsd::bytes snapshot;
    if (read_iflist(snapshot) == 0)
        return 0;
    const std::byte* buf = snapshot.data();
    const std::byte* lim = buf + snapshot.size();
    constexpr std::size_t ifm_least = sizeof(bsd::if_msghdr) + offsetof(bsd::sockaddr_dl, sdl_data);
    for (const std::byte* next = buf; next < lim;) {
        if (lim - next < 4)
            return 0;
        int type = std::to_integer<int>(next[3]);
        if (type != bsd::rtm_ifinfo) {
            report_error(compose_err("get_device_info: out of sync parsing NET_RT_IFLIST. expected %d, got %d. "
                                     "msglen = %d. buf:%p, next:%p, lim:%p\n",
                                     bsd::rtm_ifinfo, type, msglen_at(next), static_cast<const void*>(buf),
                                     static_cast<const void*>(next), static_cast<const void*>(lim)));
            return 0;
        }
        if (!message_fits(next, lim, ifm_least))
            return 0;
        const std::byte* link = next + sizeof(bsd::if_msghdr);
        std::size_t link_room = msglen_at(next) - sizeof(bsd::if_msghdr);
        next += msglen_at(next);

        const std::byte* first_addr = nullptr;
        int count = 0;
        while (next < lim && lim - next >= 4 && std::to_integer<int>(next[3]) == bsd::rtm_newaddr) {
            if (!message_fits(next, lim, sizeof(bsd::ifa_msghdr)))
                return 0;
            if (first_addr == nullptr)
                first_addr = next;
            ++count;
            next += msglen_at(next);
        }

        std::size_t nlen = std::to_integer<std::size_t>(link[offsetof(bsd::sockaddr_dl, sdl_nlen)]);
        const std::byte* link_name = link + offsetof(bsd::sockaddr_dl, sdl_data);
        if (nlen == name.size() && offsetof(bsd::sockaddr_dl, sdl_data) + nlen <= link_room
            && std::memcmp(link_name, name.data(), nlen) == 0) {
            info.snapshot = std::move(snapshot);
            info.link = link;
            info.link_room = link_room;
            info.first_addr = first_addr;
            info.addr_count = count;
            return 1;
        }
    }
    return 0;
}

} // namespace cutil
