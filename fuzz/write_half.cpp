// Requests built from any text carry the address named; any routing message is refused or read whole.
#include "cutil/arpcast.hpp"
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

void check_read_back(std::span<const std::byte> msg)
{
    bsd::route_request r;
    if (bsd::read_route_request(msg, r) == 0)
        require(((r.type == bsd::rtm_add && r.gateway) || r.type == bsd::rtm_delete) && r.prefixlen <= 32,
                "an add with its gateway or a delete, of at most 32 bits");
    std::uint32_t mask;
    if (msg.size() < sizeof mask)
        return;
    std::memcpy(&mask, msg.data(), sizeof mask);
    const int prefix = bsd::mask_prefix(mask);
    require(prefix == -1 || (prefix == std::popcount(mask) && prefix == std::countl_one(ntohl(mask))),
            "a prefix only for a contiguous mask");
}

void check_library_requests(platform::fake_backend& kernel, FuzzedDataProvider& in)
{
    // The last request the scripted kernel saw, when it is of that kind.
    const auto last = [&](call what) { return !kernel.writes.empty() && kernel.writes.back().what == what ? &kernel.writes.back() : nullptr; };
    const std::string name = in.ConsumeRandomLengthString(24), addr = in.ConsumeRandomLengthString(24), mask = in.ConsumeRandomLengthString(24);
    const bool remove = in.ConsumeBool();
    in_addr want{};
    const bool valid = ::inet_aton(addr.c_str(), &want) != 0;
    kernel.writes.clear();
    if (unix_ifconfig(name, addr.c_str(), mask.empty() ? nullptr : mask.c_str(), nullptr, 0, remove ? 1 : 0) == 0) {
        const auto* w = last(remove ? call::delete_addr : call::add_alias);
        require(valid && w != nullptr, "one request for the change of a valid address");
        const bsd::sockaddr& sa = remove ? bsd::load<bsd::ifreq>(w->data.data()).addr : bsd::load<bsd::ifaliasreq>(w->data.data()).ifra_addr;
        require(bsd::inet_of(sa) == want.s_addr, "the request carries the address given");
    }
    if (unix_route(name, addr.c_str(), 0, remove ? 1 : 0) == 0) {
        const auto* w = last(call::route_write);
        bsd::route_request r;
        require(w != nullptr && bsd::read_route_request(w->data, r) == 0 && r.dst == want.s_addr && r.seq == route_seq
                    && (remove ? !r.gateway : r.gateway == htonl(INADDR_LOOPBACK)),
                "the route of the address given, an add via 127.0.0.1");
    }
    kernel.writes.clear();
    arpcast(name, addr.c_str(), 1);
    if (const auto* w = last(call::packet_write)) {
        // The scripted kernel lists no interface: the host's hardware address is zeros.
        std::uint8_t frame[42] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0, 0, 0, 0, 0, 0, 0x08, 0x06, 0x00, 0x01, 0x08, 0x00, 0x06, 0x04, 0x00, 0x01};
        const std::uint32_t announced = ::inet_addr(addr.c_str());
        std::memcpy(frame + 28, &announced, 4);
        std::memcpy(frame + 38, &announced, 4);
        require(w->data.size() == sizeof frame && std::memcmp(w->data.data(), frame, sizeof frame) == 0, "the announcement of the address");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static platform::fake_backend kernel;
    static platform::scoped_backend use{kernel};
    check_read_back({reinterpret_cast<const std::byte*>(data), size});
    FuzzedDataProvider in(data, size);
    check_library_requests(kernel, in);
    return 0;
}
