// Interface-list snapshots as a kernel might hand them out, through the scripted kernel: the
// interface search, the walk of its address messages and the socket-address decoder stay inside
// the bytes, whatever the lengths, types and counts say.
#include "cutil/hwaddr.hpp"
#include "cutil/iflist.hpp"
#include "cutil/takeover.hpp"
#include "fuzz/check.hpp"
#include "platform/fake.hpp"

#include <vector>

using namespace cutil;
using vtfuzz::require;

namespace {

bool inside(const std::byte* p, std::size_t n, const std::byte* start, const std::byte* end)
{
    return p >= start && p <= end && n <= static_cast<std::size_t>(end - p);
}

// Decodes every slot as the library's callers do; each address lies whole inside [start, end).
void decode(const std::byte* start, const std::byte* end, int addrs)
{
    rt_addrinfo info;
    info.rti_addrs = addrs;
    rt_xaddrs(start, end, info);
    for (const std::byte* sa : info.rti_info) {
        if (sa == nullptr)
            continue;
        require(inside(sa, bsd::sa_room(std::to_integer<std::uint8_t>(*sa)), start, end), "an address inside its message");
        (void)sockaddr_in_addr(sa);
    }
}

void walk_device(std::string_view name)
{
    device_info info;
    if (get_device_info(name, info) == 0)
        return;
    const std::byte* start = info.snapshot.data();
    const std::byte* end = start + info.snapshot.size();
    require(inside(info.link, info.link_room, start, end), "the link-level address inside the snapshot");
    const std::byte* msg = info.first_addr;
    for (int i = 0; i < info.addr_count; ++i, msg += msglen_at(msg)) {
        require(inside(msg, sizeof(bsd::ifa_msghdr), start, end) && inside(msg, msglen_at(msg), start, end),
                "an address message inside the snapshot");
        decode(msg + sizeof(bsd::ifa_msghdr), msg + msglen_at(msg), bsd::load<bsd::ifa_msghdr>(msg).ifam_addrs);
    }
    std::uint8_t hw[6];
    require(get_hw_addr(name, hw) == 1, "the same snapshot gives the same interface");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static platform::fake_backend kernel;
    static platform::scoped_backend use{kernel};
    const auto* bytes = reinterpret_cast<const std::byte*>(data);
    kernel.iflist.assign(bytes, bytes + size);
    for (std::string_view name : {"em0", "lo0", "va"})
        walk_device(name);
    require(my_ether_addr("em0").size() == 17, "a hardware address text");
    (void)find_ip_device("em0", "192.0.2.1");
    (void)configured_ip("va", "192.0.2.100");

    // The decoder alone: the first byte is the address mask, the rest the addresses.
    if (size > 0) {
        std::vector<std::byte> addresses(bytes + 1, bytes + size);
        decode(addresses.data(), addresses.data() + addresses.size(), data[0]);
    }
    return 0;
}
