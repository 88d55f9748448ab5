// The requests of the write half, built from any values and any argument texts: every routing
// message reads back as the request meant, every frame is the 42-byte announcement of the
// address given, and every alias request carries the address the text names.
#include "cutil/arpcast.hpp"
#include "cutil/arpframe.hpp"
#include "cutil/ifaddr.hpp"
#include "cutil/rtmsg.hpp"
#include "fuzz/check.hpp"
#include "platform/fake.hpp"
#include "platform/routeread.hpp"

#include <arpa/inet.h>
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstring>

using namespace cutil;
using vtfuzz::require;
using call = platform::fake_backend::call;

namespace {

void check_route_message(std::uint32_t dst, bool del)
{
    const std::size_t len = build_route_msg(dst, del);
    require(len == (del ? 108u : 124u), "a delete of 108 bytes, an add of 124");
    bsd::route_request r;
    require(bsd::read_route_request({reinterpret_cast<const std::byte*>(&m_rtmsg), len}, r) == 0, "a readable message");
    require(r.dst == dst && r.seq == route_seq && r.type == (del ? bsd::rtm_delete : bsd::rtm_add), "the request meant");
    require(del ? !r.gateway : r.gateway == htonl(INADDR_LOOPBACK), "an add goes via 127.0.0.1");
}

void check_frame(const arp_frame& frame, const std::uint8_t (&hw)[6], std::uint32_t addr)
{
    const std::uint8_t fixed[] = {0x08, 0x06, 0x00, 0x01, 0x08, 0x00, 0x06, 0x04, 0x00, 0x01};
    const auto* f = reinterpret_cast<const std::uint8_t*>(frame.data());
    bool broadcast = std::all_of(f, f + 6, [](std::uint8_t b) { return b == 0xff; });
    require(broadcast && std::memcmp(f + 6, hw, 6) == 0 && std::memcmp(f + 12, fixed, sizeof fixed) == 0,
            "a broadcast ARP request for IPv4 over Ethernet from the host's address");
    require(std::memcmp(f + 22, hw, 6) == 0 && std::memcmp(f + 28, &addr, 4) == 0 && std::memcmp(f + 32, hw, 6) == 0
                && std::memcmp(f + 38, &addr, 4) == 0,
            "the sender announces the address as its own");
}

// The last request the scripted kernel saw, when it is of that kind.
const platform::fake_backend::write_entry* last(const platform::fake_backend& kernel, call what)
{
    return !kernel.writes.empty() && kernel.writes.back().what == what ? &kernel.writes.back() : nullptr;
}

void check_library_requests(platform::fake_backend& kernel, FuzzedDataProvider& in)
{
    const std::string name = in.ConsumeRandomLengthString(24);
    const std::string addr = in.ConsumeRandomLengthString(24);
    const std::string mask = in.ConsumeRandomLengthString(24);
    const bool remove = in.ConsumeBool();
    in_addr want{};
    const bool valid = ::inet_aton(addr.c_str(), &want) != 0;
    kernel.writes.clear();

    if (unix_ifconfig(name, addr.c_str(), mask.empty() ? nullptr : mask.c_str(), nullptr, 0, remove ? 1 : 0) == 0) {
        require(valid, "only a valid address is configured");
        const auto* w = last(kernel, remove ? call::delete_addr : call::add_alias);
        require(w != nullptr, "one request for the change");
        const bsd::sockaddr& sa = remove ? bsd::load<bsd::ifreq>(w->data.data()).addr
                                         : bsd::load<bsd::ifaliasreq>(w->data.data()).ifra_addr;
        require(bsd::inet_of(sa) == want.s_addr, "the request carries the address given");
    }
    if (unix_route(name, addr.c_str(), 0, remove ? 1 : 0) == 0) {
        const auto* w = last(kernel, call::route_write);
        bsd::route_request r;
        require(w != nullptr && bsd::read_route_request(w->data, r) == 0 && r.dst == want.s_addr,
                "the routing message names the address given");
    }
    kernel.writes.clear();
    arpcast(name, addr.c_str(), 1);
    if (const auto* w = last(kernel, call::packet_write)) {
        const std::uint8_t none[6]{}; // the scripted kernel lists no interface: no hardware address
        arp_frame frame;
        require(w->data.size() == frame.size(), "a 42-byte frame");
        std::memcpy(frame.data(), w->data.data(), frame.size());
        check_frame(frame, none, ::inet_addr(addr.c_str()));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static platform::fake_backend kernel;
    static platform::scoped_backend use{kernel};
    FuzzedDataProvider in(data, size);
    check_route_message(in.ConsumeIntegral<std::uint32_t>(), in.ConsumeBool());
    std::uint8_t hw[6];
    for (auto& b : hw)
        b = in.ConsumeIntegral<std::uint8_t>();
    const std::uint32_t addr = in.ConsumeIntegral<std::uint32_t>();
    check_frame(build_arp_announcement(hw, addr), hw, addr);
    check_library_requests(kernel, in);
    return 0;
}
