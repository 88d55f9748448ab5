// The requests of the write half, built from any values and any argument texts: every routing
// message reads back as the request meant, every frame is the 42-byte announcement of the
// address given, and every alias request carries the address the text names. The same bytes as
// a routing message are refused with an errno or give a request that can be carried out.
#include "cutil/arpcast.hpp"
#include "cutil/arpframe.hpp"
#include "cutil/ifaddr.hpp"
#include "cutil/rtmsg.hpp"
#include "fuzz/check.hpp"
#include "platform/fake.hpp"
#include "platform/routeread.hpp"

#include <arpa/inet.h>
#include <fuzzer/FuzzedDataProvider.h>

#include <bit>
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

// A broadcast ARP request for IPv4 over Ethernet in which the host announces the address as its own.
void check_frame(const void* frame, const std::uint8_t (&hw)[6], std::uint32_t addr)
{
    std::uint8_t want[42] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0, 0, 0, 0, 0, 0, 0x08, 0x06, 0x00, 0x01, 0x08, 0x00, 0x06, 0x04, 0x00, 0x01};
    for (std::size_t at : {6, 22, 32})
        std::memcpy(want + at, hw, 6);
    std::memcpy(want + 28, &addr, 4), std::memcpy(want + 38, &addr, 4);
    require(std::memcmp(frame, want, sizeof want) == 0, "the 42-byte announcement of the address");
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
        require(w->data.size() == 42, "a 42-byte frame");
        check_frame(w->data.data(), none, ::inet_addr(addr.c_str()));
    }
}

void check_read_back(std::span<const std::byte> msg)
{
    bsd::route_request r;
    if (bsd::read_route_request(msg, r) == 0)
        require(((r.type == bsd::rtm_add && r.gateway) || r.type == bsd::rtm_delete) && r.prefixlen <= 32,
                "an add with its gateway or a delete, of at most 32 bits");
    if (msg.size() < 4)
        return;
    std::uint32_t mask;
    std::memcpy(&mask, msg.data(), 4);
    const int prefix = bsd::mask_prefix(mask);
    require(prefix == -1 || (prefix == std::popcount(mask) && (prefix == 0 || ntohl(mask) >> (32 - prefix) << (32 - prefix) == ntohl(mask))),
            "a prefix only for a contiguous mask");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static platform::fake_backend kernel;
    static platform::scoped_backend use{kernel};
    check_read_back({reinterpret_cast<const std::byte*>(data), size});
    FuzzedDataProvider in(data, size);
    check_route_message(in.ConsumeIntegral<std::uint32_t>(), in.ConsumeBool());
    std::uint8_t hw[6];
    for (auto& b : hw)
        b = in.ConsumeIntegral<std::uint8_t>();
    const std::uint32_t addr = in.ConsumeIntegral<std::uint32_t>();
    check_frame(build_arp_announcement(hw, addr).data(), hw, addr);
    check_library_requests(kernel, in);
    return 0;
}
