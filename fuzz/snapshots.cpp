// Any bytes as the interface list and ARP table, as a native FreeBSD 14 snapshot and as the
// rtnetlink dumps translated into them: walks stay inside.
#include "carp/carp.hpp"
#include "cutil/hwaddr.hpp"
#include "cutil/iflist.hpp"
#include "fuzz/check.hpp"
#include "platform/fake.hpp"
#include "platform/ifname.hpp"
#include "platform/linux/rtnl.hpp"
#include "platform/linux/snapshot.hpp"
#include "platform/translate.hpp"
#include "tests/support/layouts.hpp"

#include <arpa/inet.h>

#include <cstring>

using namespace cutil;
using namespace cutil::platform;
using vtfuzz::require;

namespace {

bool inside(const std::byte* p, std::size_t n, const std::byte* lo, const std::byte* hi) { return p >= lo && p <= hi && n <= std::size_t(hi - p); }

// The interface's messages, and each address in them, lie whole inside the snapshot.
void walk_device(std::string_view name)
{
    device_info info;
    if (get_device_info(name, info) == 0)
        return;
    const std::byte *start = info.snapshot.data(), *end = start + info.snapshot.size();
    require(inside(info.link, info.link_room, start, end), "the link-level address inside");
    const std::byte* msg = info.first_addr;
    for (int i = 0; i < info.addr_count; ++i, msg += msglen_at(msg)) {
        require(inside(msg, sizeof(bsd::ifa_msghdr), start, end) && inside(msg, msglen_at(msg), start, end),
                "an address message inside");
        rt_addrinfo ai{.rti_addrs = bsd::load<bsd::ifa_msghdr>(msg).ifam_addrs};
        rt_xaddrs(msg + sizeof(bsd::ifa_msghdr), msg + msglen_at(msg), ai);
        for (const std::byte* sa : ai.rti_info) {
            const std::size_t room = sa ? bsd::sa_room(std::to_integer<std::uint8_t>(*sa)) : 0;
            require(!sa || inside(sa, room, msg, msg + msglen_at(msg)), "an address inside its message");
        }
    }
    (void)interface_addresses(info); // reads each address no further than its length
    std::uint8_t hw[6];
    require(get_hw_addr(name, hw) == 1, "the same interface");
}

// Six bytes when the walk finds the address resolved, else "ERROR".
void look_up_arp(const fake_backend& kernel, const char* addr)
{
    const std::string hw = get_arp(addr);
    const bool found = ::inet_addr(addr) != INADDR_NONE && find_arp_entry(kernel.arp, ::inet_addr(addr));
    require(found ? hw.size() == 6 : hw == "ERROR", "the lookup answers what the walk finds");
}

// Messages end to end by their lengths, each at least `least` bytes.
void require_whole_messages(const bsd::bytes& table, std::size_t least)
{
    for (std::size_t at = 0, len = 0; at < table.size(); at += len) {
        require(table.size() - at >= 2, "whole messages");
        len = msglen_at(table.data() + at);
        require(len >= least && len <= table.size() - at, "whole messages");
    }
}

// The next datagram of the input: two bytes of length, then that many bytes (or what is left).
std::vector<char> next_datagram(std::string_view& in)
{
    std::uint16_t n = static_cast<std::uint16_t>(in.size());
    if (in.size() >= 2) {
        std::memcpy(&n, in.data(), 2);
        in.remove_prefix(2);
    }
    std::string_view d = in.substr(0, n);
    in.remove_prefix(d.size());
    return {d.begin(), d.end()};
}

// The entries of one datagram of a dump's answer; none of a dump that failed.
template <typename T> std::vector<T> read_answer(const std::vector<char>& datagram, std::optional<T> (*read)(const nlmsghdr*))
{
    std::vector<T> found;
    bool done = false;
    const auto keep = [&](const nlmsghdr* nlh) {
        if (std::optional<T> entry = read(nlh))
            found.push_back(std::move(*entry));
    };
    return linux_rtnl::read_dump_datagram(datagram, keep, done) == 0 ? found : std::vector<T>{};
}

// The input as the answers of the link, address and neighbour dumps, in that order.
void translate(fake_backend& kernel, std::string_view in)
{
    auto links = read_answer<linux_rtnl::link>(next_datagram(in), linux_rtnl::read_link);
    auto addresses = read_answer<linux_rtnl::address>(next_datagram(in), linux_rtnl::read_address);
    auto neighbours = read_answer<linux_rtnl::neighbour>({in.begin(), in.end()}, linux_rtnl::read_neighbour);
    kernel.iflist.clear();
    linux_snapshot::put_iflist(kernel.iflist, links, addresses);
    require_whole_messages(kernel.iflist, sizeof(bsd::ifa_msghdr));
    for (const auto& l : links) {
        std::string name = product_ifname(l.name, linux_snapshot::host_loopback);
        device_info info; // no name, or one cut to the field, is not the name asked for
        const bool whole = !name.empty() && name.size() <= sizeof(bsd::sockaddr_dl::sdl_data);
        require(!whole || get_device_info(name, info) == 1, "every interface is found by its name");
    }
    kernel.arp.clear();
    linux_snapshot::put_arp_entries(kernel.arp, neighbours, links);
    require_whole_messages(kernel.arp, sizeof(bsd::rt_msghdr) + sizeof(bsd::sockaddr_inarp));
    for (const auto& n : neighbours)
        look_up_arp(kernel, inet_ntoa(in_addr{n.dst}));
}

// The input as a native snapshot: fewer bytes, whole messages translated once for all.
void translate_native(fake_backend& kernel, std::span<const std::byte> in)
{
    for (const bsd::route_layout& layout : {vttest::freebsd14_i386, vttest::freebsd14_amd64}) {
        const bsd::bytes ours = bsd::translate_messages(in, layout, bsd::product_layout);
        require(ours.size() <= in.size(), "a native snapshot never grows");
        require_whole_messages(ours, 4);
        require(bsd::translate_messages(ours, bsd::product_layout, bsd::product_layout) == ours,
                "translated once for all");
        kernel.iflist = kernel.arp = ours;
        walk_device("em0");
        look_up_arp(kernel, "192.0.2.1");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static fake_backend kernel;
    static scoped_backend use{kernel};
    const auto* bytes = reinterpret_cast<const std::byte*>(data);
    kernel.iflist.assign(bytes, bytes + size);
    kernel.arp = kernel.iflist;
    for (std::string_view name : {"em0", "lo0", "va"})
        walk_device(name);
    require(my_ether_addr("em0").size() == 17, "a hardware address text");
    for (const char* addr : {"192.0.2.1", "192.0.2.2", "0.0.0.0"})
        look_up_arp(kernel, addr);
    translate_native(kernel, {bytes, size});
    translate(kernel, vtfuzz::text_of(data, size));
    return 0;
}
