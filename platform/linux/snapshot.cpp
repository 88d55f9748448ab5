#include "platform/linux/snapshot.hpp"

#include "platform/ifname.hpp"
#include "platform/linux/rtnl.hpp"
#include "platform/routemsg.hpp"

#include <linux/neighbour.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <net/if_arp.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include <new>
#include <optional>
#include <string>
#include <utility>

namespace cutil::platform::linux_snapshot {

namespace {

constexpr std::uint8_t IFT_OTHER = 0x1;

// An entry ARP keeps: one being resolved or resolved, and one set to need no resolution for a
// unicast destination with its hardware address given. Entries the kernel makes without ARP
// (multicast, broadcast, local, devices without hardware addresses) are not in the ARP table.
bool is_arp_entry(const linux_rtnl::neighbour& n)
{
    if (n.state & NUD_NOARP)
        return n.type == RTN_UNICAST && !n.hw.empty();
    return true;
}

// NET_RT_IFLIST of AF_INET.
int iflist_snapshot(bsd::bytes& out)
{
    std::vector<linux_rtnl::link> links;
    std::vector<linux_rtnl::address> addresses;
    if (int e = linux_rtnl::dump_links(links))
        return e;
    if (int e = linux_rtnl::dump_addresses(addresses))
        return e;
    put_iflist(out, std::move(links), std::move(addresses));
    return 0;
}

// NET_RT_FLAGS/RTF_LLINFO of AF_INET: one RTM_GET message per IPv4 neighbour entry that ARP keeps.
int arp_snapshot(bsd::bytes& out)
{
    std::vector<linux_rtnl::link> links;
    std::vector<linux_rtnl::neighbour> neighbours;
    if (int e = linux_rtnl::dump_links(links))
        return e;
    if (int e = linux_rtnl::dump_neighbours(neighbours))
        return e;
    put_arp_entries(out, std::move(neighbours), links);
    return 0;
}

// The same messages for one address only: the entry of each interface asked for directly, so
// the cost follows the number of interfaces, not the size of the table.
int arp_snapshot_of(std::uint32_t addr, bsd::bytes& out)
{
    std::vector<linux_rtnl::link> links;
    std::vector<linux_rtnl::neighbour> neighbours;
    if (int e = linux_rtnl::dump_links(links))
        return e;
    std::vector<int> indexes;
    for (const auto& l : links)
        indexes.push_back(l.index);
    std::sort(indexes.begin(), indexes.end());
    int e = linux_rtnl::get_neighbours(addr, indexes, neighbours);
    if (e == EOPNOTSUPP) { // a kernel that answers no single entry: the whole table, kept to the address
        e = linux_rtnl::dump_neighbours(neighbours);
        std::erase_if(neighbours, [addr](auto& n) { return n.dst != addr; });
    }
    if (e != 0)
        return e;
    put_arp_entries(out, std::move(neighbours), links);
    return 0;
}

// Which table a query reads: NET_RT_IFLIST or NET_RT_FLAGS, the latter whole or for one address.
struct table_key {
    int what = 0;
    bool narrowed = false;
    std::uint32_t addr = 0;
    bool operator==(const table_key&) const = default;
};

struct kept_snapshot {
    table_key key;
    bsd::bytes bytes;
};

// What a size query read, kept for the fill that follows it in the same thread, so that both
// calls see one reading of the table (and the table is read once). The next query of any kind
// takes it out: a fill that does not directly follow its size query reads the table afresh, and
// nothing kept ever answers a later, unrelated lookup.
thread_local std::optional<kept_snapshot> kept;

int answer(const table_key& key, const std::function<int(bsd::bytes&)>& read, void* buffer, std::size_t* size)
{
    std::optional<kept_snapshot> last = std::exchange(kept, std::nullopt);
    bsd::bytes snapshot;
    if (buffer != nullptr && last && last->key == key)
        snapshot = std::move(last->bytes);
    else if (int e = read(snapshot))
        return e;
    if (buffer == nullptr) {
        *size = snapshot.size();
        kept = kept_snapshot{key, std::move(snapshot)};
        return 0;
    }
    if (*size < snapshot.size())
        return ENOMEM; // the table grew since its size was asked
    if (!snapshot.empty())
        std::memcpy(buffer, snapshot.data(), snapshot.size());
    *size = snapshot.size();
    return 0;
}

bool is_mib(std::span<const int> mib, int what, int flags)
{
    return mib.size() == 6 && mib[0] == bsd::ctl_net && mib[1] == bsd::pf_route && mib[2] == 0
           && mib[3] == bsd::af_inet && mib[4] == what && mib[5] == flags;
}

} // namespace

void put_iflist(bsd::bytes& out, std::vector<linux_rtnl::link> links, std::vector<linux_rtnl::address> addresses)
{
    std::sort(links.begin(), links.end(), [](auto& a, auto& b) { return a.index < b.index; });
    std::stable_sort(addresses.begin(), addresses.end(), [](auto& a, auto& b) { return a.index < b.index; });
    auto next = addresses.begin();
    for (const auto& l : links) {
        std::string name = product_ifname(l.name, host_loopback);
        bsd::link_facts facts;
        facts.index = static_cast<std::uint16_t>(l.index);
        facts.flags = static_cast<int>(l.flags & 0xffff);
        facts.type = l.type == ARPHRD_ETHER ? bsd::ift_ether : l.type == ARPHRD_LOOPBACK ? bsd::ift_loop : IFT_OTHER;
        facts.mtu = l.mtu;
        facts.running = (l.flags & IFF_RUNNING) != 0;
        facts.name = name;
        facts.hw = l.hw;
        bsd::put_if_msg(out, facts);
        while (next != addresses.end() && next->index < l.index)
            ++next;
        for (; next != addresses.end() && next->index == l.index; ++next) {
            bsd::address_facts a;
            a.index = facts.index;
            a.addr = next->has_local ? next->local : next->peer;
            a.netmask = prefix_to_mask(next->prefixlen);
            if (next->has_brd) {
                a.has_brd = true;
                a.brd = next->brd;
            } else if (next->has_local && next->has_peer && next->peer != next->local) {
                a.has_brd = true; // the far end of a point-to-point link takes the broadcast slot
                a.brd = next->peer;
            }
            bsd::put_ifa_msg(out, a);
        }
    }
}

void put_arp_entries(bsd::bytes& out, std::vector<linux_rtnl::neighbour> neighbours,
                     const std::vector<linux_rtnl::link>& links)
{
    std::map<int, std::string> names;
    for (const auto& l : links)
        names[l.index] = product_ifname(l.name, host_loopback);
    std::stable_sort(neighbours.begin(), neighbours.end(), [](auto& a, auto& b) { return a.index < b.index; });
    out.reserve(neighbours.size() * 164); // the usual entry: header, sockaddr_inarp, 56-byte sockaddr_dl
    for (const auto& n : neighbours) {
        if (!is_arp_entry(n))
            continue;
        bsd::neighbour_facts facts;
        facts.index = static_cast<std::uint16_t>(n.index);
        facts.addr = n.dst;
        facts.ifname = names[n.index];
        facts.hw = (n.state & (NUD_INCOMPLETE | NUD_FAILED)) ? std::span<const std::uint8_t>{} : n.hw;
        facts.permanent = (n.state & (NUD_PERMANENT | NUD_NOARP)) != 0;
        bsd::put_arp_entry(out, facts);
    }
}

int route_sysctl(std::span<const int> mib, void* buffer, std::size_t* size)
{
    try {
        if (is_mib(mib, bsd::net_rt_iflist, 0))
            return answer({bsd::net_rt_iflist}, iflist_snapshot, buffer, size);
        if (is_mib(mib, bsd::net_rt_flags, bsd::rtf_llinfo))
            return answer({bsd::net_rt_flags}, arp_snapshot, buffer, size);
        kept.reset();
        return EINVAL;
    } catch (const std::bad_alloc&) {
        return ENOMEM;
    }
}

int arp_sysctl(std::uint32_t addr, void* buffer, std::size_t* size)
{
    try {
        return answer({bsd::net_rt_flags, true, addr}, [addr](bsd::bytes& out) { return arp_snapshot_of(addr, out); },
                      buffer, size);
    } catch (const std::bad_alloc&) {
        return ENOMEM;
    }
}

} // namespace cutil::platform::linux_snapshot
