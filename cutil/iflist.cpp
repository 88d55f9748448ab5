#include "cutil/iflist.hpp"

#include "cutil/report.hpp"
#include "platform/backend.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <optional>

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

namespace {

// One interface message of the list and the address messages that follow it.
struct listed_interface {
    const std::byte* ifm = nullptr;
    const std::byte* link = nullptr; // the sockaddr_dl
    std::size_t link_room = 0;
    const std::byte* first_addr = nullptr;
    int addr_count = 0;

    // The name the sockaddr_dl holds; empty when its length runs past the message.
    std::string_view name() const
    {
        constexpr std::size_t data = offsetof(bsd::sockaddr_dl, sdl_data);
        std::size_t nlen = std::to_integer<std::size_t>(link[offsetof(bsd::sockaddr_dl, sdl_nlen)]);
        if (data + nlen > link_room)
            return {};
        return {reinterpret_cast<const char*>(link + data), nlen};
    }
};

enum class walk_end { stopped, listed, broken };

// Walks the list interface by interface until `stop` answers true for one.
template <class Stop> walk_end walk_iflist(const bsd::bytes& snapshot, Stop&& stop)
{
    const std::byte* buf = snapshot.data();
    const std::byte* lim = buf + snapshot.size();
    constexpr std::size_t ifm_least = sizeof(bsd::if_msghdr) + offsetof(bsd::sockaddr_dl, sdl_data);
    for (const std::byte* next = buf; next < lim;) {
        if (lim - next < 4)
            return walk_end::broken;
        int type = std::to_integer<int>(next[3]);
        if (type != bsd::rtm_ifinfo) {
            report_error(compose_err("get_device_info: out of sync parsing NET_RT_IFLIST. expected %d, got %d. "
                                     "msglen = %d. buf:%p, next:%p, lim:%p\n",
                                     bsd::rtm_ifinfo, type, msglen_at(next), static_cast<const void*>(buf),
                                     static_cast<const void*>(next), static_cast<const void*>(lim)));
            return walk_end::broken;
        }
        if (!message_fits(next, lim, ifm_least))
            return walk_end::broken;
        listed_interface found{next, next + sizeof(bsd::if_msghdr), msglen_at(next) - sizeof(bsd::if_msghdr)};
        next += msglen_at(next);
        while (next < lim && lim - next >= 4 && std::to_integer<int>(next[3]) == bsd::rtm_newaddr) {
            if (!message_fits(next, lim, sizeof(bsd::ifa_msghdr)))
                return walk_end::broken;
            if (found.first_addr == nullptr)
                found.first_addr = next;
            ++found.addr_count;
            next += msglen_at(next);
        }
        if (stop(found))
            return walk_end::stopped;
    }
    return walk_end::listed;
}

std::optional<std::uint32_t> address_in(const rt_addrinfo& info, int slot)
{
    if (info.rti_info[slot] == nullptr)
        return std::nullopt;
    return sockaddr_in_addr(info.rti_info[slot]);
}

} // namespace

int get_device_info(std::string_view name, device_info& info)
{
    info = device_info{};
    bsd::bytes snapshot;
    if (read_iflist(snapshot) == 0)
        return 0;
    listed_interface match;
    auto named = [&](const listed_interface& i) {
        if (name.empty() || i.name() != name)
            return false;
        match = i;
        return true;
    };
    if (walk_iflist(snapshot, named) != walk_end::stopped)
        return 0;
    // The pointers stay valid: moving the vector keeps its bytes where they are.
    info.snapshot = std::move(snapshot);
    info.link = match.link;
    info.link_room = match.link_room;
    info.first_addr = match.first_addr;
    info.addr_count = match.addr_count;
    return 1;
}

std::vector<interface_address> interface_addresses(const device_info& info)
{
    std::vector<interface_address> out;
    const std::byte* msg = info.first_addr;
    for (int i = 0; i < info.addr_count; ++i, msg += msglen_at(msg)) {
        rt_addrinfo ai;
        ai.rti_addrs = bsd::load<bsd::ifa_msghdr>(msg).ifam_addrs;
        rt_xaddrs(msg + sizeof(bsd::ifa_msghdr), msg + msglen_at(msg), ai);
        out.push_back({address_in(ai, bsd::rtax_ifa), address_in(ai, bsd::rtax_netmask), address_in(ai, bsd::rtax_brd)});
    }
    return out;
}

bool get_interface_list(std::vector<interface_entry>& out)
{
    out.clear();
    bsd::bytes snapshot;
    if (read_iflist(snapshot) == 0)
        return false;
    auto collect = [&](const listed_interface& i) {
        out.push_back({std::string(i.name()), bsd::load<bsd::if_msghdr>(i.ifm).ifm_flags});
        return false;
    };
    return walk_iflist(snapshot, collect) == walk_end::listed;
}

} // namespace cutil
